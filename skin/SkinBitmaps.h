#pragma once

#include <QPixmap>
#include <QSize>

// A bitmap from the application's resources by id; null when the id is unknown. size, when
// given, is the size to load it at (scaled smoothly when the artwork differs). Loaded images are
// shared through the pixmap cache.
QPixmap LoadSkinBitmap(int id, QSize size = QSize());

// The same, with every pure black pixel made transparent (the image lists' mask colour).
QPixmap LoadMaskedBitmap(int id, QSize size = QSize());
