#include "BatchProgress.h"

#include <algorithm>
#include <cstdio>

namespace {

// "0:42", "12:05", "1:02:05" for a number of seconds.
std::string ClockText(std::int64_t seconds, bool withHours) {
    char text[32];
    const auto hours = seconds / 3600;
    if (withHours || hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(hours),
                      static_cast<long long>(seconds / 60 % 60),
                      static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace

void CBatchProgress::Start(std::vector<RefTime> lengths, std::int64_t nowMs) {
    *this = CBatchProgress();
    m_lengths = std::move(lengths);
    for (RefTime& length : m_lengths) length = std::max<RefTime>(length, 0);
    m_startMs = nowMs;
}

void CBatchProgress::ClipStarted(int index) {
    if (index < 0 || index >= static_cast<int>(m_lengths.size())) return;
    m_current = index;
    m_lastStarted = index;
    m_hundredths = 0;
}

void CBatchProgress::ClipProgress(int hundredths) {
    // Progress never goes back within a clip; a writer may report a position past the end.
    m_hundredths = std::clamp(std::max(hundredths, m_hundredths), 0, 10000);
}

void CBatchProgress::ClipEnded(Outcome outcome) {
    if (m_current < 0) return;
    const RefTime length = m_lengths[m_current];
    m_ended += outcome == Outcome::Complete ? length : length * m_hundredths / 10000;
    switch (outcome) {
        case Outcome::Complete:
            ++m_complete;
            break;
        case Outcome::Failed:
            ++m_failed;
            break;
        case Outcome::Stopped:
            ++m_stopped;
            break;
    }
    m_current = -1;
    m_hundredths = 0;
}

RefTime CBatchProgress::Converted() const {
    if (m_current < 0) return m_ended;
    return m_ended + m_lengths[m_current] * m_hundredths / 10000;
}

std::optional<std::int64_t> CBatchProgress::RemainingMs(std::int64_t nowMs) const {
    const std::int64_t elapsedMs = nowMs - m_startMs;
    const RefTime converted = Converted();
    if (m_lengths.empty() || elapsedMs < kMeaningfulMs || converted <= 0) return std::nullopt;
    // What is left: the rest of the running clip and every later clip. Clips that ended early
    // (failed, stopped) are not coming back, so only later clips count beyond the running one.
    RefTime left = 0;
    if (m_current >= 0) left += m_lengths[m_current] - m_lengths[m_current] * m_hundredths / 10000;
    for (int i = m_lastStarted + 1; i < static_cast<int>(m_lengths.size()); ++i)
        left += m_lengths[i];
    return static_cast<std::int64_t>(static_cast<double>(left) * elapsedMs / converted);
}

std::string CBatchProgress::Line(std::int64_t nowMs) const {
    if (m_current < 0) return {};
    std::string line =
        "Clip " + std::to_string(m_current + 1) + " of " + std::to_string(m_lengths.size());
    if (const auto left = RemainingMs(nowMs)) {
        // Rounded up: "about 0:00 left" would read as finished while a clip still converts.
        line += " \xC2\xB7 about " + ClockText((*left + 999) / 1000, false) + " left";
    }
    return line;
}

std::string CBatchProgress::Summary(std::int64_t nowMs) const {
    std::string text = std::to_string(m_complete) + " complete, " + std::to_string(m_failed) +
                       " failed, " + std::to_string(m_stopped) + " stopped";
    const int notStarted = static_cast<int>(m_lengths.size()) - m_complete - m_failed - m_stopped;
    if (notStarted > 0) text += ", " + std::to_string(notStarted) + " not started";
    return text + " \xC2\xB7 " +
           ClockText(std::max<std::int64_t>(nowMs - m_startMs, 0) / 1000, true) + " elapsed";
}
