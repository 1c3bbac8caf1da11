#include "ClipDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include "ClipRows.h"

namespace {

ClipFileChooser& FileChooser() {
    static ClipFileChooser chooser;
    return chooser;
}

OutputFolderChooser& FolderChooser() {
    static OutputFolderChooser chooser;
    return chooser;
}

ClipMessageSink& MessageSink() {
    static ClipMessageSink sink;
    return sink;
}

}  // namespace

void SetClipFileChooser(ClipFileChooser chooser) {
    FileChooser() = std::move(chooser);
}

QStringList ChooseClipFiles(QWidget* owner, const QString& folder) {
    if (FileChooser()) return FileChooser()(owner, folder);
    return QFileDialog::getOpenFileNames(owner, QString(), folder,
                                         cliplist::AddClipFilters().join(QStringLiteral(";;")));
}

void SetOutputFolderChooser(OutputFolderChooser chooser) {
    FolderChooser() = std::move(chooser);
}

bool ChooseOutputFolder(QWidget* owner, QString& path) {
    if (FolderChooser()) return FolderChooser()(owner, path);
    CFolderBrowser browser(QStringLiteral("Browse for output folder"),
                           QStringLiteral("Brontwell Kestrine"), owner);
    if (!browser.Browse()) return false;
    path = browser.Path();
    return true;
}

void SetClipMessageSink(ClipMessageSink sink) {
    MessageSink() = std::move(sink);
}

void ShowClipMessage(const QString& caption, const QString& text) {
    if (MessageSink()) {
        MessageSink()(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}

CFolderBrowser::CFolderBrowser(const QString& prompt, const QString& caption, QWidget* owner)
    : m_prompt(prompt), m_caption(caption), m_owner(owner) {}

bool CFolderBrowser::Browse() {
    QFileDialog dialog(m_owner, m_caption);
    dialog.setObjectName(QStringLiteral("folderBrowser"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // The prompt stands above the folder view, where the dialog has such a label.
    dialog.setLabelText(QFileDialog::LookIn, m_prompt);
    dialog.setDirectory(QDir::homePath());
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return false;
    m_path = QDir::cleanPath(chosen.front());  // no trailing '/' except for "/"
    return true;
}
