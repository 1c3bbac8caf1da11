#include "ProjectItem.h"

#include <cinttypes>
#include <cstdio>

std::string CProjectItem::FrameSizeText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%dx%d", m_width, m_height);
    return text;
}

std::string FormatDuration(std::int64_t seconds) {
    const std::int64_t hours = seconds / 3600;
    const std::int64_t rest = seconds % 3600;
    char text[48];
    std::snprintf(text, sizeof text, "%.1" PRId64 ":%.2d:%.2d", hours, static_cast<int>(rest / 60),
                  static_cast<int>(rest % 60));
    return text;
}
