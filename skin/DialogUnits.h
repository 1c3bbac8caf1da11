#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Converts dialog-template units into pixels with a dialog font's base units: one horizontal unit
// is baseX/4 pixels, one vertical unit baseY/8 pixels, rounded to the nearest pixel. The base
// units are the average character width (over the Latin alphabet, as the classic dialog manager
// measures it) and the character height of the template's font.
class CDialogUnits {
public:
    CDialogUnits(int baseX, int baseY);

    // Base units of the given font, measured.
    static CDialogUnits Measure(const QFont& font);

    // Base units of a template font by name and point size. When the face is installed it is
    // measured; otherwise the face's known base units are used for the faces the templates name
    // ("MS Sans Serif" 8 point: 6 x 13 at 96 dpi, scaled to the screen's logical dpi), so that
    // every window keeps the size its artwork was drawn for on any machine.
    static CDialogUnits ForTemplateFont(const QString& family, int pointSize);

    // The units of the application's templates ("MS Sans Serif", 8 point).
    static CDialogUnits Standard();

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    int m_baseX;
    int m_baseY;
};

// The font the skinned dialogs draw their texts with: the template face when installed, else a
// close stand-in whose texts fit the template's control rectangles.
QFont SkinDialogFont();
