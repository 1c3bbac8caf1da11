#pragma once

#include <QString>
#include <QStringList>

// Short generated clips for tests, made with ffmpeg's lavfi sources. Each call writes the file
// (when it does not exist yet) and returns its path. Clips are 2 s unless told otherwise.
namespace testmedia {

enum class Kind {
    AviMpeg4Mp3,   // 320x240 25 fps MPEG-4 Part 2 + MP3 stereo 44.1 kHz in AVI
    AviMjpegPcm,   // 176x144 15 fps MJPEG + PCM mono 22.05 kHz in AVI
    AviRawVideo,   // 160x120 10 fps uncompressed RGB24, no audio
    Mpeg1System,   // 352x288 25 fps MPEG-1 + MP2 program stream (.mpg)
    Mpeg2Program,  // 720x576 25 fps MPEG-2 + MP2 program stream (.mpg)
    Vob,           // MPEG-2 + AC-3 in a DVD program stream (.vob)
    Wmv,           // WMV2 + WMA2 in ASF (.wmv)
    WavPcm,        // PCM 16-bit stereo 44.1 kHz
    WavMono22k,    // PCM 16-bit mono 22.05 kHz
    Mp3,           // MP3 128 kb/s stereo 44.1 kHz
    Au,            // Sun AU, mu-law mono 8 kHz
    Aac,           // AAC in ADTS
};

// Writes the clip into folder (file name derived from the kind and seconds); empty on failure.
QString MakeClip(Kind kind, const QString& folder, double seconds = 2.0);

// Runs a program with arguments, bounded by timeoutMs; returns its exit code (-1 on time-out
// or when it could not start) and fills output with stdout.
int RunProgram(const QString& program, const QStringList& args, QString* output = nullptr,
               int timeoutMs = 60000);

// Runs ffmpeg quietly (errors only), overwriting its output; returns its exit code.
int RunFfmpeg(const QStringList& args);

// Facts about a written file, read by ffprobe (the independent checker).
struct ProbeResult {
    bool ok = false;      // ffprobe could read the file
    QString formatName;   // e.g. "avi", "mpeg", "wav", "mp3"
    double duration = 0;  // seconds, from the container
    QString videoCodec;   // e.g. "rawvideo", "mpeg1video"; empty without video
    int width = 0, height = 0;
    QString pixelFormat;   // e.g. "yuv420p", "bgr24"
    double frameRate = 0;  // r_frame_rate as a number
    QString audioCodec;    // e.g. "pcm_s16le", "mp3"; empty without audio
    int sampleRate = 0, channels = 0;
    qint64 audioBitRate = 0;  // bits per second
};
ProbeResult Probe(const QString& path);

// Decodes the whole file with ffmpeg to null; true when it decodes without errors.
bool DecodesCleanly(const QString& path);

}  // namespace testmedia
