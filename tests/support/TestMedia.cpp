#include "TestMedia.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace testmedia {

namespace {

struct Recipe {
    const char* name;
    const char* ext;
    QStringList args;  // between the inputs and the output
    bool video;
    bool audio;
    const char* videoSource;
    const char* audioSource;
};

Recipe RecipeFor(Kind kind) {
    switch (kind) {
        case Kind::AviMpeg4Mp3:
            return {"mpeg4mp3",
                    "avi",
                    {"-c:v", "mpeg4", "-vtag", "XVID", "-c:a", "libmp3lame", "-b:a", "128k"},
                    true,
                    true,
                    "testsrc=size=320x240:rate=25",
                    "sine=frequency=440:sample_rate=44100"};
        case Kind::AviMjpegPcm:
            return {"mjpegpcm",
                    "avi",
                    {"-c:v", "mjpeg", "-pix_fmt", "yuvj420p", "-c:a", "pcm_s16le", "-ac", "1"},
                    true,
                    true,
                    "testsrc=size=176x144:rate=15",
                    "sine=frequency=330:sample_rate=22050"};
        case Kind::AviRawVideo:
            return {"rawrgb", "avi", {"-c:v", "rawvideo", "-pix_fmt", "bgr24"},
                    true,     false, "testsrc=size=160x120:rate=10",
                    nullptr};
        case Kind::Mpeg1System:
            return {"mpeg1",
                    "mpg",
                    {"-c:v", "mpeg1video", "-b:v", "1000k", "-c:a", "mp2", "-f", "mpeg"},
                    true,
                    true,
                    "testsrc=size=352x288:rate=25",
                    "sine=frequency=440:sample_rate=44100"};
        case Kind::Mpeg2Program:
            return {"mpeg2",
                    "mpg",
                    {"-c:v", "mpeg2video", "-b:v", "3000k", "-c:a", "mp2", "-f", "vob"},
                    true,
                    true,
                    "testsrc=size=720x576:rate=25",
                    "sine=frequency=440:sample_rate=48000"};
        case Kind::Vob:
            return {"dvd",
                    "vob",
                    {"-c:v", "mpeg2video", "-b:v", "3000k", "-c:a", "ac3", "-f", "vob"},
                    true,
                    true,
                    "testsrc=size=720x576:rate=25",
                    "sine=frequency=440:sample_rate=48000"};
        case Kind::Wmv:
            return {"wmv",
                    "wmv",
                    {"-c:v", "wmv2", "-c:a", "wmav2"},
                    true,
                    true,
                    "testsrc=size=320x240:rate=25",
                    "sine=frequency=440:sample_rate=44100"};
        case Kind::WavPcm:
            return {"pcm", "wav",   {"-c:a", "pcm_s16le", "-ac", "2"},     false,
                    true,  nullptr, "sine=frequency=440:sample_rate=44100"};
        case Kind::WavMono22k:
            return {"mono22k", "wav",   {"-c:a", "pcm_s16le", "-ac", "1"},     false,
                    true,      nullptr, "sine=frequency=440:sample_rate=22050"};
        case Kind::Mp3:
            return {"song",
                    "mp3",
                    {"-c:a", "libmp3lame", "-b:a", "128k", "-ac", "2"},
                    false,
                    true,
                    nullptr,
                    "sine=frequency=440:sample_rate=44100"};
        case Kind::Au:
            return {"voice",
                    "au",
                    {"-c:a", "pcm_mulaw", "-ac", "1", "-ar", "8000"},
                    false,
                    true,
                    nullptr,
                    "sine=frequency=440:sample_rate=8000"};
        case Kind::Aac:
            return {"music", "aac",   {"-c:a", "aac", "-b:a", "96k"},        false,
                    true,    nullptr, "sine=frequency=440:sample_rate=44100"};
    }
    return {};
}

double Rational(const QString& text) {
    const QStringList parts = text.split('/');
    if (parts.size() == 2 && parts[1].toDouble() != 0)
        return parts[0].toDouble() / parts[1].toDouble();
    return text.toDouble();
}

}  // namespace

int RunProgram(const QString& program, const QStringList& args, QString* output, int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000)) return -1;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    if (output) *output = QString::fromUtf8(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int RunFfmpeg(const QStringList& args) {
    return RunProgram("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
}

QString MakeClip(Kind kind, const QString& folder, double seconds) {
    const Recipe r = RecipeFor(kind);
    const QString path = QString("%1/%2_%3s.%4").arg(folder, r.name).arg(seconds).arg(r.ext);
    if (QFileInfo::exists(path)) return path;
    QStringList args;
    const QString length = QString::number(seconds);
    if (r.video)
        args << "-f"
             << "lavfi"
             << "-t" << length << "-i" << r.videoSource;
    if (r.audio)
        args << "-f"
             << "lavfi"
             << "-t" << length << "-i" << r.audioSource;
    args << r.args << path;
    return RunFfmpeg(args) == 0 ? path : QString();
}

ProbeResult Probe(const QString& path) {
    ProbeResult result;
    QString json;
    if (RunProgram("ffprobe",
                   {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", path},
                   &json) != 0)
        return result;
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8()).object();
    const QJsonObject format = root["format"].toObject();
    result.ok = !format.isEmpty();
    result.formatName = format["format_name"].toString();
    result.duration = format["duration"].toString().toDouble();
    for (const QJsonValue& value : root["streams"].toArray()) {
        const QJsonObject s = value.toObject();
        if (s["codec_type"] == "video" && result.videoCodec.isEmpty()) {
            result.videoCodec = s["codec_name"].toString();
            result.width = s["width"].toInt();
            result.pixelFormat = s["pix_fmt"].toString();
            result.height = s["height"].toInt();
            result.frameRate = Rational(s["r_frame_rate"].toString());
        } else if (s["codec_type"] == "audio" && result.audioCodec.isEmpty()) {
            result.audioCodec = s["codec_name"].toString();
            result.sampleRate = s["sample_rate"].toString().toInt();
            result.channels = s["channels"].toInt();
            result.audioBitRate = s["bit_rate"].toString().toLongLong();
        }
    }
    return result;
}

bool DecodesCleanly(const QString& path) {
    QProcess process;
    process.start("ffmpeg", {"-hide_banner", "-v", "error", "-i", path, "-f", "null", "-"});
    if (!process.waitForFinished(120000)) {
        process.kill();
        return false;
    }
    return process.exitCode() == 0 && process.readAllStandardError().trimmed().isEmpty();
}

}  // namespace testmedia
