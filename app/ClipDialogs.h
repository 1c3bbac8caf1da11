#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// The dialogs behind the clip list's commands: the Add clip file chooser, the output folder
// picker and the message box of a rejected file. Each can be replaced (tests do, to run
// without a person at the screen); an empty function restores the real dialog.

// Modal open-file dialog with the Add clip filters and multiple selection, opened in folder (the
// working folder when empty); the chosen paths, empty when cancelled.
using ClipFileChooser = std::function<QStringList(QWidget* owner, const QString& folder)>;
void SetClipFileChooser(ClipFileChooser chooser);
QStringList ChooseClipFiles(QWidget* owner, const QString& folder);

// The output folder picker; true and the folder in path when the user chose one.
using OutputFolderChooser = std::function<bool(QWidget* owner, QString& path)>;
void SetOutputFolderChooser(OutputFolderChooser chooser);
bool ChooseOutputFolder(QWidget* owner, QString& path);

// A message box without owner with an OK button.
using ClipMessageSink = std::function<void(const QString& caption, const QString& text)>;
void SetClipMessageSink(ClipMessageSink sink);
void ShowClipMessage(const QString& caption, const QString& text);

// The folder picker: a modal folder dialog with a prompt and a caption. Every folder may be
// chosen; the result is its path without a trailing '/' (except "/").
class CFolderBrowser {
public:
    CFolderBrowser(const QString& prompt, const QString& caption, QWidget* owner);

    // Shows the picker; true and the path in Path() when the user confirmed a folder.
    bool Browse();
    const QString& Path() const { return m_path; }

private:
    QString m_prompt;
    QString m_caption;
    QWidget* m_owner;
    QString m_path;
};
