#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class CProjectItem;

// The clip list's rules that need no widget: row texts, the row icon, the file name and the
// default output folder of a path, and the filter of the Add clip dialog. Paths use '/'.
namespace cliplist {

// Images of the row icon list.
enum RowImage : int {
    kImageVideoAudio = 0,  // bitmap 133
    kImageVideo = 1,       // bitmap 132
    kImageAudio = 2,       // bitmap 131
};

// Columns of the clip list.
enum Column : int {
    kColumnSource = 0,
    kColumnFrameSize = 1,
    kColumnDuration = 2,
    kColumnFileSize = 3,
    kColumnStatus = 4,
    kColumnCount = 5,
};

// Heading and width (pixels) of a column.
QString ColumnHeading(int column);
int ColumnWidth(int column);

// The bitmap id of a row image.
int BitmapForImage(int image);

// The text after the last '/' of a path; the whole path when it has none.
QString FileNameOf(const QString& path);

// The path up to and including its last '/'; empty when it has none.
QString FolderOf(const QString& path);

// "<bytes / 1024> K", rounded down: 1023 bytes give "0 K", 1 MiB gives "1024 K".
QString SizeText(std::int64_t bytes);

// The row image of a clip: video with audio 0, video alone 1, no video 2 (0 for an empty file).
int RowImageFor(const CProjectItem& clip);

// The Frame Size column: "n/a" for the audio image, else the clip's "<width>x<height>".
QString FrameSizeColumnText(const CProjectItem& clip, int image);

// The Duration column: the clip's whole seconds as "h:mm:ss".
QString DurationColumnText(const CProjectItem& clip);

// The Add clip dialog's filter entries, in order, in the form QFileDialog takes.
QStringList AddClipFilters();

}  // namespace cliplist
