#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BatchProgress.h"
#include "ConversionSettings.h"
#include "OutputCheck.h"
#include "Result.h"

class CProjectItem;

// Texts of the clip list's status column and of the activity log written by a batch. They are
// the program's own texts, byte for byte (UTF-8; the bullet is U+2022).
namespace batchtext {
inline constexpr const char* kIdle = "Idle";
inline constexpr const char* kConvert = "Convert";
inline constexpr const char* kComplete = "Complete";
inline constexpr const char* kError = "Error";
inline constexpr const char* kConvertingFile = "Converting file: ";
inline constexpr const char* kTo = " \xE2\x80\xA2 to: ";
inline constexpr const char* kFinished = " \xE2\x80\xA2 Conversion finished succesful...";
inline constexpr const char* kStopped = " \xE2\x80\xA2 Conversion stopped...";
inline constexpr const char* kException = "Exception during conversion!";
inline constexpr const char* kConvertedSuffix = "_converted";
inline constexpr const char* kNoSettings = "No settings";
inline constexpr const char* kSameFile =
    " \xE2\x80\xA2 Error: the output would replace the source file: ";
inline constexpr const char* kWarning = " \xE2\x80\xA2 Warning: ";
inline constexpr const char* kErrorLine = " \xE2\x80\xA2 Error: ";
inline constexpr const char* kUnreadableOutput =
    "the output could not be read back to check its length: ";
inline constexpr const char* kUnplayableOutput =
    "the output holds nothing playable and was removed: ";
// Starts the summary line that ends every batch (followed by CBatchProgress::Summary).
inline constexpr const char* kSummary = " \xE2\x80\xA2 Batch: ";

// "Conversion - %d%%" and "Stopped - %d%%".
std::string Converting(int percent);
std::string StoppedAt(int percent);
}  // namespace batchtext

// Output kinds: 0 AVI, 1 MPEG, 2 WAV, 3 MP3 (WAV writer fed with MPEG Layer-3).
enum OutputKind : int { KindAvi = 0, KindMpeg = 1, KindWav = 2, KindMp3 = 3 };

// The longest file name (bytes) that the file systems we write to accept.
inline constexpr std::size_t kMaxOutputNameBytes = 255;

// The output file name for a source name: the base name (folders and the extension after the
// last period dropped) + suffix + "." + the kind's extension ("avi", "mpg", "wav", "mp3").
// When the result would be longer than kMaxOutputNameBytes, the base name is shortened (at a
// character boundary) so that suffix and extension are always kept. A copy number above 1 is
// added before the extension as " (copy)".
std::string MakeOutputName(int kind, const std::string& sourceName, const std::string& suffix,
                           int copy = 1);

// The kind and suffix the confirmed settings ask for: WAV/MP3 outputs carry the audio format's
// suffix, the others (and WAV/MP3 without an encoder format) "_converted".
int OutputKindFor(const ConversionSettings& settings);
std::string OutputSuffixFor(const ConversionSettings& settings);

// True when both paths name the same file (the destination need not exist).
bool IsSameFile(const std::string& a, const std::string& b);

// folder + "/" (unless the folder already ends with one) + name.
std::string JoinDestination(const std::string& folder, const std::string& name);

// The code a failed folder creation is shown with: 0x80070000 | (errno & 0xFFFF), 0 for 0.
HRESULT ResultFromErrno(int error);

// Creates one folder level (missing parents are not created). S_OK or ResultFromErrno.
HRESULT CreateOutputFolder(const std::string& folder);

// What a batch shows and asks of its host (the main window or the command line). All calls are
// made on the user-interface thread, from inside CBatchDriver::Convert or a notification.
class IBatchView {
public:
    virtual ~IBatchView() = default;
    // Selects row, gives it the focus mark and scrolls it fully into view.
    virtual void SelectRow(int row) = 0;
    // The first selected row, -1 when none.
    virtual int FirstSelectedRow() const = 0;
    virtual void SetRowStatus(int row, const std::string& text) = 0;
    virtual void AddLogLine(const std::string& line) = 0;
    // Progress bar position, 0..100.
    virtual void SetProgressPosition(int percent) = 0;
    virtual void SetBusy(bool busy) = 0;
    // Handles every pending user event and returns at once; never waits.
    virtual void PumpMessages() = 0;
    // The folder outputs go to, read when each clip starts (the user may browse during a batch).
    virtual std::string OutputFolder() const = 0;
    // A doubt about row's finished output (text without bullet, e.g. "the output is 3.2 s
    // shorter than the clip (5.0 s of 8.2 s written)"). The row stays "Complete"; the log gets
    // batchtext::kWarning + text.
    virtual void ShowWarning(int row, const std::string& text) {
        AddLogLine(batchtext::kWarning + text);
    }
    // The whole batch's progress ("Clip 3 of 10 · about 0:42 left"), whenever it changes while a
    // batch runs; empty when the batch has ended.
    virtual void SetBatchLine(const std::string& text) {}
    // Why row failed (text without bullet); the row shows "Error". Never a modal box: a batch
    // runs unattended. The log gets batchtext::kErrorLine + text.
    virtual void ShowClipError(int row, const std::string& text) {
        AddLogLine(batchtext::kErrorLine + text);
    }
};

