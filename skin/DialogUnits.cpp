#include "DialogUnits.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace {

constexpr const char* kTemplateFace = "MS Sans Serif";
constexpr int kTemplatePointSize = 8;

double LogicalDpi() {
    if (auto* screen = QGuiApplication::primaryScreen()) return screen->logicalDotsPerInchY();
    return 96.0;
}

bool Installed(const QString& family) {
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// MulDiv-style rounding: units * base / divisor, to the nearest integer.
int Scale(int units, int base, int divisor) {
    long long product = static_cast<long long>(units) * base;
    long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor
                                         : -((-product + half) / divisor));
}

}  // namespace

CDialogUnits::CDialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

CDialogUnits CDialogUnits::Measure(const QFont& font) {
    QFontMetrics metrics(font);
    int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return CDialogUnits((alphabet / 26 + 1) / 2, metrics.height());
}

CDialogUnits CDialogUnits::ForTemplateFont(const QString& family, int pointSize) {
    if (Installed(family)) {
        QFont font(family);
        font.setPointSize(pointSize);
        return Measure(font);
    }
    if (family.compare(kTemplateFace, Qt::CaseInsensitive) == 0 &&
        pointSize == kTemplatePointSize) {
        double scale = LogicalDpi() / 96.0;
        return CDialogUnits(static_cast<int>(std::lround(6 * scale)),
                            static_cast<int>(std::lround(13 * scale)));
    }
    QFont font = SkinDialogFont();
    font.setPointSize(pointSize);
    return Measure(font);
}

CDialogUnits CDialogUnits::Standard() {
    return ForTemplateFont(kTemplateFace, kTemplatePointSize);
}

int CDialogUnits::X(int units) const {
    return Scale(units, m_baseX, 4);
}
int CDialogUnits::Y(int units) const {
    return Scale(units, m_baseY, 8);
}

QRect CDialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize CDialogUnits::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}

QFont SkinDialogFont() {
    if (Installed(kTemplateFace)) {
        QFont font(kTemplateFace);
        font.setPointSize(kTemplatePointSize);
        return font;
    }
    // 10 pixels of a condensed sans face matches the template face's text widths closely
    // ("Conversion progress:" fits its 67-unit label); a wider face is the last resort.
    QFont font(QStringList{"Microsoft Sans Serif", "DejaVu Sans Condensed",
                           "Liberation Sans Narrow", "Nimbus Sans", "Arial", "DejaVu Sans",
                           "sans-serif"});
    double scale = LogicalDpi() / 96.0;
    font.setPixelSize(static_cast<int>(std::lround(10 * scale)));
    return font;
}
