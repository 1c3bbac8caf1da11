// Speed of "MPEG Writer Filter" on the DVD PAL preset: 10 s of moving 720x576 I420 video and
// 48 kHz stereo PCM, written as fast as the element allows. Prints the time, the speed in x
// realtime, the cost of the sources alone, and ffmpeg's time for the same target as a yardstick.
//
// Usage: bench_mpeg_writer [seconds]   (KESTRINE_PLUGIN_DIR must name the plugin folder when the
// executable does not sit beside it)
#include <gst/gst.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "GstPtr.h"
#include "MediaFramework.h"
#include "TestMedia.h"

namespace {

// Runs a gst-launch style description to EOS; returns the wall time in seconds, or -1.
double TimePipeline(const std::string& description) {
    GError* rawError = nullptr;
    GstElementPtr pipeline(gst_parse_launch(description.c_str(), &rawError));
    GErrorPtr error(rawError);
    if (!pipeline) {
        std::fprintf(stderr, "cannot build: %s\n", error ? error->message : "?");
        return -1;
    }
    gst_pipeline_use_clock(GST_PIPELINE(pipeline.get()), nullptr);
    QElapsedTimer timer;
    timer.start();
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstBusPtr bus(gst_element_get_bus(pipeline.get()));
    GstMessagePtr msg(gst_bus_timed_pop_filtered(
        bus.get(), 600 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    double seconds = timer.nsecsElapsed() / 1e9;
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (!msg || GST_MESSAGE_TYPE(msg.get()) != GST_MESSAGE_EOS) {
        std::fprintf(stderr, "pipeline did not finish\n");
        return -1;
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (FAILED(InitMediaFramework()) || !HasElementFactory("kestrinempegwriter")) {
        std::fprintf(stderr, "kestrinempegwriter is not available (KESTRINE_PLUGIN_DIR?)\n");
        return 1;
    }
    QTemporaryDir dir;
    const std::string out = dir.filePath("bench.mpg").toStdString();
    const int frames = seconds * 25;
    const int audioBuffers = seconds * 25;  // 1920 samples = 40 ms each
    const std::string video =
        "videotestsrc pattern=smpte horizontal-speed=4 num-buffers=" + std::to_string(frames) +
        " ! video/x-raw,format=I420,width=720,height=576,framerate=25/1";
    const std::string audio = "audiotestsrc wave=ticks samplesperbuffer=1920 num-buffers=" +
                              std::to_string(audioBuffers) +
                              " ! audio/x-raw,format=S16LE,rate=48000,channels=2";

    double sources = TimePipeline(video + " ! fakesink  " + audio + " ! fakesink");
    // Pad names with spaces cannot be written in a launch line: "w." links each branch to the
    // writer's pad whose caps fit.
    double writer = TimePipeline("kestrinempegwriter name=w preset=4 location=\"" + out + "\"  " +
                                 video + " ! w.  " + audio + " ! w.");
    if (sources < 0 || writer < 0) return 1;

    std::printf("MPEG DVD PAL, %d s of media\n", seconds);
    std::printf("  sources alone      %6.2f s\n", sources);
    std::printf("  kestrinempegwriter %6.2f s  = %5.1f x realtime (%5.1f x without sources)\n",
                writer, seconds / writer, seconds / (writer - sources));

    const QString ffOut = dir.filePath("ffmpeg.mpg");
    QElapsedTimer timer;
    timer.start();
    int rc = testmedia::RunProgram(
        "ffmpeg",
        {"-v", "error", "-y", "-f", "lavfi", "-i",
         QString("smptebars=size=720x576:rate=25:duration=%1").arg(seconds), "-f", "lavfi", "-i",
         QString("sine=sample_rate=48000:duration=%1").arg(seconds), "-ac", "2", "-target",
         "pal-dvd", ffOut},
        nullptr, 600000);
    if (rc == 0)
        std::printf("  ffmpeg -target pal-dvd %6.2f s (same frames from lavfi, yardstick)\n",
                    timer.nsecsElapsed() / 1e9);
    return 0;
}
