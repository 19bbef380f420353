#pragma once

#include <gst/gst.h>

namespace kad {

// Registers Kadrillo's production elements as the program's static plugin.
// The virtual devices register apart (virtual/virtual_plugin.h). Safe to call
// more than once; gst_init() must have run.
bool registerElements();

// Adds the production elements (no virtual devices) to plugin: the static
// plugin of the program and the loadable plugin share this list.
bool registerProductionElements(GstPlugin* plugin);

} // namespace kad
