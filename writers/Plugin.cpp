// The project's writer elements, in one plugin that the application adds from its plugin folder.
#include <gst/gst.h>

extern "C" {
#include <libavutil/log.h>
}

#include <cstring>

#include "KestrinMpegWriter.h"
#include "KestrinWavWriter.h"

#define PACKAGE "kestrine"
#define GST_PACKAGE_NAME "Brontwell Kestrine"
#define GST_PACKAGE_ORIGIN "https://brontwell.example/kestrine"

GST_DEBUG_CATEGORY_STATIC(kestrine_libav_debug);

// The codec libraries' own messages ("rc buffer underflow", "clipping dct coefficients") are
// remarks on the encoding, not on the user's conversion: they go to a debug category, seen with
// GST_DEBUG=kestrinelibav:5, instead of the terminal. Any thread that calls into libav.
static void LogToDebug(void* context, int level, const char* format, va_list args) {
    const GstDebugLevel to = level <= AV_LOG_ERROR     ? GST_LEVEL_ERROR
                             : level <= AV_LOG_WARNING ? GST_LEVEL_WARNING
                             : level <= AV_LOG_INFO    ? GST_LEVEL_INFO
                             : level <= AV_LOG_VERBOSE ? GST_LEVEL_DEBUG
                                                       : GST_LEVEL_LOG;
    if (to > gst_debug_category_get_threshold(kestrine_libav_debug)) return;
    thread_local int printPrefix = 1;
    char line[1024];
    av_log_format_line2(context, level, format, args, line, sizeof line, &printPrefix);
    std::size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        line[--length] = '\0';
    if (length > 0)
        gst_debug_log(kestrine_libav_debug, to, __FILE__, "libav", __LINE__, nullptr, "%s", line);
}

static gboolean plugin_init(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(kestrine_libav_debug, "kestrinelibav", 0,
                            "Kestrine: messages of the codec libraries");
    // gst-libav, when it is loaded after this plugin, puts its own handler in place, which also
    // logs to the debug system.
    av_log_set_callback(LogToDebug);
    gboolean ok = GST_ELEMENT_REGISTER(kestrinempegwriter, plugin);
    ok = GST_ELEMENT_REGISTER(kestrinwavwriter, plugin) && ok;
    return ok;
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kestrinwriters,
                  "Kestrine's MPEG and WAV writers", plugin_init, "1.0.0", "LGPL", PACKAGE,
                  GST_PACKAGE_ORIGIN)
