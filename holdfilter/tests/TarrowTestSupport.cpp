#include "TarrowTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace tarrowtest {

std::string PluginDir() {
    const char* dir = std::getenv("KESTRINE_PLUGIN_DIR");
    return dir && *dir ? dir : TARROW_BUILT_PLUGIN_DIR;
}

GstElementPtr MakeHold(const char* name) {
    GstElement* element = gst_element_factory_make("tarrowhold", name);
    if (element) gst_object_ref_sink(element);
    return GstElementPtr(element);
}

GstMessagePtr WaitForMessage(GstElement* pipeline, int types, int timeoutMs) {
    GstBusPtr bus(gst_element_get_bus(pipeline));
    return GstMessagePtr(gst_bus_timed_pop_filtered(bus.get(), timeoutMs * GST_MSECOND,
                                                    static_cast<GstMessageType>(types)));
}

namespace {

// Starts GStreamer once and adds the built plugin to the registry, as the application does.
class PluginEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        gst_registry_scan_path(gst_registry_get(), PluginDir().c_str());
        GstElementFactory* factory = gst_element_factory_find("tarrowhold");
        if (!factory) {
            // A failed environment would only skip the tests: fail the run loudly instead.
            std::fprintf(stderr, "tarrowhold not found in %s\n", PluginDir().c_str());
            std::exit(1);
        }
        gst_object_unref(factory);
    }
    // Lets the leaks tracer (GST_TRACERS=leaks) report what the tests left alive.
    void TearDown() override { gst_deinit(); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new PluginEnvironment);

}  // namespace
}  // namespace tarrowtest
