// Paints the application's artwork: every bitmap id the program loads, at the size it is used,
// into <folder>/<id>.png. Run through the "artwork" target, which writes into res/bitmaps; the
// images are committed so a build never needs this program.
//
// One palette ties the skin together: the command bar's periwinkle RGB(136,137,253), a deep
// indigo for bands and frames, a light grey-lavender for panels (the control texture 144 has the
// same base colour so skinned labels blend into the panels), and one accent hue per command.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "ResourceIds.h"

namespace {

const QColor kBar(136, 137, 253);
const QColor kIndigo(62, 63, 168);
const QColor kIndigoDeep(44, 45, 128);
const QColor kBandLight(118, 119, 240);
const QColor kPanel(228, 228, 236);
const QColor kPanelEdge(196, 196, 214);
const QColor kText(76, 76, 96);
const QColor kWhite(255, 255, 255);

struct Hue {
    QColor top;
    QColor bottom;
};

const Hue kGreen{QColor(88, 214, 150), QColor(30, 150, 96)};
const Hue kRose{QColor(250, 128, 150), QColor(196, 58, 92)};
const Hue kAmber{QColor(255, 198, 96), QColor(228, 138, 24)};
const Hue kRed{QColor(246, 102, 90), QColor(178, 38, 32)};
const Hue kBlue{QColor(98, 176, 250), QColor(40, 110, 204)};
const QColor kTealTop(70, 210, 200);
const Hue kTeal{kTealTop, QColor(24, 140, 134)};
const Hue kViolet{QColor(190, 140, 248), QColor(122, 68, 200)};
const Hue kSlate{QColor(150, 156, 184), QColor(84, 90, 122)};
const Hue kIndigoHue{QColor(110, 111, 230), kIndigoDeep};

QImage Canvas(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void Begin(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

QFont UiFont(int pixelSize, bool bold) {
    QFont font(QStringList{"DejaVu Sans", "Liberation Sans", "Nimbus Sans", "sans-serif"});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QPen GlyphPen(qreal width, QColor colour = kWhite) {
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// A glossy rounded badge: soft drop shadow, vertical gradient, a highlight over the top half and
// a thin darker rim.
void Badge(QPainter& p, const QRectF& r, qreal radius, const Hue& hue) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 70, 70));
    p.drawRoundedRect(r.translated(0, 1.2), radius, radius);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, hue.top);
    fill.setColorAt(1, hue.bottom);
    p.setBrush(fill);
    p.setPen(QPen(hue.bottom.darker(125), 1));
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.center().y()));
    gloss.setColorAt(0, QColor(255, 255, 255, 110));
    gloss.setColorAt(1, QColor(255, 255, 255, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    QRectF top = r.adjusted(1.5, 1.5, -1.5, -r.height() / 2);
    p.drawRoundedRect(top, radius - 1.5, radius - 1.5);
    p.restore();
}

// A film frame: outline with sprocket holes along both long sides.
void FilmFrame(QPainter& p, const QRectF& r, QColor ink, QColor holes) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRoundedRect(r, 2, 2);
    p.setBrush(holes);
    qreal hole = r.width() / 9.0;
    for (int i = 0; i < 4; ++i) {
        qreal y = r.top() + r.height() * (0.14 + 0.21 * i);
        p.drawRect(QRectF(r.left() + hole * 0.8, y, hole, r.height() * 0.11));
        p.drawRect(QRectF(r.right() - hole * 1.8, y, hole, r.height() * 0.11));
    }
    p.drawRect(QRectF(r.left() + hole * 2.6, r.top() + r.height() * 0.14, r.width() - hole * 5.2,
                      r.height() * 0.72));
    p.restore();
}

// An eighth note.
void Note(QPainter& p, QPointF head, qreal size, QColor ink) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.translate(head);
    p.rotate(-20);
    p.drawEllipse(QRectF(-size * 0.38, -size * 0.26, size * 0.76, size * 0.52));
    p.restore();
    p.save();
    p.setPen(GlyphPen(size * 0.16, ink));
    QPointF stemBottom(head.x() + size * 0.3, head.y() - size * 0.05);
    QPointF stemTop(stemBottom.x(), head.y() - size * 1.1);
    p.drawLine(stemBottom, stemTop);
    QPainterPath flag(stemTop);
    flag.cubicTo(stemTop + QPointF(size * 0.1, size * 0.35),
                 stemTop + QPointF(size * 0.55, size * 0.3),
                 stemTop + QPointF(size * 0.45, size * 0.75));
    p.setBrush(Qt::NoBrush);
    p.drawPath(flag);
    p.restore();
}

