#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "BatchDriver.h"

// The command line's face of a batch: log lines and one final status line per clip on stdout,
// a progress line on stderr when stderr is a terminal, Ctrl-C turned into the Stop command.
class CCliView : public IBatchView {
public:
    CCliView(std::vector<std::string> rowNames, std::string outputFolder, std::FILE* out,
             std::FILE* err, bool progressLine);

    void SetDriver(CBatchDriver* driver) { m_driver = driver; }

    void SelectRow(int row) override { m_selected = row; }
    int FirstSelectedRow() const override { return m_selected; }
    void SetRowStatus(int row, const std::string& text) override;
    void AddLogLine(const std::string& line) override;
    void SetProgressPosition(int percent) override {}
    void SetBusy(bool busy) override {}
    void PumpMessages() override;
    std::string OutputFolder() const override { return m_outputFolder; }
    // Leads the progress line ("Clip 3 of 10 · about 0:42 left · name: Conversion - 42%").
    void SetBatchLine(const std::string& text) override { m_batchLine = text; }
    // The log line on stdout, and "kestrine-cli: warning: <clip>: <text>" on stderr, so that a
    // script reading only the status lines or only stderr still learns of it.
    void ShowWarning(int row, const std::string& text) override;
    // Likewise "kestrine-cli: Error: <clip>: <text>" on stderr.
    void ShowClipError(int row, const std::string& text) override;

    // Prints "name: Idle" for the clips a stop left unconverted.
    void FinishRows();

    const std::vector<std::string>& Statuses() const { return m_status; }
    bool Interrupted() const;

    // Ctrl-C, SIGTERM and SIGHUP set a flag that the next PumpMessages turns into the Stop
    // command; a second signal of the same kind ends the program the hard way, and so does
    // the first when the program has not ended graceSeconds after it (exit code as below).
    static void InstallInterruptHandler(unsigned graceSeconds = 30);
    static bool InterruptRequested();
    // The signal that asked for the stop, 0 for none.
    static int InterruptSignal();

private:
    void ClearProgressLine();

    std::vector<std::string> m_names;
    std::vector<std::string> m_status;
    std::vector<bool> m_reported;
    std::string m_outputFolder;
    std::string m_batchLine;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_progressLine;
    bool m_progressShown = false;
    bool m_stopSent = false;
    int m_selected = -1;
    CBatchDriver* m_driver = nullptr;
};

// 0 every clip "Complete", 1 a clip failed or was rejected, 128 + the signal's number when a
// signal stopped the batch (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).
int CliExitCode(const std::vector<std::string>& statuses, int rejected, bool interrupted);
