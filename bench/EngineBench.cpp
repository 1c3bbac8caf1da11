// Speed of whole conversions through the engine, side by side with ffmpeg on the same input:
// AVI uncompressed, AVI with MJPEG + MP3, and MPEG for DVD PAL, plus the cost of the preview
// branch. Prints wall times, x realtime and the ratios engine/ffmpeg.
//
// Usage: bench_engine [seconds]   (default 10; KESTRINE_PLUGIN_DIR must name the plugin folder
// when the executable does not sit beside it)
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "ConversionHost.h"
#include "MediaFramework.h"
#include "TestMedia.h"

namespace {

// A window stand-in: the preview pane copies each frame it is given, as the real pane does.
struct BenchWindow : IConversionView, INotifyTarget, IPreviewPane {
    bool withPane = false;
    std::mutex lock;
    std::vector<std::uint8_t> frame;
    int frames = 0;

    IPreviewPane* PreviewPane() override { return withPane ? this : nullptr; }
    INotifyTarget* NotifyTarget() override { return this; }
    void OnMediaNotify(int, int, std::intptr_t, std::intptr_t) override {}
    INotifyTarget* NotifyParent() const override { return const_cast<BenchWindow*>(this); }
    bool PaneRect(PreviewRect& rect) const override {
        rect = {0, 0, 320, 240};
        return true;
    }
    void PresentFrame(const std::uint8_t* rgb, int, int height, int stride) override {
        std::lock_guard<std::mutex> guard(lock);
        frame.assign(rgb, rgb + std::size_t(stride) * height);
        ++frames;
    }
    void ClearFrame() override {}
};

CProjectItem ClipFor(const QString& path) {
    CProjectItem clip;
    const auto facts = testmedia::Probe(path);
    clip.SetPath(path.toStdString());
    clip.SetName(QFileInfo(path).fileName().toStdString());
    clip.SetHasVideo(!facts.videoCodec.isEmpty());
    clip.SetHasAudio(!facts.audioCodec.isEmpty());
    clip.SetDuration(RefTime(facts.duration * kRefTimePerSecond));
    clip.SetMediaStop(clip.GetDuration());
    return clip;
}

ElementRef Make(const char* factory) {
    return AdoptElement(gst_element_factory_make(factory, nullptr));
}

// Best of three runs (the machine is shared), in seconds; -1 on failure.
template <typename Run>
double BestOf(Run run) {
    double best = -1;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!run()) return -1;
        const double t = timer.nsecsElapsed() / 1e9;
        if (best < 0 || t < best) best = t;
    }
    return best;
}

double Engine(const QString& source, const QString& dest, ConversionSettings settings,
              bool preview) {
    return BestOf([&] {
        BenchWindow window;
        window.withPane = preview;
        CConversionHost host(window);
        CProjectItem clip = ClipFor(source);
        return host.ConvertClip(dest.toStdString(), clip, settings).code == S_OK;
    });
}

double Ffmpeg(const QString& source, const QStringList& output) {
    return BestOf([&] {
        QStringList args{"-hide_banner", "-loglevel", "error", "-y", "-i", source};
        args << output;
        return testmedia::RunProgram("ffmpeg", args, nullptr, 600000) == 0;
    });
}

void Report(const char* what, double seconds, double engine, double ffmpeg) {
    std::printf("%-28s engine %6.2f s (%5.1fx realtime)", what, engine, seconds / engine);
    if (ffmpeg > 0) std::printf("   ffmpeg %6.2f s   ratio %.2f", ffmpeg, engine / ffmpeg);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (std::string why; FAILED(InitMediaFramework(&why))) {
        std::fprintf(stderr, "media framework: %s\n", why.c_str());
        return 1;
    }
    QTemporaryDir dir;
    const QString source = testmedia::MakeClip(testmedia::Kind::Mpeg2Program, dir.path(), seconds);
    if (source.isEmpty()) return 1;
    std::printf("input: %s, %.0f s 720x576 25 fps MPEG-2 + MP2\n",
                qPrintable(QFileInfo(source).fileName()), seconds);

    ConversionSettings raw;
    raw.outputFormat = Avi;
    raw.widthText = "720";
    raw.heightText = "576";
    raw.frameRateText = "25";
    WaveFormat pcm;
    pcm.samplesPerSec = 48000;
    pcm.channels = 2;
    raw.audioFormat = pcm;
    const double rawNoPreview = Engine(source, dir.filePath("raw.avi"), raw, false);
    const double rawPreview = Engine(source, dir.filePath("raw.avi"), raw, true);
    Report("AVI uncompressed", seconds, rawPreview,
           Ffmpeg(source, {"-c:v", "rawvideo", "-pix_fmt", "bgr24", "-c:a", "pcm_s16le",
                           dir.filePath("ff_raw.avi")}));
    std::printf("%-28s %+.1f %%\n", "  preview branch cost",
                100.0 * (rawPreview - rawNoPreview) / rawNoPreview);

    ConversionSettings mjpeg = raw;
    mjpeg.videoEncoder = Make("avenc_mjpeg");
    mjpeg.audioEncoder = Make("lamemp3enc");
    WaveFormat mp3 = pcm;
    mp3.formatTag = kFormatTagMp3;
    mp3.encoderCaps = "audio/mpeg, mpegversion=1, layer=3, rate=48000, channels=2";
    mp3.encoderProperties = {{"target", "bitrate"}, {"bitrate", "192"}, {"cbr", "true"}};
    mjpeg.audioFormat = mp3;
    const double mjpegPreview = Engine(source, dir.filePath("mjpeg.avi"), mjpeg, true);
    const double mjpegNoPreview = Engine(source, dir.filePath("mjpeg.avi"), mjpeg, false);
    Report("AVI MJPEG + MP3", seconds, mjpegPreview,
           Ffmpeg(source, {"-c:v", "mjpeg", "-pix_fmt", "yuvj420p", "-c:a", "libmp3lame", "-b:a",
                           "192k", dir.filePath("ff_mjpeg.avi")}));
    std::printf("%-28s %+.1f %%\n", "  preview branch cost",
                100.0 * (mjpegPreview - mjpegNoPreview) / mjpegNoPreview);

    if (HasElementFactory("kestrinempegwriter")) {
        ConversionSettings dvd = raw;
        dvd.outputFormat = Mpeg;
        dvd.audioFormat.reset();
        dvd.mpegEncoder = Make("kestrinempegwriter");
        g_object_set(dvd.mpegEncoder.get(), "preset", 4, nullptr);
        Report("MPEG DVD PAL", seconds, Engine(source, dir.filePath("dvd.mpg"), dvd, true),
               Ffmpeg(source, {"-target", "pal-dvd", dir.filePath("ff_dvd.mpg")}));
    } else {
        std::printf("MPEG DVD PAL: kestrinempegwriter is not installed\n");
    }
    return 0;
}