// ---- command bar icons, 40 x 35 -------------------------------------------------------------

const QRectF kBadgeRect(5.5, 1.5, 29, 29);

QImage CommandIcon(const Hue& hue, const std::function<void(QPainter&, QPointF)>& glyph) {
    QImage image = Canvas(40, 35);
    QPainter p(&image);
    Begin(p);
    Badge(p, kBadgeRect, 8, hue);
    glyph(p, kBadgeRect.center());
    return image;
}

void PlusMinusSign(QPainter& p, QPointF c, bool plus, const Hue& hue) {
    QRectF disc(c.x() + 2.5, c.y() + 1.5, 11, 11);
    p.setPen(QPen(hue.bottom.darker(120), 1));
    p.setBrush(kWhite);
    p.drawEllipse(disc);
    p.setPen(GlyphPen(2.2, hue.bottom));
    QPointF m = disc.center();
    p.drawLine(m + QPointF(-3, 0), m + QPointF(3, 0));
    if (plus) p.drawLine(m + QPointF(0, -3), m + QPointF(0, 3));
}

QImage AddClipIcon() {
    return CommandIcon(kGreen, [](QPainter& p, QPointF c) {
        FilmFrame(p, QRectF(c.x() - 11, c.y() - 10, 15, 19), kWhite, kGreen.bottom);
        PlusMinusSign(p, c, true, kGreen);
    });
}

QImage RemoveClipIcon() {
    return CommandIcon(kRose, [](QPainter& p, QPointF c) {
        FilmFrame(p, QRectF(c.x() - 11, c.y() - 10, 15, 19), kWhite, kRose.bottom);
        PlusMinusSign(p, c, false, kRose);
    });
}

QImage ConvertIcon() {
    return CommandIcon(kAmber, [](QPainter& p, QPointF c) {
        // Two arrows chasing each other round a circle.
        p.setPen(GlyphPen(2.6));
        p.setBrush(Qt::NoBrush);
        QRectF ring(c.x() - 8, c.y() - 8, 16, 16);
        p.drawArc(ring, 30 * 16, 130 * 16);
        p.drawArc(ring, 210 * 16, 130 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        auto head = [&](double degrees, double dir) {
            double a = degrees * M_PI / 180.0;
            QPointF tip(c.x() + 8 * std::cos(a), c.y() - 8 * std::sin(a));
            QPointF tangent(-std::sin(a) * dir, -std::cos(a) * dir);
            QPointF normal(std::cos(a), -std::sin(a));
            QPolygonF tri;
            tri << tip + tangent * 4.5 << tip + normal * 4 - tangent * 0.5
                << tip - normal * 4 - tangent * 0.5;
            p.drawPolygon(tri);
        };
        head(30, -1);
        head(210, -1);
    });
}

QImage StopIcon() {
    return CommandIcon(kRed, [](QPainter& p, QPointF c) {
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        p.drawRoundedRect(QRectF(c.x() - 7, c.y() - 7, 14, 14), 2.5, 2.5);
    });
}

QImage HelpIcon() {
    return CommandIcon(kBlue, [](QPainter& p, QPointF c) {
        p.setPen(kWhite);
        p.setFont(UiFont(22, true));
        p.drawText(QRectF(c.x() - 12, c.y() - 13, 24, 26), Qt::AlignCenter, "?");
    });
}

QImage HomePageIcon() {
    return CommandIcon(kTeal, [](QPainter& p, QPointF c) {
        p.setPen(GlyphPen(2.2));
        p.setBrush(Qt::NoBrush);
        QPolygonF roof;
        roof << QPointF(c.x() - 10, c.y() - 0.5) << QPointF(c.x(), c.y() - 9.5)
             << QPointF(c.x() + 10, c.y() - 0.5);
        p.drawPolyline(roof);
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        QPainterPath body;
        body.addRect(QRectF(c.x() - 7, c.y() - 1.5, 14, 10));
        QPainterPath door;
        door.addRoundedRect(QRectF(c.x() - 2.2, c.y() + 2.5, 4.4, 6), 1, 1);
        p.drawPath(body.subtracted(door));
    });
}

QImage SupportIcon() {
    return CommandIcon(kViolet, [](QPainter& p, QPointF c) {
        QRectF envelope(c.x() - 10, c.y() - 7, 20, 14);
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        p.drawRoundedRect(envelope, 2, 2);
        p.setPen(GlyphPen(1.6, kViolet.bottom));
        QPolygonF flap;
        flap << envelope.topLeft() + QPointF(1.5, 1.5) << QPointF(c.x(), c.y() + 1.5)
             << envelope.topRight() + QPointF(-1.5, 1.5);
        p.drawPolyline(flap);
    });
}

QImage ExitIcon() {
    return CommandIcon(kSlate, [](QPainter& p, QPointF c) {
        // The power symbol.
        p.setPen(GlyphPen(2.6));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(c.x() - 8.5, c.y() - 7.5, 17, 17), 120 * 16, 300 * 16);
        p.drawLine(QPointF(c.x(), c.y() - 10), QPointF(c.x(), c.y() - 1));
    });
}

