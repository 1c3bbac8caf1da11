#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>

#include "ClipProbe.h"
#include "EngineTestSupport.h"
#include "GstIteration.h"

using namespace enginetest;
using testmedia::Kind;

namespace {

class ConversionRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitMediaFramework(), S_OK); }
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Clip(Kind kind, double seconds = 2.0) {
        return testmedia::MakeClip(kind, m_dir.path(), seconds);
    }
    QString Out(const char* name) const { return m_dir.filePath(name); }
    // The folder's files: no temporary file may survive a run.
    QStringList Files() const {
        QStringList files = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
        files.sort();
        return files;
    }
    // The code of the conversion; the whole result stays in m_last.
    HRESULT Convert(const QString& source, const QString& dest, ConversionSettings& settings) {
        CProjectItem clip = ClipFor(source);
        m_last = m_host.ConvertClip(dest.toStdString(), clip, settings);
        return m_last.code;
    }

    QTemporaryDir m_dir;
    FakeWindow m_window;
    CConversionHost m_host{m_window};
    ClipResult m_last;
};

TEST_F(ConversionRun, UncompressedAviCarriesRgbAndPcmInTheChosenFormat) {
    const QString source = Clip(Kind::AviMpeg4Mp3);
    ConversionSettings settings = SettingsFor(Avi, "176", "144", "29.97");
    settings.audioFormat = Pcm(22050, 1);
    const QString dest = Out("out.avi");
    ASSERT_EQ(Convert(source, dest, settings), S_OK) << m_last.reason;

    const auto p = testmedia::Probe(dest);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.formatName, "avi");
    EXPECT_EQ(p.videoCodec, "rawvideo");
    EXPECT_EQ(p.width, 176);
    EXPECT_EQ(p.height, 144);
    EXPECT_NEAR(p.frameRate, 30000.0 / 1001.0, 1e-6);
    EXPECT_EQ(p.audioCodec, "pcm_s16le");
    EXPECT_EQ(p.sampleRate, 22050);
    EXPECT_EQ(p.channels, 1);
    EXPECT_NEAR(p.duration, testmedia::Probe(source).duration, 1001.0 / 30000.0 + 0.005);
    EXPECT_TRUE(testmedia::DecodesCleanly(dest));
    QStringList expected{QFileInfo(source).fileName(), "out.avi"};
    expected.sort();
    EXPECT_EQ(Files(), expected);

    // Progress never goes back and ends at 10000, then the run-finished notification says 1.
    const auto progress = m_window.Values(CMediaGraph::kProgress);
    ASSERT_GE(progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 10000);
    EXPECT_EQ(m_window.Values(CMediaGraph::kGraphRunning), std::vector<std::intptr_t>{1});
    EXPECT_EQ(m_window.Values(CMediaGraph::kRunFinished), std::vector<std::intptr_t>{1});
    EXPECT_EQ(m_window.messageBase, CConversionEngine::kMessageBase);
    EXPECT_TRUE(m_last.reason.empty());
}

TEST_F(ConversionRun, EncodedAviAndTheSameEncodersServeTheNextClip) {
    ElementRef video = Make("avenc_mjpeg");
    ElementRef audio = Make("lamemp3enc");
    ASSERT_TRUE(video && audio);
    ConversionSettings settings = SettingsFor(Avi, "320", "240", "25");
    settings.videoEncoder = video;
    settings.audioEncoder = audio;
    settings.audioFormat = Layer3At128k();

    const QString first = Clip(Kind::AviMjpegPcm);
    ASSERT_EQ(Convert(first, Out("first.avi"), settings), S_OK) << m_last.reason;
    // The encoders went back to their owner: no pipeline holds them.
    EXPECT_EQ(GST_OBJECT_PARENT(video.get()), nullptr);
    EXPECT_EQ(GST_OBJECT_PARENT(audio.get()), nullptr);
    const QString second = Clip(Kind::Mpeg1System);
    ASSERT_EQ(Convert(second, Out("second.avi"), settings), S_OK) << m_last.reason;

    for (const QString& dest : {Out("first.avi"), Out("second.avi")}) {
        const auto p = testmedia::Probe(dest);
        EXPECT_EQ(p.videoCodec, "mjpeg") << dest.toStdString();
        EXPECT_EQ(p.width, 320);
        EXPECT_EQ(p.height, 240);
        EXPECT_NEAR(p.frameRate, 25.0, 1e-6);
        EXPECT_EQ(p.audioCodec, "mp3");
        EXPECT_EQ(p.sampleRate, 44100);
        EXPECT_EQ(p.channels, 2);
        EXPECT_NEAR(p.duration, 2.0, 0.1);
        EXPECT_TRUE(testmedia::DecodesCleanly(dest));
    }
}

