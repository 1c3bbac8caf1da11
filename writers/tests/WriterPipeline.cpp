#include "WriterPipeline.h"

#include <sys/resource.h>

#include <QDir>
#include <csignal>

namespace writertest {

bool AddBranch(GstElement* pipeline, const char* source, int buffers, const char* caps,
               const char* converters, GstElement* writer, const char* padName) {
    std::string description = std::string(source) + " num-buffers=" + std::to_string(buffers) +
                              " ! capsfilter caps=\"" + caps + "\"";
    if (converters && *converters) description += std::string(" ! ") + converters;
    GError* rawError = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), TRUE, &rawError);
    GErrorPtr error(rawError);
    if (!bin) return false;
    gst_bin_add(GST_BIN(pipeline), bin);
    return gst_element_link_pads(bin, "src", writer, padName);
}

RunResult RunToEnd(GstElement* pipeline, int timeoutMs) {
    RunResult result;
    GstBusPtr bus(gst_element_get_bus(pipeline));
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        result.error = "state change failed";
    gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    while (!result.eos) {
        gint64 left = deadline - g_get_monotonic_time();
        if (left <= 0) {
            if (result.error.empty()) result.error = "timed out";
            break;
        }
        GstMessagePtr msg(
            gst_bus_timed_pop_filtered(bus.get(), GstClockTime(left) * 1000,
                                       GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (!msg) continue;
        if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS) {
            result.eos = true;
        } else {
            GError* rawError = nullptr;
            gst_message_parse_error(msg.get(), &rawError, nullptr);
            GErrorPtr error(rawError);
            result.error = error ? error->message : "error";
            break;
        }
    }
    if (result.eos) gst_element_query_position(pipeline, GST_FORMAT_TIME, &result.position);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return result;
}

FileSizeLimit::FileSizeLimit(long bytes) {
    // Without this the kernel ends the process with SIGXFSZ instead of failing the write.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    m_oldSoft = static_cast<long>(limit.rlim_cur);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(m_oldSoft);
    setrlimit(RLIMIT_FSIZE, &limit);
}

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace writertest