// ---- small faces, 20 x 20 -------------------------------------------------------------------

QImage SmallButton(const Hue& hue, const std::function<void(QPainter&, QPointF)>& glyph) {
    QImage image = Canvas(20, 20);
    QPainter p(&image);
    Begin(p);
    Badge(p, QRectF(1, 1, 18, 17.5), 5, hue);
    glyph(p, QPointF(10, 9.75));
    return image;
}

QImage ExitButton() {
    return SmallButton(kRed, [](QPainter& p, QPointF c) {
        p.setPen(GlyphPen(2));
        p.drawLine(c + QPointF(-3.5, -3.5), c + QPointF(3.5, 3.5));
        p.drawLine(c + QPointF(3.5, -3.5), c + QPointF(-3.5, 3.5));
    });
}

QImage MinimizeButton() {
    return SmallButton(kIndigoHue, [](QPainter& p, QPointF c) {
        p.setPen(GlyphPen(2.2));
        p.drawLine(c + QPointF(-4, 3.5), c + QPointF(4, 3.5));
    });
}

QImage BrowseButton() {
    return SmallButton(kIndigoHue, [](QPainter& p, QPointF c) {
        // An open folder.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 214, 120));
        QPainterPath back;
        back.moveTo(c + QPointF(-6, -4.5));
        back.lineTo(c + QPointF(-2, -4.5));
        back.lineTo(c + QPointF(-0.5, -3));
        back.lineTo(c + QPointF(6, -3));
        back.lineTo(c + QPointF(6, 4.5));
        back.lineTo(c + QPointF(-6, 4.5));
        back.closeSubpath();
        p.drawPath(back);
        p.setBrush(QColor(255, 236, 180));
        QPolygonF front;
        front << c + QPointF(-6, 4.5) << c + QPointF(-4, -1) << c + QPointF(7.5, -1)
              << c + QPointF(6, 4.5);
        p.drawPolygon(front);
    });
}

QImage MoreButton() {
    return SmallButton(kIndigoHue, [](QPainter& p, QPointF c) {
        // Two sliders: "adjust".
        p.setPen(GlyphPen(1.6));
        p.drawLine(c + QPointF(-5, -2.5), c + QPointF(5, -2.5));
        p.drawLine(c + QPointF(-5, 2.5), c + QPointF(5, 2.5));
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        p.drawEllipse(c + QPointF(-2, -2.5), 2.2, 2.2);
        p.drawEllipse(c + QPointF(2.5, 2.5), 2.2, 2.2);
    });
}

// ---- wide text buttons ----------------------------------------------------------------------

