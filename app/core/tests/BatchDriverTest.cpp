#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "BatchDriver.h"
#include "MediaGraph.h"
#include "ProjectItem.h"

namespace {

struct FakeView : IBatchView {
    std::vector<std::string> status;
    std::vector<std::string> log;
    std::vector<bool> busy;
    std::vector<int> bar;
    std::vector<std::string> batchLines;
    int selected = -1;
    std::string folder = "/out";
    std::function<void()> onPump;

    void SelectRow(int row) override { selected = row; }
    int FirstSelectedRow() const override { return selected; }
    void SetRowStatus(int row, const std::string& text) override { status.at(row) = text; }
    void AddLogLine(const std::string& line) override { log.push_back(line); }
    void SetProgressPosition(int percent) override { bar.push_back(percent); }
    void SetBusy(bool value) override { busy.push_back(value); }
    void PumpMessages() override {
        if (onPump) onPump();
    }
    std::string OutputFolder() const override { return folder; }
    void SetBatchLine(const std::string& text) override { batchLines.push_back(text); }
};

// Plays a script per clip: the progress values it reports, then its result. A stop makes the
// running clip end with E_ABORT, as the engine does.
struct FakeConverter : IClipConverter {
    struct Script {
        std::vector<int> progress;
        HRESULT result = S_OK;
        bool throws = false;
        std::string reason;
    };
    CBatchDriver* driver = nullptr;
    std::map<std::string, Script> scripts;  // by clip name; default: complete
    std::vector<std::string> destinations;
    std::vector<AudioParams> audioSeen;
    std::function<void(ConversionSettings&)> rewrite;
    bool stopped = false;
    int stops = 0;
    std::int64_t* clock = nullptr;  // advanced by msPerProgress before each progress value
    std::int64_t msPerProgress = 0;

    ClipResult ConvertClip(const std::string& destination, CProjectItem& clip,
                           ConversionSettings& settings) override {
        destinations.push_back(destination);
        audioSeen.push_back(settings.audio);
        if (rewrite) rewrite(settings);
        const Script script =
            scripts.count(clip.GetName()) ? scripts[clip.GetName()] : Script{{0, 10000}};
        if (script.throws) throw std::runtime_error("engine fault");
        stopped = false;
        driver->OnEngineNotify(CMediaGraph::kGraphRunning, 1);
        for (int value : script.progress) {
            if (clock) *clock += msPerProgress;
            driver->OnEngineNotify(CMediaGraph::kProgress, value);
            if (stopped) return {E_ABORT, {}};
        }
        return {script.result, script.reason};
    }
    void StopEngine() override {
        stopped = true;
        ++stops;
    }
};

struct FakeDialog : IBatchSettings {
    ConversionSettings settings;
    bool confirm = true;
    std::function<void(ConversionSettings&)> user;  // what the user changes before confirming
    AudioParams seededAudio;
    OutputFormat seededFormat = Avi;

    ConversionSettings& Settings() override { return settings; }
    bool RunModal() override {
        seededAudio = settings.audio;
        seededFormat = settings.outputFormat;
        if (user) user(settings);
        return confirm;
    }
};

class BatchDriverTest : public ::testing::Test {
protected:
    void AddClips(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            auto clip = std::make_unique<CProjectItem>();
            clip->SetName(name);
            clip->SetAudioParams(AudioParams{22050, 16, 1, kFormatTagNone, -1});
            rows.push_back(clip.get());
            clips.push_back(std::move(clip));
            view.status.push_back("Complete");  // left over from an earlier batch
        }
    }
    HRESULT Run(FakeDialog& dialog) { return driver.Convert(rows, dialog); }

    FakeView view;
    FakeConverter converter;
    CBatchDriver driver{view, converter};
    std::vector<std::unique_ptr<CProjectItem>> clips;
    std::vector<CProjectItem*> rows;
    std::int64_t now = 0;  // the batch's clock, in ms

    void SetUp() override {
        converter.driver = &driver;
        converter.clock = &now;
        driver.SetClock([this] { return now; });
    }
};

}  // namespace

