#pragma once

#include <string>

#include "Result.h"

// Starts GStreamer and its editing services once per process and makes the project's own
// plugins (the hold element and the writers) known to the registry. The plugin folder is
// $KESTRINE_PLUGIN_DIR when set, else PluginFolderFor the running executable's folder. Safe to
// call more than once; returns E_FAIL, and the framework's reason in failure when given, when
// the framework cannot start.
HRESULT InitMediaFramework(std::string* failure = nullptr);

// The folder searched for the project's own plugins.
std::string PluginFolder();

// The plugin folder of an executable in that folder: "plugins" beside it where that folder
// exists (a build tree), else the folder the installation puts the plugins in, found from the
// executable's installed folder (bin) so that a relocated installation (DESTDIR, another prefix)
// still finds its own.
std::string PluginFolderFor(const std::string& executableFolder);

// True when an element factory of that name is in the registry.
bool HasElementFactory(const char* name);
