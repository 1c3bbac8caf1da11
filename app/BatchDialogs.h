#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class CSettingsDialog;

// The questions and the settings dialog of the Convert command. Each can be replaced (tests do,
// to run a batch without a person at the screen); an empty function restores the real dialog.

// A message box without owner; the button the user pressed.
using BatchQuestion = std::function<QMessageBox::StandardButton(
    const QString& caption, const QString& text, QMessageBox::StandardButtons buttons)>;
void SetBatchQuestion(BatchQuestion question);
QMessageBox::StandardButton AskBatchQuestion(const QString& caption, const QString& text,
                                             QMessageBox::StandardButtons buttons);

// Runs the seeded settings dialog modally; true for "Start Conversion".
using SettingsRunner = std::function<bool(CSettingsDialog& dialog)>;
void SetSettingsRunner(SettingsRunner runner);
bool RunSettingsDialog(CSettingsDialog& dialog);
