#pragma once

#include <string>

#include "Result.h"

// Starts GStreamer and its editing services once per process and makes the project's own
// plugins (the hold element and the writers) known to the registry. The plugin folder is
// $KESTRINE_PLUGIN_DIR when set, else "plugins" beside the running executable. Safe to call
// more than once; returns E_FAIL with MediaErrorText() set when the framework cannot start.
HRESULT InitMediaFramework();

// The folder searched for the project's own plugins.
std::string PluginFolder();

// True when an element factory of that name is in the registry.
bool HasElementFactory(const char* name);