// The per-clip conversion and the stop of the running one (the engine's host).
class IClipConverter {
public:
    virtual ~IClipConverter() = default;
    // Converts clip into destination with settings: S_OK written completely, E_ABORT stopped
    // before the end, another failure code otherwise, with its reason where one is known. Shows
    // nothing itself. May throw. Sends kGraphRunning and kProgress to
    // CBatchDriver::OnEngineNotify synchronously while it runs.
    virtual ClipResult ConvertClip(const std::string& destination, CProjectItem& clip,
                                   ConversionSettings& settings) = 0;
    // Stops the running (or last) engine at once; nothing when there is none.
    virtual void StopEngine() = 0;
};

// One settings dialog for one batch: seeded through Settings(), run modally, then read by the
// batch until it ends. The object outlives the whole batch.
class IBatchSettings {
public:
    virtual ~IBatchSettings() = default;
    virtual ConversionSettings& Settings() = 0;
    // True for "Start Conversion", false when the user abandoned the dialog.
    virtual bool RunModal() = 0;
};

// The batch loop of the Convert command, shared by the main window and the command line.
// Lives as long as its host; remembers the confirmed output format and audio parameters of the
// previous batch (in memory only). User-interface thread only.
class CBatchDriver {
public:
    CBatchDriver(IBatchView& view, IClipConverter& converter);

    // Seeds the dialog, runs it and, when confirmed, converts every row in order while the
    // batch has not been stopped. rows are the clips in list order (not owned; they must stay
    // alive until this returns). Returns the batch result: the code of the last per-clip
    // conversion, E_FAIL when nothing was converted.
    HRESULT Convert(const std::vector<CProjectItem*>& rows, IBatchSettings& dialog);

    // The Stop command: stops the running clip, lets no later clip start, logs the stop line.
    void OnStop();

    // Engine notification k (CMediaGraph::Notification) with its lParam; true when the driver
    // acted on it (kGraphRunning, kProgress).
    bool OnEngineNotify(int k, long long lParam);

    // value: progress in hundredths of a percent (0..10000).
    void ShowProgress(int value);

    // What reads back the duration of each output that converted with S_OK, to warn about an
    // output shorter than its clip (a source that ends before its announced end). Not owned;
    // null turns the check off. Default: the engine's file opener (COutputProbe).
    void SetOutputReader(IOutputReader* reader) { m_outputReader = reader; }

    // The clock the batch's time estimates read, in milliseconds (default: a steady clock).
    void SetClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }

    bool IsRunning() const { return m_running; }
    CProjectItem* CurrentClip() const { return m_currentClip; }
    OutputFormat LastOutputFormat() const { return m_lastOutputFormat; }
    const AudioParams& LastAudio() const { return m_lastAudio; }

private:
    void SeedSettings(ConversionSettings& settings, const CProjectItem* firstClip) const;
    // Converts one row and shows its outcome (row status, log). Returns false when the batch
    // must end (an exception came out of the conversion).
    bool ConvertRow(int row, CProjectItem& clip, ConversionSettings& settings, HRESULT& result);
    // Reads the written output back: S_OK when it plays (with a warning when it is shorter than
    // the clip's media range), E_FAIL and why when it holds nothing playable (the file is
    // removed).
    ClipResult VerifyOutput(int row, const CProjectItem& clip, const std::string& destination);

    IBatchView& m_view;
    IClipConverter& m_converter;
    std::unique_ptr<IOutputReader> m_ownReader;
    IOutputReader* m_outputReader = nullptr;
    // True when an earlier clip of this batch wrote destination, or it is the file of another
    // clip of the batch.
    bool Taken(const std::string& destination, const CProjectItem& clip) const;

    std::set<std::string> m_sweptFolders;  // output folders cleared of stale files this batch
    std::vector<std::string> m_writtenThisBatch;  // outputs completed by this batch
    std::vector<std::string> m_batchSources;      // the files of the batch's clips
    std::function<std::int64_t()> m_clock;
    CBatchProgress m_progress;
    bool m_continueBatch = false;
    bool m_running = false;
    CProjectItem* m_currentClip = nullptr;
    OutputFormat m_lastOutputFormat = Avi;
    AudioParams m_lastAudio{44100, 16, 0, kFormatTagNone, -1};
};