TEST_F(BatchDriverTest, StopDuringSecondClipLeavesLaterClipsIdle) {
    AddClips({"a.avi", "b.avi", "c.avi"});
    converter.scripts["b.avi"] = {{1000, 4250, 6000, 10000}};
    view.onPump = [&] {
        if (driver.CurrentClip() == rows[1] && rows[1]->GetProgress() == 42) {
            view.onPump = nullptr;
            // Nothing may be re-enabled while the stopped clip is still returning.
            const std::size_t busyCalls = view.busy.size();
            driver.OnStop();
            EXPECT_EQ(view.busy.size(), busyCalls);
        }
    };
    FakeDialog dialog;
    EXPECT_EQ(Run(dialog), E_ABORT);

    EXPECT_EQ(view.status, (std::vector<std::string>{"Complete", "Stopped - 42%", "Idle"}));
    EXPECT_EQ(converter.destinations.size(), 2u);
    EXPECT_EQ(converter.stops, 1);
    ASSERT_GE(view.log.size(), 2u);
    EXPECT_EQ(view.log[view.log.size() - 2], " \xE2\x80\xA2 Conversion stopped...");
    EXPECT_EQ(view.log.back(),
              " \xE2\x80\xA2 Batch: 1 complete, 0 failed, 1 stopped, 1 not started \xC2\xB7 "
              "0:00:00 elapsed");
    for (const std::string& line : view.log) EXPECT_EQ(line.find("finished"), std::string::npos);
    EXPECT_EQ(view.busy, (std::vector<bool>{true, false}));
    EXPECT_EQ(view.bar.back(), 0);
}

// A failing clip gets "Error" and its reason in the log (the code's text when the engine gave
// none); the batch goes on, and only the last clip decides the finish line.
TEST_F(BatchDriverTest, FailuresAreLoggedWithTheirReasonAndTheLastClipDecidesTheFinishLine) {
    AddClips({"a.avi", "b.avi"});
    FakeDialog first;
    converter.scripts["b.avi"] = {{0, 3000}, E_FAIL};
    EXPECT_EQ(Run(first), E_FAIL);
    EXPECT_EQ(view.status, (std::vector<std::string>{"Complete", "Error"}));
    EXPECT_EQ(view.log[view.log.size() - 2], " \xE2\x80\xA2 Error: Unspecified error (0x80004005)");

    view.log.clear();
    converter.scripts.clear();
    converter.scripts["a.avi"] = {{0}, VFW_E_TYPE_NOT_ACCEPTED, false, "theoraenc does not fit"};
    FakeDialog second;
    EXPECT_EQ(Run(second), S_OK);
    EXPECT_EQ(view.status, (std::vector<std::string>{"Error", "Complete"}));
    EXPECT_EQ(
        view.log,
        (std::vector<std::string>{
            "Converting file: a.avi", " \xE2\x80\xA2 to: a_converted.avi",
            " \xE2\x80\xA2 Error: theoraenc does not fit", "Converting file: b.avi",
            " \xE2\x80\xA2 to: b_converted.avi", " \xE2\x80\xA2 Conversion finished succesful...",
            " \xE2\x80\xA2 Batch: 1 complete, 1 failed, 0 stopped \xC2\xB7 0:00:00 elapsed"}));
}

// The batch line: which clip of how many, and the time left once the speed measured so far
// rests on enough of the batch; here 1 s of the clock per progress value.
TEST_F(BatchDriverTest, BatchLineEstimatesTheTimeLeftFromTheSpeedSoFar) {
    AddClips({"a.avi", "b.avi"});
    rows[0]->SetMediaStop(10 * kRefTimePerSecond);
    rows[1]->SetMediaStop(20 * kRefTimePerSecond);
    driver.SetOutputReader(nullptr);
    converter.msPerProgress = 1000;
    converter.scripts["a.avi"] = {{2500, 5000, 7500, 10000}};
    converter.scripts["b.avi"] = {{5000}, E_FAIL};
    FakeDialog dialog;
    Run(dialog);
    const std::string dot = " \xC2\xB7 ";
    EXPECT_EQ(view.batchLines,
              (std::vector<std::string>{
                  "Clip 1 of 2", "Clip 1 of 2", "Clip 1 of 2",
                  // 7.5 s of media in 3 s: 22.5 s left at 2.5 times real time.
                  "Clip 1 of 2" + dot + "about 0:09 left",
                  // 10 s in 4 s; 20 s left.
                  "Clip 1 of 2" + dot + "about 0:08 left", "Clip 2 of 2" + dot + "about 0:08 left",
                  // 20 s in 5 s; 10 s left, rounded up.
                  "Clip 2 of 2" + dot + "about 0:03 left", ""}));
    EXPECT_EQ(view.log.back(),
              " \xE2\x80\xA2 Batch: 1 complete, 1 failed, 0 stopped" + dot + "0:00:05 elapsed");
}

