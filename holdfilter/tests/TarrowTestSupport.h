#pragma once

#include <gst/gst.h>

#include <string>

#include "GstPtr.h"

namespace tarrowtest {

// The folder the built plugin is in ($KESTRINE_PLUGIN_DIR).
std::string PluginDir();

// A new "tarrowhold" element from the registry (the test environment scanned the plugin).
GstElementPtr MakeHold(const char* name = "Tarrow Hold");

// Pops the first message of the given types from the pipeline's bus, bounded by timeoutMs.
GstMessagePtr WaitForMessage(GstElement* pipeline, int types, int timeoutMs);

}  // namespace tarrowtest