// An encoder that takes planar YUV is fed it directly: HuffYUV then stores 4:2:2 YUV, as it
// would from any other tool, instead of RGB at a third more size.
TEST_F(ConversionRun, PlanarYuvEncoderGetsYuvFramesOfTheChosenSize) {
    ConversionSettings settings = SettingsFor(Avi, "320", "240", "25");
    settings.videoEncoder = Make("avenc_huffyuv");
    ASSERT_TRUE(settings.videoEncoder);
    const QString dest = Out("huffyuv.avi");
    ASSERT_EQ(Convert(Clip(Kind::AviMjpegPcm), dest, settings), S_OK) << m_last.reason;
    const auto p = testmedia::Probe(dest);
    EXPECT_EQ(p.videoCodec, "huffyuv");
    EXPECT_EQ(p.pixelFormat, "yuv422p");
    EXPECT_EQ(p.width, 320);
    EXPECT_EQ(p.height, 240);
    EXPECT_NEAR(p.frameRate, 25.0, 1e-6);
    EXPECT_NEAR(p.duration, 2.0, 0.1);
    EXPECT_TRUE(testmedia::DecodesCleanly(dest));
}

// A file whose data stops halfway through its stated length (a download cut short) converts
// what it has, in every output kind; the run must not wait for the missing half until the stall
// limit fails it.
// Seconds from the first time stamp to the end of the last packet of a file's streams, as
// ffprobe reads them: what the file really holds, whatever its header says.
double PacketSpan(const QString& path) {
    QString out;
    testmedia::RunProgram("ffprobe",
                          {"-v", "error", "-show_entries", "packet=pts_time,dts_time,duration_time",
                           "-of", "csv=p=0", path},
                          &out);
    double first = 1e9, end = 0;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split(',');
        if (f.size() < 3) continue;
        bool ok = false;
        double at = f[0].toDouble(&ok);
        if (!ok) at = f[1].toDouble(&ok);
        if (!ok) continue;
        first = std::min(first, at);
        end = std::max(end, at + f[2].toDouble());
    }
    return end > first ? end - first : 0;
}

CProjectItem Probed(const QString& path) {
    CProjectItem clip;
    clip.SetPath(path.toStdString());
    clip.SetName(QFileInfo(path).fileName().toStdString());
    CClipProbe probe;
    EXPECT_EQ(probe.Probe(clip), S_OK) << probe.RenderErrorText();
    return clip;
}

// Sources cut short whose header still states the whole length: the output ends where the
// content ends (no frozen last picture, no silence after it), and stays shorter than the clip,
// so that it is reported.
TEST_F(ConversionRun, SourceCutShortEndsWhereItsContentEnds) {
    const QString mkv = Out("whole.mkv");
    ASSERT_EQ(testmedia::RunFfmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=10", "-f", "lavfi",
                                    "-i", "sine=r=22050", "-t", "4", "-c:v", "mjpeg", "-c:a",
                                    "pcm_s16le", mkv}),
              0);
    // An AVI cut off before its index keeps its header's frame count as the clip's length.
    const struct {
        QString whole;
        const char* cut;
        bool headerLength;
    } sources[] = {{Clip(Kind::Wmv, 4.0), "cut.wmv", true},
                   {mkv, "cut.mkv", true},
                   {Clip(Kind::AviMjpegPcm, 4.0), "cut.avi", true}};
    const struct {
        OutputFormat format;
        const char* extension;
    } outputs[] = {{WavMp3, "wav"}, {Avi, "avi"}, {Mpeg, "mpg"}};
    for (const auto& source : sources) {
        const QString cut = Out(source.cut);
        {
            QFile in(source.whole), out(cut);
            ASSERT_TRUE(in.open(QIODevice::ReadOnly));
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(in.readAll().left(in.size() / 2));
        }
        const double content = PacketSpan(cut);
        CProjectItem clip = Probed(cut);
        ASSERT_TRUE(clip.GetHasVideo() && clip.GetHasAudio()) << source.cut;
        const double stated = double(clip.GetMediaStop()) / kRefTimePerSecond;
        if (source.headerLength) EXPECT_NEAR(stated, 4.0, 0.15) << source.cut;
        ASSERT_LT(content, 3.0) << source.cut;
        for (const auto& output : outputs) {
            SCOPED_TRACE(std::string(source.cut) + " to " + output.extension);
            ConversionSettings settings = SettingsFor(output.format, "160", "120", "10");
            if (output.format == Mpeg) {
                settings = SettingsFor(Mpeg, "352", "288", "25");
                settings.mpegEncoder = Make("kestrinempegwriter");
            }
            const QString dest =
                Out((QString(source.cut) + "." + output.extension).toUtf8().constData());
            m_last = m_host.ConvertClip(dest.toStdString(), clip, settings);
            ASSERT_EQ(m_last.code, S_OK) << m_last.reason;
            const double written = PacketSpan(dest);
            EXPECT_NEAR(written, content, 0.1);
            if (source.headerLength) EXPECT_LT(written, stated - 0.5);
        }
    }
}