QImage TextButton(int w, int h, const Hue& hue, const QString& text, bool playMark) {
    QImage image = Canvas(w, h);
    QPainter p(&image);
    Begin(p);
    Badge(p, QRectF(1, 1, w - 2, h - 2.5), (h - 3) / 2.0, hue);
    // The largest condensed bold face that leaves a comfortable margin.
    qreal markWidth = playMark ? 11 : 0;
    QFont font(QStringList{"DejaVu Sans Condensed", "DejaVu Sans", "sans-serif"});
    font.setBold(true);
    for (int px = 13; px >= 8; --px) {
        font.setPixelSize(px);
        if (QFontMetricsF(font).horizontalAdvance(text) + markWidth <= w - 16) break;
    }
    p.setFont(font);
    QFontMetricsF fm(font);
    qreal textWidth = fm.horizontalAdvance(text);
    qreal x = (w - textWidth - markWidth) / 2.0;
    QRectF textRect(x + markWidth, 0, textWidth + 2, h - 1.5);
    p.setPen(QColor(0, 0, 0, 60));
    p.drawText(textRect.translated(0, 1), Qt::AlignVCenter | Qt::AlignLeft, text);
    p.setPen(kWhite);
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text);
    if (playMark) {
        qreal cy = (h - 1.5) / 2.0;
        QPolygonF tri;
        tri << QPointF(x, cy - 4.5) << QPointF(x + 7, cy) << QPointF(x, cy + 4.5);
        p.setPen(Qt::NoPen);
        p.setBrush(kWhite);
        p.drawPolygon(tri);
    }
    return image;
}

// ---- clip list row icons, 20 x 20 -----------------------------------------------------------

QImage RowIcon(bool video, bool audio) {
    QImage image = Canvas(20, 20);
    QPainter p(&image);
    Begin(p);
    if (video) {
        QRectF film = audio ? QRectF(1.5, 1.5, 13, 16) : QRectF(3.5, 1.5, 13, 17);
        FilmFrame(p, film, kIndigo, QColor(200, 202, 255));
    }
    if (audio) {
        if (video) {
            p.setPen(Qt::NoPen);
            p.setBrush(kWhite);
            p.drawEllipse(QPointF(14, 13.5), 5.8, 5.8);
            Note(p, QPointF(12.8, 16), 6.5, kAmber.bottom);
        } else {
            Note(p, QPointF(8, 15), 10, kViolet.bottom);
        }
    }
    return image;
}

// ---- textures and backgrounds ---------------------------------------------------------------

// The control texture: the panel colour with a faint, fixed grain.
QImage ControlTexture() {
    QImage image(58, 46, QImage::Format_RGB32);
    QRandomGenerator grain(144);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            int d = int(grain.bounded(5)) - 2;
            image.setPixelColor(x, y,
                                QColor(kPanel.red() + d, kPanel.green() + d, kPanel.blue() + d));
        }
    }
    return image;
}

void FillGrain(QPainter& p, const QRect& area) {
    QImage grain = ControlTexture();
    p.fillRect(area, QBrush(grain));
}

// The logo, a kestrel's swept wing over a play mark, on a 32-unit grid around the origin.
QPainterPath LogoWing() {
    QPainterPath wing;
    wing.moveTo(-13, 4);
    wing.cubicTo(-6, -8, 4, -12, 14, -11);
    wing.cubicTo(6, -7, 0, -2, -3, 6);
    wing.closeSubpath();
    return wing;
}

QPolygonF LogoPlayMark() {
    return QPolygonF({QPointF(-1, 4), QPointF(12, 9.5), QPointF(-1, 15)});
}

void Logo(QPainter& p, QPointF c, qreal size) {
    p.save();
    p.translate(c);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawPath(LogoWing());
    p.setBrush(kAmber.top);
    p.drawPolygon(LogoPlayMark());
    p.restore();
}

// A title band along the top edge with the wordmark, and the panel below.
void Band(QPainter& p, int width, int bandHeight, int left) {
    QLinearGradient band(0, 0, width, 0);
    band.setColorAt(0, kIndigo);
    band.setColorAt(1, kBar);
    p.fillRect(QRect(left, 0, width - left, bandHeight), band);
    QLinearGradient sheen(0, 0, 0, bandHeight);
    sheen.setColorAt(0, QColor(255, 255, 255, 46));
    sheen.setColorAt(0.5, QColor(255, 255, 255, 8));
    sheen.setColorAt(1, QColor(0, 0, 0, 24));
    p.fillRect(QRect(left, 0, width - left, bandHeight), sheen);
    p.fillRect(QRect(left, bandHeight, width - left, 1), QColor(255, 255, 255, 150));
    p.fillRect(QRect(left, bandHeight + 1, width - left, 1), kPanelEdge);
}

