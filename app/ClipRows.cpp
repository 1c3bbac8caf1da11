#include "ClipRows.h"

#include "ProjectItem.h"
#include "ResourceIds.h"

namespace cliplist {

namespace {

struct ColumnSpec {
    const char* heading;
    int width;
};

constexpr ColumnSpec kColumns[kColumnCount] = {
    {"Source File", 190}, {"Frame Size", 70},         {"Duration", 58},
    {"File Size", 58},    {"Conversion Status", 108},
};

}  // namespace

QString ColumnHeading(int column) {
    return column >= 0 && column < kColumnCount ? QString::fromLatin1(kColumns[column].heading)
                                                : QString();
}

int ColumnWidth(int column) {
    return column >= 0 && column < kColumnCount ? kColumns[column].width : 0;
}

int BitmapForImage(int image) {
    switch (image) {
        case kImageVideo:
            return IDB_ROW_VIDEO;
        case kImageAudio:
            return IDB_ROW_AUDIO;
        default:
            return IDB_ROW_VIDEO_AUDIO;
    }
}

QString FileNameOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString SizeText(std::int64_t bytes) {
    // 64-bit all the way: files beyond 2 TiB still show their size.
    return QString::number(bytes / 1024) + QStringLiteral(" K");
}

int RowImageFor(const CProjectItem& clip) {
    if (clip.GetHasVideo()) return clip.GetHasAudio() ? kImageVideoAudio : kImageVideo;
    return clip.GetFileSize() != 0 ? kImageAudio : kImageVideoAudio;
}

QString FrameSizeColumnText(const CProjectItem& clip, int image) {
    return image == kImageAudio ? QStringLiteral("n/a")
                                : QString::fromStdString(clip.FrameSizeText());
}

QString DurationColumnText(const CProjectItem& clip) {
    return QString::fromStdString(FormatDuration(clip.GetDuration() / kRefTimePerSecond));
}

QStringList AddClipFilters() {
    return {
        QStringLiteral("Movie Files (*.avi *.mpg *.mpeg *.vob *.wmv *.asf)"),
        QStringLiteral("Audio Files (*.wav *.mp3 *.mpa *.mpu *.au *.aac)"),
        QStringLiteral("All Files (*)"),
    };
}

}  // namespace cliplist
