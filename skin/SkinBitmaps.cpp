#include "SkinBitmaps.h"

#include <QBitmap>
#include <QImage>
#include <QPixmapCache>

#include "ResourceIds.h"

namespace {

QString CacheKey(const char* kind, int id, QSize size) {
    return QStringLiteral("kestrine/%1/%2/%3x%4")
        .arg(QLatin1String(kind))
        .arg(id)
        .arg(size.width())
        .arg(size.height());
}

}  // namespace

QPixmap LoadSkinBitmap(int id, QSize size) {
    QString key = CacheKey("plain", id, size);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap)) return pixmap;
    if (!pixmap.load(BitmapPath(id))) return QPixmap();
    if (size.isValid() && pixmap.size() != size)
        pixmap = pixmap.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QPixmap LoadMaskedBitmap(int id, QSize size) {
    QString key = CacheKey("masked", id, size);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap)) return pixmap;
    QImage image = LoadSkinBitmap(id, size).toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return QPixmap();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & 0x00FFFFFFu) == 0 && qAlpha(line[x]) == 255) line[x] = 0;
        }
    }
    pixmap = QPixmap::fromImage(image);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}