// Draws "strong light" centred in the band; returns the x where the text ends.
int Title(QPainter& p, int x, int bandHeight, const QString& strong, const QString& light,
          int pixelSize) {
    QFont bold = UiFont(pixelSize, true);
    QFont regular = UiFont(pixelSize, false);
    QFontMetrics fmBold(bold);
    int baseline = bandHeight / 2 + fmBold.ascent() / 2 - 1;
    p.setPen(kWhite);
    p.setFont(bold);
    p.drawText(x, baseline, strong);
    p.setFont(regular);
    p.setPen(QColor(230, 230, 255));
    int lightX = x + fmBold.horizontalAdvance(strong + " ");
    p.drawText(lightX, baseline, light);
    return lightX + QFontMetrics(regular).horizontalAdvance(light);
}

// A recessed well around a control rectangle, so the control sits in the panel.
void Well(QPainter& p, const QRect& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QRect outer = r.adjusted(-3, -3, 2, 2);
    p.setPen(kPanelEdge);
    p.setBrush(Qt::NoBrush);
    p.drawRect(outer);
    p.setPen(kWhite);
    p.drawLine(outer.bottomLeft() + QPoint(1, 1), outer.bottomRight() + QPoint(1, 1));
    p.drawLine(outer.topRight() + QPoint(1, 1), outer.bottomRight() + QPoint(1, 1));
    p.restore();
}

// A light tab hanging from the top edge behind the window buttons: flat bitmap buttons show the
// control texture around their faces, so they sit on a panel of that texture.
void ControlTab(QPainter& p, int left, int right, int bottom) {
    p.save();
    QPainterPath tab;
    tab.moveTo(left, 0);
    tab.lineTo(left, bottom - 6);
    tab.quadTo(left, bottom, left + 6, bottom);
    tab.lineTo(right, bottom);
    tab.lineTo(right, 0);
    tab.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 70, 60));
    p.drawPath(tab.translated(0, 1));
    p.setBrush(QBrush(ControlTexture()));
    p.drawPath(tab);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tab.translated(0.5, -0.5));
    p.restore();
}

void Border(QPainter& p, int w, int h) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(kIndigoDeep);
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, w - 1, h - 1);
    p.restore();
}

// The main window: 398 x 293 dialog units at 6 x 13 base units is 597 x 476 pixels; the
// bitmap is two rows taller (the border of the original window), which the window never shows.
QImage MainBackground() {
    const int w = 597, h = 478, client = 476;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    Begin(p);
    FillGrain(p, image.rect());
    // Side column behind the command bar (8, 10, 74 x 458).
    const int side = 90;
    QLinearGradient column(0, 0, 0, client);
    column.setColorAt(0, kIndigo);
    column.setColorAt(1, kIndigoDeep);
    p.fillRect(QRect(0, 0, side, h), column);
    p.fillRect(QRect(side, 0, 1, h), QColor(255, 255, 255, 90));
    p.setPen(QPen(QColor(255, 255, 255, 120), 1));
    p.setBrush(kBar);
    p.drawRoundedRect(QRectF(5.5, 7.5, 79, 463), 5, 5);
    Band(p, w, 40, side + 1);
    Logo(p, QPointF(side + 22, 20), 30);
    int titleEnd = Title(p, side + 42, 40, "Brontwell", "Kestrine", 17);
    p.setFont(UiFont(11, false));
    p.setPen(QColor(225, 225, 255, 200));
    p.drawText(QRect(titleEnd + 14, 13, 200, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("\u00B7  batch media converter"));
    // Minimize (546, 8) and Exit (570, 8), 20 x 20 each.
    ControlTab(p, 540, w, 33);
    // Wells: clip list, output folder, preview, progress, log.
    Well(p, QRect(98, 46, 489, 245));
    Well(p, QRect(180, 299, 384, 21));
    Well(p, QRect(99, 330, 162, 135));
    Well(p, QRect(372, 328, 215, 16));
    Well(p, QRect(270, 351, 317, 114));
    p.fillRect(QRect(side + 1, client - 5, w - side - 1, 1), kPanelEdge);
    Border(p, w, client);
    return image;
}

// A dialog's background; clientW x clientH is the part the dialog shows (its template size in
// pixels), framed by the border.
QImage DialogBackground(int w, int h, int clientW, int clientH, int band, const QString& title,
                        bool withExitTab) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    Begin(p);
    FillGrain(p, image.rect());
    Band(p, w, band, 0);
    Logo(p, QPointF(18, band / 2.0), 22);
    Title(p, 34, band, title, QString(), 13);
    // The Exit button: the settings dialog's at (321, 3), 20 x 20.
    if (withExitTab) ControlTab(p, clientW - 28, clientW, 27);
    Border(p, clientW, clientH);
    return image;
}