TEST_F(BatchDriverTest, DestinationsFollowFolderAndOutputKind) {
    AddClips({"x.wav", "y.mp3"});
    FakeDialog mp3;
    mp3.user = [](ConversionSettings& s) {
        s.outputFormat = WavMp3;
        s.audio.formatTag = kFormatTagMp3;
        s.fileNameSuffix = "_128kbps-44kHz-Stereo";
    };
    view.folder = "/out";
    Run(mp3);
    view.folder = "/out/";
    FakeDialog pcm;
    pcm.user = [](ConversionSettings& s) {
        s.outputFormat = WavMp3;
        s.audio.formatTag = kFormatTagPcm;
        s.fileNameSuffix = "_1411kbps-44kHz-Stereo";
    };
    Run(pcm);
    FakeDialog mpeg;
    mpeg.user = [](ConversionSettings& s) { s.outputFormat = Mpeg; };
    Run(mpeg);
    EXPECT_EQ(converter.destinations,
              (std::vector<std::string>{
                  "/out/x_128kbps-44kHz-Stereo.mp3", "/out/y_128kbps-44kHz-Stereo.mp3",
                  "/out/x_1411kbps-44kHz-Stereo.wav", "/out/y_1411kbps-44kHz-Stereo.wav",
                  "/out/x_converted.mpg", "/out/y_converted.mpg"}));
}

TEST_F(BatchDriverTest, FolderIsReadWhenEachClipStarts) {
    AddClips({"a.avi", "b.avi"});
    converter.scripts["a.avi"] = {{5000, 10000}};
    view.onPump = [&] { view.folder = "/picked"; };
    FakeDialog dialog;
    Run(dialog);
    EXPECT_EQ(converter.destinations,
              (std::vector<std::string>{"/out/a_converted.avi", "/picked/b_converted.avi"}));
}

TEST_F(BatchDriverTest, AbandonedDialogChangesNothing) {
    AddClips({"a.avi"});
    FakeDialog abandoned;
    abandoned.confirm = false;
    abandoned.user = [](ConversionSettings& s) {
        s.outputFormat = WavMp3;
        s.audio.formatTag = kFormatTagMp3;
    };
    EXPECT_EQ(Run(abandoned), E_FAIL);
    EXPECT_EQ(view.status, (std::vector<std::string>{"Complete"}));
    EXPECT_TRUE(converter.destinations.empty());
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(view.busy, (std::vector<bool>{false}));
    EXPECT_EQ(view.bar, (std::vector<int>{0}));

    // The next dialog is seeded from the first clip again, not from the abandoned choice.
    FakeDialog next;
    next.confirm = false;
    Run(next);
    EXPECT_EQ(next.seededFormat, Avi);
    EXPECT_EQ(next.seededAudio, (AudioParams{22050, 16, 1, kFormatTagNone, -1}));
}

TEST_F(BatchDriverTest, NextBatchIsSeededFromTheConfirmedOne) {
    AddClips({"a.wav"});
    FakeDialog first;
    first.user = [](ConversionSettings& s) {
        s.outputFormat = WavMp3;
        s.audio.formatTag = kFormatTagMp3;
        s.audio.formatIndex = 3;
    };
    // The engine rewrites the audio fields it used; those are what is remembered.
    converter.rewrite = [](ConversionSettings& s) {
        s.audio.sampleRate = 48000;
        s.audio.mono = 0;
    };
    Run(first);
    EXPECT_EQ(first.seededAudio, (AudioParams{22050, 16, 1, kFormatTagNone, -1}));

    FakeDialog second;
    second.user = [](ConversionSettings& s) { s.audio.formatTag = kFormatTagNone; };
    Run(second);
    EXPECT_EQ(second.seededFormat, WavMp3);
    EXPECT_EQ(second.seededAudio, (AudioParams{48000, 16, 0, kFormatTagMp3, 3}));

    // Confirmed without a format tag: the third batch starts from the first clip again.
    converter.rewrite = nullptr;
    FakeDialog third;
    third.confirm = false;
    Run(third);
    EXPECT_EQ(third.seededFormat, Avi);
    EXPECT_EQ(third.seededAudio, (AudioParams{22050, 16, 1, kFormatTagNone, -1}));
}

