#include "MediaFramework.h"

#include <dlfcn.h>
#include <ges/ges.h>
#include <gst/gst.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "GstPtr.h"

std::string PluginFolderFor(const std::string& executableFolder) {
    const std::filesystem::path folder(executableFolder);
    std::error_code error;
    if (std::filesystem::is_directory(folder / "plugins", error))
        return (folder / "plugins").string();
    return (folder / KESTRINE_INSTALLED_PLUGIN_DIR).lexically_normal().string();
}

std::string PluginFolder() {
    if (const char* env = std::getenv("KESTRINE_PLUGIN_DIR"); env && *env) return env;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "plugins";
    std::string path(exe, static_cast<size_t>(n));
    auto slash = path.rfind('/');
    return PluginFolderFor(slash == std::string::npos ? std::string(".") : path.substr(0, slash));
}

namespace {

GST_DEBUG_CATEGORY_STATIC(kestrine_framework_debug);

// A damaged file's tag that is not valid UTF-8 makes the framework warn on the terminal ("Trying
// to set string on taglist field ..."); the tag is dropped all the same, so the remark goes to
// the debug log. Every other message of the domain keeps the default handling.
void OnFrameworkMessage(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    if (message && std::strstr(message, "is not valid UTF-8")) {
        GST_CAT_INFO(kestrine_framework_debug, "%s", message);
        return;
    }
    g_log_default_handler(domain, level, message, nullptr);
}

// MPEG audio goes to libmpg123: the framework ranks its three decoders alike and would pick
// libavcodec's fixed-point one by name, which takes more than twice as long and, for a file
// with nothing else to decode, loads the whole of libavcodec besides. Only this process's view
// of the registry changes.
void PreferFastDecoders() {
    if (GstPluginFeature* mpg123 =
            gst_registry_lookup_feature(gst_registry_get(), "mpg123audiodec")) {
        if (gst_plugin_feature_get_rank(mpg123) <= GST_RANK_SECONDARY)
            gst_plugin_feature_set_rank(mpg123, GST_RANK_SECONDARY + 1);
        gst_object_unref(mpg123);
    }
}

// The editing services start an embedded Python interpreter when they initialise, for a
// timeline file formatter (OpenTimelineIO) that this program never uses. The interpreter's
// site import (the installed packages, their path files) is most of that start: up to a third
// of a second per process on a loaded machine. Without it the interpreter starts in a few
// milliseconds and the formatter is simply not offered. The flag belongs to the interpreter
// the editing services load with them; where that has no such flag nothing changes.
void LeavePythonSiteOut() {
    using IsInitialized = int (*)();
    auto* initialized = reinterpret_cast<IsInitialized>(dlsym(RTLD_DEFAULT, "Py_IsInitialized"));
    if (initialized && initialized()) return;  // a host's own interpreter keeps its settings
    if (auto* noSite = static_cast<int*>(dlsym(RTLD_DEFAULT, "Py_NoSiteFlag"))) *noSite = 1;
}

}  // namespace

HRESULT InitMediaFramework(std::string* failureText) {
    static std::once_flag once;
    static HRESULT result = E_FAIL;
    static std::string failure;
    std::call_once(once, [] {
        // The project's plugin folder goes on the framework's own plugin path, so that its
        // plugins are kept in the registry cache like any other: scanned once, not at every start
        // (a scan loads each plugin in a helper process, which takes about half a second).
        const std::string folder = PluginFolder();
        const char* inherited = g_getenv("GST_PLUGIN_PATH");
        const std::string searchPath =
            inherited && *inherited ? folder + G_SEARCHPATH_SEPARATOR_S + inherited : folder;
        g_setenv("GST_PLUGIN_PATH", searchPath.c_str(), TRUE);
        GError* rawError = nullptr;
        if (!gst_init_check(nullptr, nullptr, &rawError)) {
            GErrorPtr error(rawError);
            failure = error ? error->message : "GStreamer could not be initialised";
            return;
        }
        // Scanning again finds them unchanged; it only matters when the registry could not be
        // updated at start-up. A missing folder just means the optional elements are absent
        // (callers check with HasElementFactory).
        gst_registry_scan_path(gst_registry_get(), folder.c_str());
        GST_DEBUG_CATEGORY_INIT(kestrine_framework_debug, "kestrineframework", 0,
                                "Kestrine: the media framework's remarks on damaged files");
        g_log_set_handler("GStreamer", G_LOG_LEVEL_WARNING, OnFrameworkMessage, nullptr);
        PreferFastDecoders();
        LeavePythonSiteOut();
        if (!ges_init()) {
            failure = "GStreamer Editing Services could not be initialised";
            return;
        }
        result = S_OK;
    });
    if (FAILED(result) && failureText) *failureText = failure;
    return result;
}

bool HasElementFactory(const char* name) {
    GstElementFactory* factory = gst_element_factory_find(name);
    if (!factory) return false;
    gst_object_unref(factory);
    return true;
}