// The application icon, drawn on a 64-unit grid and scaled to the size asked for, so every
// size of the desktop's icon theme is painted rather than resampled.
const QRectF kAppBadge(3, 3, 58, 57);
constexpr qreal kAppBadgeRadius = 14;
const QPointF kAppLogoCentre(33, 31);
constexpr qreal kAppLogoSize = 52;

QImage AppIcon(int size = 64) {
    QImage image = Canvas(size, size);
    QPainter p(&image);
    Begin(p);
    p.scale(size / 64.0, size / 64.0);
    Badge(p, kAppBadge, kAppBadgeRadius, Hue{kBar, kIndigo});
    Logo(p, kAppLogoCentre, kAppLogoSize);
    return image;
}

QString SvgColour(const QColor& colour) {
    return colour.name(QColor::HexRgb);
}

QString SvgNumber(qreal value) {
    return QString::number(value, 'g', 6);
}

// The path data of a painter path (moves, lines and cubic curves, as the logo uses).
QString SvgPathData(const QPainterPath& path) {
    QStringList parts;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        const QString point = SvgNumber(e.x) + " " + SvgNumber(e.y);
        if (e.isMoveTo())
            parts << "M " + point;
        else if (e.isLineTo())
            parts << "L " + point;
        else if (e.isCurveTo())
            parts << "C " + point;
        else
            parts << point;
    }
    return parts.join(' ') + " Z";
}

