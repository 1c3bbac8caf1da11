// kestrine-cli: converts media files in one batch without windows, with the program's batch
// driver, settings and engine.
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "BatchDriver.h"
#include "CliConverter.h"
#include "CliOptions.h"
#include "CliSettings.h"
#include "CliView.h"
#include "ClipAcceptance.h"
#include "MediaFramework.h"
#include "OutputCheck.h"
#include "ProjectItem.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailed = 1;

int UsageError(const std::string& error) {
    std::fprintf(stderr, "kestrine-cli: %s\nTry 'kestrine-cli --help' for more information.\n",
                 error.c_str());
    return kExitUsage;
}

// Accepts a file the way Add clip does (AcceptClip). A rejected file is reported with its
// reason and counted; the others still convert.
std::unique_ptr<CProjectItem> TakeClip(const std::string& file) {
    auto clip = std::make_unique<CProjectItem>();
    const ClipResult accepted =
        AcceptClip(QFileInfo(QString::fromStdString(file)).absoluteFilePath().toStdString(), *clip);
    if (accepted.Succeeded()) return clip;
    std::fprintf(stderr, "kestrine-cli: rejected %s: %s\n", file.c_str(),
                 accepted.Reason().c_str());
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Brontwell");
    QCoreApplication::setApplicationName("kestrine");

    CliOptions options;
    std::string error;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!ParseCliOptions(args, options, error)) return UsageError(error);
    if (options.help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }

    if (std::string why; FAILED(InitMediaFramework(&why))) {
        std::fprintf(stderr, "kestrine-cli: the media framework cannot start: %s\n", why.c_str());
        return kExitFailed;
    }
    if (options.listEncoders) {
        std::fputs(ListEncodersText().c_str(), stdout);
        return 0;
    }
    if (options.listAudioFormats) {
        std::string text;
        if (!ListAudioFormatsText(options.format.value_or(Avi), *options.listAudioFormats, text))
            return UsageError("no audio encoder named \"" + *options.listAudioFormats +
                              "\" (see --list-encoders)");
        std::fputs(text.c_str(), stdout);
        return 0;
    }

    CCliSettings settings(options);
    if (!settings.Validate(error)) return UsageError(error);

    CCliView::InstallInterruptHandler();
    std::vector<std::unique_ptr<CProjectItem>> clips;
    int rejected = 0;
    for (const std::string& file : options.files) {
        if (CCliView::InterruptRequested()) return CliExitCode({}, 0, true);
        if (auto clip = TakeClip(file))
            clips.push_back(std::move(clip));
        else
            ++rejected;
    }
    if (CCliView::InterruptRequested()) return CliExitCode({}, 0, true);
    if (clips.empty()) {
        std::fprintf(stderr, "kestrine-cli: no file to convert\n");
        return kExitFailed;
    }

    // The output folder: as given, else the first clip's folder; a missing folder is created
    // (one level), as the window does when the user agrees. A folder that takes no files fails
    // the batch before the first clip rather than every clip after a full conversion each.
    const std::string folder = options.outputFolder.value_or(
        QFileInfo(QString::fromStdString(clips.front()->GetPath())).absolutePath().toStdString());
    if (const ClipResult ready = PrepareOutputFolder(folder, [] { return true; }); ready.Failed()) {
        std::fprintf(stderr, "kestrine-cli: %s\n", ready.Reason().c_str());
        return kExitFailed;
    }

    std::vector<std::string> names;
    std::vector<CProjectItem*> rows;
    for (const auto& clip : clips) {
        names.push_back(clip->GetName());
        rows.push_back(clip.get());
    }
    // While a run streams, the engine points the standard error descriptor at a capture file
    // (the codec libraries' chatter); the view writes to the terminal through its own copy.
    const int errorCopy = ::dup(STDERR_FILENO);
    std::FILE* errorStream = errorCopy >= 0 ? ::fdopen(errorCopy, "w") : nullptr;
    if (!errorStream) errorStream = stderr;
    CCliView view(names, folder, stdout, errorStream, isatty(STDERR_FILENO) != 0);
    CCliConverter converter;
    CBatchDriver driver(view, converter);
    view.SetDriver(&driver);
    converter.SetDriver(&driver);

    driver.Convert(rows, settings);
    if (!settings.Error().empty()) {
        if (settings.ErrorIsUsage()) return UsageError(settings.Error());
        std::fprintf(stderr, "kestrine-cli: %s\n", settings.Error().c_str());
        return kExitFailed;
    }
    view.FinishRows();
    return CliExitCode(view.Statuses(), rejected, view.Interrupted());
}
