#include "BatchDriver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "MediaGraph.h"
#include "ProjectItem.h"
#include "TempOutput.h"

namespace batchtext {

std::string Converting(int percent) {
    char text[48];
    std::snprintf(text, sizeof text, "Conversion - %d%%", percent);
    return text;
}

std::string StoppedAt(int percent) {
    char text[48];
    std::snprintf(text, sizeof text, "Stopped - %d%%", percent);
    return text;
}

}  // namespace batchtext

namespace {

const char* ExtensionFor(int kind) {
    switch (kind) {
        case KindAvi:
            return "avi";
        case KindMpeg:
            return "mpg";
        case KindWav:
            return "wav";
        case KindMp3:
            return "mp3";
    }
    return "avi";
}

// Cuts text to at most bytes, never inside a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

std::string MakeOutputName(int kind, const std::string& sourceName, const std::string& suffix,
                           int copy) {
    // Drive and folders are dropped: only the name part after the last separator counts.
    std::string name = sourceName;
    const std::size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.find_last_of('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);

    const std::string number = copy > 1 ? " (" + std::to_string(copy) + ")" : std::string();
    const std::string tail = suffix + number + "." + ExtensionFor(kind);
    // A name the file system refuses would fail the clip for no reason the user can see;
    // shorten the base instead and keep the suffix and the extension that name the output.
    if (base.size() + tail.size() > kMaxOutputNameBytes) {
        const std::size_t room =
            tail.size() < kMaxOutputNameBytes ? kMaxOutputNameBytes - tail.size() : 0;
        base = CutUtf8(base, room);
    }
    return CutUtf8(base + tail, kMaxOutputNameBytes);
}

int OutputKindFor(const ConversionSettings& settings) {
    switch (settings.outputFormat) {
        case Avi:
            return KindAvi;
        case Mpeg:
            return KindMpeg;
        case WavMp3:
            return settings.audio.formatTag == kFormatTagMp3 ? KindMp3 : KindWav;
    }
    return KindAvi;
}

std::string OutputSuffixFor(const ConversionSettings& settings) {
    // Without an encoder format the audio suffix is the placeholder "No settings" (or nothing);
    // neither belongs in a file name, and an empty suffix could name the source itself.
    if (settings.outputFormat == WavMp3 && !settings.fileNameSuffix.empty() &&
        settings.fileNameSuffix != batchtext::kNoSettings)
        return settings.fileNameSuffix;
    return batchtext::kConvertedSuffix;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    // Both exist: the same file is the same device and inode, whatever links lead to it
    // (a hard link carries no name of the other).
    struct stat first, second;
    if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    std::error_code error;
    const auto left = std::filesystem::weakly_canonical(a, error);
    if (error) return false;
    const auto right = std::filesystem::weakly_canonical(b, error);
    return !error && left == right;
}

std::string JoinDestination(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

HRESULT ResultFromErrno(int error) {
    if (error == 0) return 0;
    return MakeResult(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

HRESULT CreateOutputFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0777) == 0) return S_OK;
    const HRESULT hr = ResultFromErrno(errno);
    return hr == 0 ? E_FAIL : hr;
}

CBatchDriver::CBatchDriver(IBatchView& view, IClipConverter& converter)
    : m_view(view),
      m_converter(converter),
      m_ownReader(std::make_unique<COutputProbe>()),
      m_outputReader(m_ownReader.get()),
      m_clock([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
              .count();
      }) {}

void CBatchDriver::SeedSettings(ConversionSettings& settings, const CProjectItem* firstClip) const {
    if (m_lastAudio.formatTag != kFormatTagNone) {
        settings.outputFormat = m_lastOutputFormat;
        settings.audio = m_lastAudio;
        return;
    }
    // First batch of this run: the first clip's own audio format, no encoder format chosen.
    if (firstClip) {
        const AudioParams clipAudio = firstClip->GetAudioParams();
        settings.audio.sampleRate = clipAudio.sampleRate;
        settings.audio.bitsPerSample = clipAudio.bitsPerSample;
        settings.audio.mono = clipAudio.mono;
        settings.audio.formatTag = kFormatTagNone;
        settings.audio.formatIndex = -1;
    }
}

HRESULT CBatchDriver::Convert(const std::vector<CProjectItem*>& rows, IBatchSettings& dialog) {
    HRESULT result = E_FAIL;
    m_continueBatch = true;
    m_sweptFolders.clear();
    m_writtenThisBatch.clear();
    m_batchSources.clear();
    for (const CProjectItem* clip : rows)
        if (!clip->GetPath().empty()) m_batchSources.push_back(clip->GetPath());
    bool confirmed = false;

    ConversionSettings& settings = dialog.Settings();
    SeedSettings(settings, rows.empty() ? nullptr : rows.front());

    if (dialog.RunModal()) {
        confirmed = true;
        m_running = true;
        m_view.SetBusy(true);
        std::vector<RefTime> lengths;
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            m_view.SetRowStatus(row, batchtext::kIdle);
            lengths.push_back(rows[row]->GetMediaStop() - rows[row]->GetMediaStart());
        }
        m_progress.Start(std::move(lengths), m_clock());

        for (int row = 0; row < static_cast<int>(rows.size()) && m_continueBatch; ++row) {
            if (!ConvertRow(row, *rows[row], settings, result)) break;
        }

        // The engine may have rewritten the audio fields; those are what the next batch offers.
        m_lastOutputFormat = settings.outputFormat;
        m_lastAudio = settings.audio;
        m_running = false;
    }

    m_view.SetBusy(false);
    if (SUCCEEDED(result)) m_view.AddLogLine(batchtext::kFinished);
    if (confirmed) {
        m_view.AddLogLine(batchtext::kSummary + m_progress.Summary(m_clock()));
        m_view.SetBatchLine({});
    }
    m_view.SetProgressPosition(0);
    return result;
}

bool CBatchDriver::ConvertRow(int row, CProjectItem& clip, ConversionSettings& settings,
                              HRESULT& result) {
    m_view.SelectRow(row);
    m_view.SetRowStatus(row, batchtext::kConvert);
    m_progress.ClipStarted(row);
    m_view.SetBatchLine(m_progress.Line(m_clock()));

    // Two clips of one batch can share a base name (music.flac and music.ogg, or one file added
    // twice); the later one must not replace what the earlier one wrote a moment ago, and no
    // output may replace another clip of the list before that clip is converted. Such a clip
    // gets the first free copy number: "music_converted (2).wav".
    std::string name;
    std::string destination;
    for (int copy = 1;; ++copy) {
        name = MakeOutputName(OutputKindFor(settings), clip.GetName(), OutputSuffixFor(settings),
                              copy);
        destination = JoinDestination(m_view.OutputFolder(), name);
        if (!Taken(destination, clip)) break;
    }
    m_view.AddLogLine(batchtext::kConvertingFile + clip.GetName());
    m_view.AddLogLine(batchtext::kTo + name);
    m_currentClip = &clip;
    // Runs that were killed could not remove their temporary files; the first clip of a batch
    // that writes to a folder clears that folder of them.
    if (m_sweptFolders.insert(m_view.OutputFolder()).second)
        CTempOutput::SweepStale(m_view.OutputFolder());

    // A source named like an output (e.g. a clip converted before, now in the output folder)
    // would be replaced by its own conversion; refuse that clip instead of losing it.
    if (!clip.GetPath().empty() && IsSameFile(destination, clip.GetPath())) {
        m_view.AddLogLine(batchtext::kSameFile + name);
        m_view.SetRowStatus(row, batchtext::kError);
        m_progress.ClipEnded(CBatchProgress::Outcome::Failed);
        result = E_INVALIDARG;
        return true;
    }

    ClipResult outcome;
    try {
        outcome = m_converter.ConvertClip(destination, clip, settings);
    } catch (...) {
        // The clip did not convert: mark it and end the batch as failed, so that the log does
        // not call a batch that ended in an exception successful.
        m_view.ShowClipError(row, batchtext::kException);
        m_view.SetRowStatus(row, batchtext::kError);
        m_progress.ClipEnded(CBatchProgress::Outcome::Failed);
        result = E_UNEXPECTED;
        return false;
    }

    if (outcome.code == S_OK) outcome = VerifyOutput(row, clip, destination);
    result = outcome.code;
    if (outcome.code == S_OK) {
        m_writtenThisBatch.push_back(destination);
        m_view.SetRowStatus(row, batchtext::kComplete);
        m_progress.ClipEnded(CBatchProgress::Outcome::Complete);
    } else if (outcome.code == E_ABORT) {
        m_view.SetRowStatus(row, batchtext::StoppedAt(clip.GetProgress()));
        m_progress.ClipEnded(CBatchProgress::Outcome::Stopped);
    } else {
        m_view.ShowClipError(row, outcome.Reason());
        m_view.SetRowStatus(row, batchtext::kError);
        m_progress.ClipEnded(CBatchProgress::Outcome::Failed);
    }
    return true;
}

bool CBatchDriver::Taken(const std::string& destination, const CProjectItem& clip) const {
    const auto same = [&](const std::string& path) {
        return path == destination || IsSameFile(path, destination);
    };
    if (std::any_of(m_writtenThisBatch.begin(), m_writtenThisBatch.end(), same)) return true;
    // The clip's own file is left to the check that refuses converting a clip onto itself.
    return std::any_of(m_batchSources.begin(), m_batchSources.end(), [&](const std::string& path) {
        return path != clip.GetPath() && same(path);
    });
}

ClipResult CBatchDriver::VerifyOutput(int row, const CProjectItem& clip,
                                      const std::string& destination) {
    // A source that ends before the end its header announces (cut short, a hole in its data)
    // still converts "successfully": the run ends at the source's real end. The file is kept,
    // but the user must not take it for a complete conversion. A source with next to nothing
    // decodable can leave a file with headers and no media: that is no conversion at all.
    const RefTime expected = clip.GetMediaStop() - clip.GetMediaStart();
    if (!m_outputReader || expected <= 0) return ClipResult::Ok();
    std::string reason;
    const std::optional<RefTime> written = m_outputReader->WrittenDuration(destination, &reason);
    if (!written) {
        m_view.ShowWarning(row, batchtext::kUnreadableOutput + reason);
        return ClipResult::Ok();
    }
    if (*written <= 0) {
        ::unlink(destination.c_str());
        return {E_FAIL, batchtext::kUnplayableOutput + reason};
    }
    std::string warning = ShortOutputWarning(*written, expected);
    if (warning.empty())
        warning = PaddedOutputWarning(*written, clip.ConvertStop() - clip.GetMediaStart());
    if (!warning.empty()) m_view.ShowWarning(row, warning);
    return ClipResult::Ok();
}

void CBatchDriver::OnStop() {
    // While a batch runs the commands stay ghosted until it has returned: re-enabling Convert
    // or Remove clip here would let the user re-enter the batch or delete the clip in use from
    // the nested message pumping. The batch itself restores the idle state when it ends.
    if (!m_running) m_view.SetBusy(false);
    m_converter.StopEngine();
    m_continueBatch = false;
    m_view.AddLogLine(batchtext::kStopped);
}

bool CBatchDriver::OnEngineNotify(int k, long long lParam) {
    switch (k) {
        case CMediaGraph::kGraphRunning:
            if (m_currentClip) m_currentClip->SetProgress(0);
            ShowProgress(0);
            return true;
        case CMediaGraph::kProgress:
            if (m_currentClip) m_currentClip->SetProgress(static_cast<int>(lParam / 100));
            if (m_running) {
                m_progress.ClipProgress(static_cast<int>(lParam));
                m_view.SetBatchLine(m_progress.Line(m_clock()));
            }
            ShowProgress(static_cast<int>(lParam));
            m_view.PumpMessages();
            return true;
        default:
            return false;
    }
}

void CBatchDriver::ShowProgress(int value) {
    // A writer may report a position past the end; the bar's range is 0..100.
    m_view.SetProgressPosition(std::clamp(value / 100, 0, 100));
    const int row = m_view.FirstSelectedRow();
    if (row >= 0 && m_currentClip)
        m_view.SetRowStatus(row, batchtext::Converting(m_currentClip->GetProgress()));
}