// The application icon as SVG for the icon theme's scalable size: the same badge (shadow,
// gradient, rim, gloss) and logo shapes as AppIcon.
QByteArray AppIconSvg() {
    const QRectF r = kAppBadge;
    const qreal radius = kAppBadgeRadius;
    const QRectF rim = r.adjusted(0.5, 0.5, -0.5, -0.5);
    const QRectF gloss = r.adjusted(1.5, 1.5, -1.5, -r.height() / 2);
    QString play;
    for (const QPointF& point : LogoPlayMark())
        play += SvgNumber(point.x()) + "," + SvgNumber(point.y()) + " ";
    auto rect = [](const QRectF& box, qreal rx, const QString& rest) {
        return QStringLiteral(
                   "  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" %6/>\n")
            .arg(SvgNumber(box.x()), SvgNumber(box.y()), SvgNumber(box.width()),
                 SvgNumber(box.height()), SvgNumber(rx), rest);
    };
    QString svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg +=
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 "
        "64\">\n";
    svg += "  <defs>\n";
    svg += QStringLiteral(
               "    <linearGradient id=\"fill\" x1=\"0\" y1=\"%1\" x2=\"0\" y2=\"%2\" "
               "gradientUnits=\"userSpaceOnUse\"><stop offset=\"0\" stop-color=\"%3\"/>"
               "<stop offset=\"1\" stop-color=\"%4\"/></linearGradient>\n")
               .arg(SvgNumber(r.top()), SvgNumber(r.bottom()), SvgColour(kBar), SvgColour(kIndigo));
    svg += QStringLiteral(
               "    <linearGradient id=\"gloss\" x1=\"0\" y1=\"%1\" x2=\"0\" y2=\"%2\" "
               "gradientUnits=\"userSpaceOnUse\"><stop offset=\"0\" stop-color=\"#ffffff\" "
               "stop-opacity=\"0.431\"/><stop offset=\"1\" stop-color=\"#ffffff\" "
               "stop-opacity=\"0.039\"/></linearGradient>\n")
               .arg(SvgNumber(r.top()), SvgNumber(r.center().y()));
    svg += "  </defs>\n";
    svg += rect(r.translated(0, 1.2), radius, "fill=\"#141446\" fill-opacity=\"0.275\"");
    svg += rect(
        rim, radius,
        "fill=\"url(#fill)\" stroke=\"" + SvgColour(kIndigo.darker(125)) + "\" stroke-width=\"1\"");
    svg += rect(gloss, radius - 1.5, "fill=\"url(#gloss)\"");
    svg += QStringLiteral("  <g transform=\"translate(%1 %2) scale(%3)\">\n")
               .arg(SvgNumber(kAppLogoCentre.x()), SvgNumber(kAppLogoCentre.y()),
                    SvgNumber(kAppLogoSize / 32.0));
    svg += "    <path d=\"" + SvgPathData(LogoWing()) + "\" fill=\"#ffffff\"/>\n";
    svg +=
        "    <polygon points=\"" + play.trimmed() + "\" fill=\"" + SvgColour(kAmber.top) + "\"/>\n";
    svg += "  </g>\n</svg>\n";
    return svg.toUtf8();
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <bitmap folder> [<icon folder>]\n", argv[0]);
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const std::map<int, std::function<QImage()>> images = {
        {IDR_MAINFRAME, [] { return AppIcon(); }},
        {IDB_ROW_AUDIO, [] { return RowIcon(false, true); }},
        {IDB_ROW_VIDEO, [] { return RowIcon(true, false); }},
        {IDB_ROW_VIDEO_AUDIO, [] { return RowIcon(true, true); }},
        {IDB_CMD_ADD_CLIP, AddClipIcon},
        {IDB_CMD_REMOVE_CLIP, RemoveClipIcon},
        {IDB_CMD_CONVERT, ConvertIcon},
        {IDB_CMD_STOP, StopIcon},
        {IDB_CMD_HELP, HelpIcon},
        {IDB_CMD_EXIT, ExitIcon},
        {IDB_CMD_HOME_PAGE, HomePageIcon},
        {IDB_CMD_SUPPORT, SupportIcon},
        {IDB_CONTROL, ControlTexture},
        {IDB_MAIN_BACKGROUND, MainBackground},
        {IDB_BTN_EXIT, ExitButton},
        {IDB_BTN_MINIMIZE, MinimizeButton},
        {IDB_BTN_BROWSE, BrowseButton},
        {IDB_SETTINGS_BACKGROUND,
         [] { return DialogBackground(347, 265, 344, 262, 42, "Conversion Settings", true); }},
        {IDB_BTN_MORE, MoreButton},
        {IDB_BTN_START_CONVERSION,
         [] { return TextButton(100, 25, kAmber, "Start Conversion", true); }},
        {IDB_AUDIO_BACKGROUND,
         [] { return DialogBackground(205, 265, 201, 244, 34, "Audio Format", false); }},
        {IDB_BTN_OK,
         [] {
             return TextButton(78, 25, Hue{kBar, kIndigo}, "OK", false);
         }},
        {IDB_BTN_CANCEL, [] { return TextButton(78, 25, kSlate, "Cancel", false); }},
    };
    for (const auto& [id, paint] : images) {
        QString path = out.filePath(QString::number(id) + ".png");
        if (!paint().save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    // The desktop's icon theme sizes of the application icon, as <icon folder>/kestrine-<size>.png,
    // and its scalable form, <icon folder>/kestrine.svg.
    if (argc == 3) {
        QDir icons(QString::fromLocal8Bit(argv[2]));
        if (!icons.mkpath(".")) {
            std::fprintf(stderr, "cannot create %s\n", argv[2]);
            return 1;
        }
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            QString path = icons.filePath(QStringLiteral("kestrine-%1.png").arg(size));
            if (!AppIcon(size).save(path, "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                return 1;
            }
        }
        QFile svg(icons.filePath(QStringLiteral("kestrine.svg")));
        if (!svg.open(QIODevice::WriteOnly) || svg.write(AppIconSvg()) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(svg.fileName()));
            return 1;
        }
    }
    return 0;
}