TEST_F(BatchDriverTest, ExceptionEndsTheBatchAsFailed) {
    AddClips({"a.avi", "b.avi", "c.avi"});
    converter.scripts["b.avi"].throws = true;
    FakeDialog dialog;
    dialog.user = [](ConversionSettings& s) {
        s.outputFormat = Mpeg;
        s.audio.formatTag = kFormatTagPcm;
    };
    EXPECT_TRUE(FAILED(Run(dialog)));
    EXPECT_EQ(std::count(view.log.begin(), view.log.end(),
                         " \xE2\x80\xA2 Error: Exception during conversion!"),
              1);
    EXPECT_EQ(view.status, (std::vector<std::string>{"Complete", "Error", "Idle"}));
    for (const std::string& line : view.log) EXPECT_EQ(line.find("finished"), std::string::npos);
    EXPECT_EQ(driver.LastOutputFormat(), Mpeg);
    EXPECT_EQ(view.busy.back(), false);
}

TEST_F(BatchDriverTest, ProgressShowsOnTheSelectedRowAndRestartsAtZero) {
    AddClips({"a.avi"});
    std::vector<std::string> seen;
    view.onPump = [&] { seen.push_back(view.status[0]); };
    converter.scripts["a.avi"] = {{4250, 10050, 12000}};
    FakeDialog dialog;
    Run(dialog);
    EXPECT_EQ(seen, (std::vector<std::string>{"Conversion - 42%", "Conversion - 100%",
                                              "Conversion - 120%"}));
    EXPECT_EQ(view.bar, (std::vector<int>{0, 42, 100, 100, 0}));

    // A clip converted before shows 0 right after the start notification.
    std::string afterStart;
    converter.scripts["a.avi"] = {{5000}};
    view.onPump = nullptr;
    converter.rewrite = [&](ConversionSettings&) {
        driver.OnEngineNotify(CMediaGraph::kGraphRunning, 1);
        afterStart = view.status[0];
    };
    FakeDialog again;
    Run(again);
    EXPECT_EQ(afterStart, "Conversion - 0%");
    EXPECT_FALSE(driver.OnEngineNotify(CMediaGraph::kGraphStopped, 0));
}

TEST_F(BatchDriverTest, StopWhileIdleRestoresCommandsAndStopsTheLastEngine) {
    driver.OnStop();
    EXPECT_EQ(view.busy, (std::vector<bool>{false}));
    EXPECT_EQ(converter.stops, 1);
    EXPECT_EQ(view.log, (std::vector<std::string>{" \xE2\x80\xA2 Conversion stopped..."}));
}

TEST_F(BatchDriverTest, NeverConvertsAClipOntoItself) {
    // A name at the length limit loses the end of its base to the suffix, so the output name
    // can come out equal to the source's own name.
    const std::string longName = std::string(241, 'a') + "_converted.avi";
    AddClips({longName.c_str(), "b.avi"});
    rows[0]->SetPath("/out/sub/../" + longName);
    rows[1]->SetPath("/in/b.avi");
    FakeDialog dialog;
    EXPECT_EQ(Run(dialog), S_OK);
    EXPECT_EQ(converter.destinations, (std::vector<std::string>{"/out/b_converted.avi"}));
    EXPECT_EQ(view.status, (std::vector<std::string>{"Error", "Complete"}));
    EXPECT_EQ(view.log[2],
              " \xE2\x80\xA2 Error: the output would replace the source file: " + longName);
}

TEST_F(BatchDriverTest, NoOutputReplacesAnotherOutputOrSourceOfTheBatch) {
    // Same base names, one file added twice, and a clip that sits in the output folder under the
    // name another clip's output would take. A clip that fails writes nothing and keeps no name.
    AddClips({"music.flac", "music.ogg", "music.flac", "take.mov", "take.mp4", "other.avi",
              "other_converted.avi"});
    const char* paths[] = {
        "/in/music.flac", "/in/music.ogg", "/in/music.flac",          "/in/take.mov",
        "/in/take.mp4",   "/in/other.avi", "/out/other_converted.avi"};
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i]->SetPath(paths[i]);
    converter.scripts["take.mov"] = {{0}, E_FAIL, false, "broken"};
    FakeDialog dialog;
    Run(dialog);
    EXPECT_EQ(converter.destinations,
              (std::vector<std::string>{"/out/music_converted.avi", "/out/music_converted (2).avi",
                                        "/out/music_converted (3).avi", "/out/take_converted.avi",
                                        "/out/take_converted.avi", "/out/other_converted (2).avi",
                                        "/out/other_converted_converted.avi"}));
    EXPECT_NE(
        std::find(view.log.begin(), view.log.end(), " \xE2\x80\xA2 to: music_converted (2).avi"),
        view.log.end());
}