// A header that declares outright more than the file holds (an MP3 header frame's frame count, a
// WAV file's data size) is the clip's length even where the framework times the data, so that
// the short output is reported; the content is what converts. A length the header does not
// declare (an MP3 without a header frame, timed from its bit rate) is no promise: such a file
// cut short is as long as its content.
TEST_F(ConversionRun, HeaderThatDeclaresMoreThanTheFileHoldsIsTheClipsLength) {
    const struct {
        const char* name;
        QStringList encode;
        double clip;  // seconds, of the half file
    } cases[] = {
        {"xing.mp3", {"-c:a", "libmp3lame", "-q:a", "4"}, 4.0},
        {"pcm.wav", {"-c:a", "pcm_s16le"}, 4.0},
        {"plain.mp3", {"-c:a", "libmp3lame", "-q:a", "4", "-write_xing", "0"}, 2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString whole = Out((QString("whole-") + c.name).toUtf8().constData());
        ASSERT_EQ(
            testmedia::RunFfmpeg(QStringList{"-f", "lavfi", "-i", "sine=f=440:r=44100", "-t", "4"} +
                                 c.encode + QStringList{whole}),
            0);
        const QString cut = Out(c.name);
        {
            QFile in(whole), out(cut);
            ASSERT_TRUE(in.open(QIODevice::ReadOnly));
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(in.readAll().left(in.size() / 2));
        }
        const double content = PacketSpan(cut);
        ASSERT_NEAR(content, 2.0, 0.1);
        CProjectItem clip = Probed(cut);
        EXPECT_NEAR(double(clip.GetDuration()) / kRefTimePerSecond, c.clip, 0.1);
        EXPECT_NEAR(double(clip.ConvertStop()) / kRefTimePerSecond, content, 0.1);
        ConversionSettings settings = SettingsFor(WavMp3);
        const QString dest = Out((QString(c.name) + ".wav").toUtf8().constData());
        m_last = m_host.ConvertClip(dest.toStdString(), clip, settings);
        ASSERT_EQ(m_last.code, S_OK) << m_last.reason;
        EXPECT_NEAR(PacketSpan(dest), content, 0.1);
    }
}

// Which column of 32 holds the white bar of each frame of path's first video stream: the
// pictures of BarSource, in the order the file shows them.
std::vector<int> BarColumns(const QString& path) {
    constexpr int kWidth = 320, kRows = 8;
    const QString raw = path + ".gray";
    testmedia::RunProgram("ffmpeg", {"-v", "error", "-y", "-i", path, "-map", "0:v:0", "-vf",
                                     QString("scale=%1:%2").arg(kWidth).arg(kRows), "-pix_fmt",
                                     "gray", "-f", "rawvideo", raw});
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    std::vector<int> columns;
    for (qsizetype at = 0; at + kWidth * kRows <= data.size(); at += kWidth * kRows) {
        const auto* row =
            reinterpret_cast<const unsigned char*>(data.constData() + at) + kWidth * (kRows / 2);
        double sum = 0;
        int lit = 0;
        for (int x = 0; x < kWidth; ++x)
            if (row[x] > 128) sum += x, ++lit;
        columns.push_back(lit ? int(sum / lit / (kWidth / 32)) : -1);
    }
    return columns;
}

// Frame n of the source shows a white bar in column n mod 32 of 32.
const QString kBarSource =
    "color=c=black:s=320x240:r=25,geq=lum='if(eq(floor(X*32/W),mod(N,32)),235,16)':cb=128:cr=128";

// Elementary video streams carry no time stamps, a program stream counts its times from a clock
// reference half a second before its first picture, and a stream may be a single picture: every
// picture converts, once, in order, from the first (no frozen first picture over the stream's
// start offset, no frame lost at either end), and nothing is added.
TEST_F(ConversionRun, StreamsWithoutAStatedLengthKeepEveryFrame) {
    const struct {
        const char* name;
        QStringList encode;
        int frames;
    } cases[] = {
        {"one.m1v", {"-c:v", "mpeg1video", "-f", "mpeg1video"}, 1},
        {"hundred.m1v", {"-c:v", "mpeg1video", "-f", "mpeg1video"}, 100},
        {"hundred.m2v", {"-c:v", "mpeg2video", "-f", "mpeg2video"}, 100},
        {"second.vob", {"-c:v", "mpeg2video", "-f", "vob"}, 25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = Out(c.name);
        ASSERT_EQ(testmedia::RunFfmpeg(QStringList{"-f", "lavfi", "-i", kBarSource, "-frames:v",
                                                   QString::number(c.frames), "-q:v", "2"} +
                                       c.encode + QStringList{source}),
                  0);
        CProjectItem clip = Probed(source);
        EXPECT_NEAR(double(clip.GetDuration()) / kRefTimePerSecond, c.frames / 25.0, 0.001);
        ConversionSettings settings = SettingsFor(Avi, "320", "240", "25");
        const QString dest = Out((QString(c.name) + ".avi").toUtf8().constData());
        m_last = m_host.ConvertClip(dest.toStdString(), clip, settings);
        ASSERT_EQ(m_last.code, S_OK) << m_last.reason;
        std::vector<int> expected(c.frames);
        for (int n = 0; n < c.frames; ++n) expected[n] = n % 32;
        EXPECT_EQ(BarColumns(dest), expected);
    }
    // The single picture also makes a DVD file of one picture.
    CProjectItem one = Probed(Out("one.m1v"));
    ConversionSettings settings = SettingsFor(Mpeg, "720", "576", "25");
    settings.mpegEncoder = Make("kestrinempegwriter");
    m_last = m_host.ConvertClip(Out("one.mpg").toStdString(), one, settings);
    ASSERT_EQ(m_last.code, S_OK) << m_last.reason;
    EXPECT_EQ(BarColumns(Out("one.mpg")).size(), 1u);
}

// Audio whose length the framework takes from a header's byte rate or estimates from the first
// frames: an IMA ADPCM WAV as ffmpeg writes it (its byte rate is far from the data's) and a
// variable-rate MP3 without a header frame. The clip and its output last what the sound lasts.
TEST_F(ConversionRun, AudioLastsWhatItsDataHolds) {
    const struct {
        const char* name;
        QStringList encode;
    } cases[] = {
        {"ima.wav", {"-c:a", "adpcm_ima_wav", "-ar", "22050", "-ac", "1"}},
        {"vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "6", "-write_xing", "0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = Out(c.name);
        ASSERT_EQ(testmedia::RunFfmpeg(QStringList{"-f", "lavfi", "-i", "sine=f=300:r=44100", "-f",
                                                   "lavfi", "-i", "anoisesrc=r=44100:a=0.3",
                                                   "-filter_complex", "[0][1]amix", "-t", "6"} +
                                       c.encode + QStringList{source}),
                  0);
        CProjectItem clip = Probed(source);
        EXPECT_NEAR(double(clip.GetDuration()) / kRefTimePerSecond, 6.0, 0.06);
        ConversionSettings settings = SettingsFor(WavMp3);
        const QString dest = Out((QString(c.name) + ".wav").toUtf8().constData());
        m_last = m_host.ConvertClip(dest.toStdString(), clip, settings);
        ASSERT_EQ(m_last.code, S_OK) << m_last.reason;
        EXPECT_NEAR(PacketSpan(dest), 6.0, 0.06);
    }
}

// A Stop that comes when the whole clip is written but the writer has not finished the file:
// the writer finishes, the clip is complete and its file whole.
TEST_F(ConversionRun, StopAfterEverythingIsWrittenGivesTheFinishedFile) {
    const QString source = Clip(Kind::AviMjpegPcm, 2.0);
    const struct {
        OutputFormat format;
        const char* sinkName;
        const char* dest;
    } cases[] = {{Avi, "AVI Mux", "end.avi"},
                 {Mpeg, "MPEG Writer Filter", "end.mpg"},
                 {WavMp3, "WAV Writer Filter", "end.wav"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dest);
        ConversionSettings settings = SettingsFor(c.format, "176", "144", "15");
        if (c.format == Mpeg) {
            settings = SettingsFor(Mpeg, "352", "288", "25");
            settings.mpegEncoder = Make("kestrinempegwriter");
        }
        m_window.events.clear();
        bool stopped = false;
        static std::atomic<int> endsArrived;
        endsArrived = 0;
        int inputs = 0;
        m_window.onEvent = [&](int k, std::intptr_t) {
            if (k == CMediaGraph::kGraphRunning) {
                // The end of the stream reaches the writer late: the run sits at 100 % meanwhile.
                GstElementPtr sink(
                    gst_bin_get_by_name(GST_BIN(m_host.Engine()->Pipeline()), c.sinkName));
                ASSERT_TRUE(sink);
                ForEachObject(gst_element_iterate_sink_pads(sink.get()), [&inputs](gpointer pad) {
                    ++inputs;
                    gst_pad_add_probe(
                        GST_PAD(pad), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                        [](GstPad*, GstPadProbeInfo* info, gpointer) {
                            if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
                                ++endsArrived;
                                g_usleep(800 * 1000);
                            }
                            return GST_PAD_PROBE_OK;
                        },
                        nullptr, nullptr);
                    return true;
                });
            }
            if (k == CMediaGraph::kProgress && inputs > 0 && endsArrived == inputs && !stopped &&
                m_window.Values(CMediaGraph::kGraphStopped).empty()) {
                stopped = true;
                m_host.StopEngine();
            }
        };
        CProjectItem clip = ClipFor(source);
        m_last = m_host.ConvertClip(Out(c.dest).toStdString(), clip, settings);
        EXPECT_EQ(m_last.code, S_OK) << m_last.reason;
        m_window.onEvent = nullptr;
        EXPECT_TRUE(stopped);
        EXPECT_EQ(m_window.Values(CMediaGraph::kRunFinished), std::vector<std::intptr_t>{1});
        EXPECT_TRUE(testmedia::DecodesCleanly(Out(c.dest)));
        EXPECT_NEAR(testmedia::Probe(Out(c.dest)).duration, 2.0, 0.15);
    }
    QStringList expected{QFileInfo(source).fileName(), "end.avi", "end.mpg", "end.wav"};
    expected.sort();
    EXPECT_EQ(Files(), expected);
}

TEST_F(ConversionRun, AudioOnlyClipsGiveAudioOnlyAviEvenWhenTheInputNeverEnds) {
    // The .au reader of this framework never ends its stream; the run must still complete.
    for (Kind kind : {Kind::Mp3, Kind::Au}) {
        const QString source = Clip(kind);
        ConversionSettings settings = SettingsFor(Avi);
        const QString dest = Out(kind == Kind::Mp3 ? "mp3.avi" : "au.avi");
        ASSERT_EQ(Convert(source, dest, settings), S_OK) << m_last.reason;
        ASSERT_EQ(m_host.Engine()->GroupOrder(), std::vector<MediaKind>{MediaKind::Audio});
        const auto p = testmedia::Probe(dest);
        EXPECT_TRUE(p.videoCodec.isEmpty());
        EXPECT_EQ(p.audioCodec, "pcm_s16le");
        EXPECT_EQ(p.sampleRate, 48000);
        EXPECT_EQ(p.channels, 2);
        EXPECT_NEAR(p.duration, 2.0, 0.05) << dest.toStdString();
    }
}

TEST_F(ConversionRun, StopEndsTheRunAndKeepsTheExistingDestination) {
    const QString source = Clip(Kind::AviMpeg4Mp3, 3.0);
    const QString dest = Out("kept.avi");
    // Stop pressed while the pipeline is still being built (the first notification of the run,
    // before anything plays) and once it runs (the first progress pass after the start).
    for (const bool beforeStart : {true, false}) {
        SCOPED_TRACE(beforeStart ? "stopped before the start" : "stopped while running");
        {
            QFile existing(dest);
            ASSERT_TRUE(existing.open(QIODevice::WriteOnly | QIODevice::Truncate));
            existing.write("previous result");
        }
        m_window.events.clear();
        bool running = false, stopped = false;
        m_window.onEvent = [&](int k, std::intptr_t) {
            if (k == CMediaGraph::kGraphRunning) running = true;
            if (!stopped && (beforeStart || (k == CMediaGraph::kProgress && running))) {
                stopped = true;
                m_host.StopEngine();
            }
        };
        ConversionSettings settings = SettingsFor(Avi, "640", "480", "25");
        settings.videoEncoder = Make("avenc_mjpeg");
        EXPECT_EQ(Convert(source, dest, settings), E_ABORT);
        EXPECT_TRUE(stopped);
        EXPECT_EQ(m_window.Values(CMediaGraph::kRunFinished), std::vector<std::intptr_t>{0});
        EXPECT_FALSE(m_window.Values(CMediaGraph::kGraphStopped).empty());
        QFile kept(dest);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("previous result"));
        QStringList expected{QFileInfo(source).fileName(), "kept.avi"};
        expected.sort();
        EXPECT_EQ(Files(), expected);
        EXPECT_EQ(GST_OBJECT_PARENT(settings.videoEncoder.get()), nullptr);
    }
}

TEST_F(ConversionRun, FailuresAreReportedAndLeaveNoFile) {
    // A clip without audio cannot become WAV/MP3: E_FAIL and why, before anything runs.
    const QString silent = Clip(Kind::AviRawVideo);
    ConversionSettings wav = SettingsFor(WavMp3);
    EXPECT_EQ(Convert(silent, Out("silent.wav"), wav), E_FAIL);
    // The reason, not the code's generic text, is what the terminal and the row get.
    EXPECT_EQ(m_last.reason,
              std::string(CConversionHost::kNoAudio) + QFileInfo(silent).fileName().toStdString());
    EXPECT_TRUE(m_window.Values(CMediaGraph::kGraphRunning).empty());

    // An encoder that the multiplexer cannot take fails the clip, saying so.
    ConversionSettings badEncoder = SettingsFor(Avi);
    badEncoder.videoEncoder = Make("theoraenc");
    ASSERT_TRUE(badEncoder.videoEncoder);
    const HRESULT hr = Convert(Clip(Kind::AviMjpegPcm), Out("bad.avi"), badEncoder);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(m_last.reason.find("does not take the output of"), std::string::npos)
        << m_last.reason;
    EXPECT_EQ(GST_OBJECT_PARENT(badEncoder.videoEncoder.get()), nullptr);

    // MPEG output without an MPEG writer.
    ConversionSettings mpeg = SettingsFor(Mpeg);
    EXPECT_EQ(Convert(silent, Out("nowriter.mpg"), mpeg), E_INVALIDARG);
    EXPECT_FALSE(QFile::exists(Out("bad.avi")));
    EXPECT_FALSE(QFile::exists(Out("nowriter.mpg")));
    EXPECT_EQ(Files().size(), 2);  // the two sources
}

TEST_F(ConversionRun, PreviewPaneGetsFramesWithoutHoldingBackTheFile) {
    m_window.withPane = true;
    ConversionSettings settings = SettingsFor(Avi, "320", "240", "25");
    ASSERT_EQ(Convert(Clip(Kind::AviMjpegPcm), Out("preview.avi"), settings), S_OK)
        << m_last.reason;
    EXPECT_GT(m_window.frames, 0);
    EXPECT_EQ(m_window.frameWidth, 320);
    EXPECT_EQ(m_window.frameHeight, 240);
    EXPECT_TRUE(m_window.cleared);
    EXPECT_EQ(m_window.Values(CMediaGraph::kPreviewSetup).size(), 1u);
    EXPECT_EQ(m_window.Values(CMediaGraph::kPreviewClosed).size(), 1u);
    // Every frame reached the file although the pane saw only some.
    EXPECT_EQ(testmedia::Probe(Out("preview.avi")).videoCodec, "rawvideo");
}

}  // namespace
