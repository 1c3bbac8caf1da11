#include "CliView.h"

#include <unistd.h>

#include <QCoreApplication>
#include <csignal>

namespace {

// The signal that asked the batch to stop (SIGINT, SIGTERM or SIGHUP); 0 for none.
volatile std::sig_atomic_t g_interrupt = 0;
unsigned g_graceSeconds = 30;

// A stop is honoured at the next PumpMessages. A process stuck where nothing pumps (a media
// framework call that never returns, e.g. on a damaged file) would otherwise outlive the
// signal that asked it to end, and `timeout` or a session's end sends only one: after the
// grace period the program ends with the exit code the stop would have given. A temporary
// file it leaves is swept by the next batch into that folder.
void OnInterrupt(int signal) {
    if (g_interrupt) return;
    g_interrupt = signal;
    alarm(g_graceSeconds);
}

void OnGraceOver(int) {
    _exit(128 + g_interrupt);
}

bool IsFinal(const std::string& status) {
    return status == batchtext::kComplete || status == batchtext::kError ||
           status.starts_with("Stopped - ");
}

}  // namespace

CCliView::CCliView(std::vector<std::string> rowNames, std::string outputFolder, std::FILE* out,
                   std::FILE* err, bool progressLine)
    : m_names(std::move(rowNames)),
      m_status(m_names.size(), batchtext::kIdle),
      m_reported(m_names.size(), false),
      m_outputFolder(std::move(outputFolder)),
      m_out(out),
      m_err(err),
      m_progressLine(progressLine) {}

void CCliView::ClearProgressLine() {
    if (!m_progressShown) return;
    std::fputs("\r\033[K", m_err);
    std::fflush(m_err);
    m_progressShown = false;
}

void CCliView::SetRowStatus(int row, const std::string& text) {
    if (row < 0 || row >= static_cast<int>(m_status.size())) return;
    m_status[row] = text;
    if (IsFinal(text) && !m_reported[row]) {
        ClearProgressLine();
        std::fprintf(m_out, "%s: %s\n", m_names[row].c_str(), text.c_str());
        std::fflush(m_out);
        m_reported[row] = true;
    } else if (m_progressLine && text.starts_with("Conversion - ")) {
        std::fprintf(m_err, "\r\033[K%s \xC2\xB7 %s: %s", m_batchLine.c_str(), m_names[row].c_str(),
                     text.c_str());
        std::fflush(m_err);
        m_progressShown = true;
    }
}

void CCliView::AddLogLine(const std::string& line) {
    ClearProgressLine();
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}

void CCliView::PumpMessages() {
    QCoreApplication::processEvents();
    if (g_interrupt && !m_stopSent && m_driver) {
        m_stopSent = true;
        m_driver->OnStop();
    }
}

void CCliView::ShowWarning(int row, const std::string& text) {
    AddLogLine(batchtext::kWarning + text);
    const std::string name =
        row >= 0 && row < static_cast<int>(m_names.size()) ? m_names[row] : std::string();
    std::fprintf(m_err, "kestrine-cli: warning: %s: %s\n", name.c_str(), text.c_str());
    std::fflush(m_err);
}

void CCliView::ShowClipError(int row, const std::string& text) {
    AddLogLine(batchtext::kErrorLine + text);
    const std::string name =
        row >= 0 && row < static_cast<int>(m_names.size()) ? m_names[row] : std::string();
    std::fprintf(m_err, "kestrine-cli: Error: %s: %s\n", name.c_str(), text.c_str());
    std::fflush(m_err);
}

void CCliView::FinishRows() {
    ClearProgressLine();
    for (std::size_t row = 0; row < m_status.size(); ++row) {
        if (m_reported[row]) continue;
        std::fprintf(m_out, "%s: %s\n", m_names[row].c_str(), m_status[row].c_str());
        m_reported[row] = true;
    }
    std::fflush(m_out);
}

bool CCliView::Interrupted() const {
    return m_stopSent || g_interrupt;
}

void CCliView::InstallInterruptHandler(unsigned graceSeconds) {
    g_graceSeconds = graceSeconds;
    struct sigaction grace = {};
    grace.sa_handler = OnGraceOver;
    sigemptyset(&grace.sa_mask);
    sigaction(SIGALRM, &grace, nullptr);

    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;  // a second signal of the same kind takes the default action
    // A terminal that closes (SIGHUP) and a session or `timeout` that ends the program (SIGTERM)
    // stop the batch as Ctrl-C does, so the running clip's temporary file is removed.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool CCliView::InterruptRequested() {
    return g_interrupt != 0;
}

int CCliView::InterruptSignal() {
    return g_interrupt;
}

int CliExitCode(const std::vector<std::string>& statuses, int rejected, bool interrupted) {
    if (interrupted)
        return 128 + (CCliView::InterruptSignal() ? CCliView::InterruptSignal() : SIGINT);
    if (rejected > 0) return 1;
    for (const std::string& status : statuses)
        if (status != batchtext::kComplete) return 1;
    return 0;
}
