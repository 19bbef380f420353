// The loadable GStreamer plugin: Kadrillo's production elements for
// gst-inspect-1.0, gst-launch-1.0 and other programs, found through
// GST_PLUGIN_PATH. The virtual devices stay out: the program, the tests and
// the benchmarks register them as a static plugin of their own.

#include "elements/plugin.h"

#include <gst/gst.h>

namespace {

gboolean pluginInit(GstPlugin* plugin)
{
    return kad::registerProductionElements(plugin) ? TRUE : FALSE;
}

} // namespace

#define PACKAGE "kadrillo"

GST_PLUGIN_DEFINE(
    GST_VERSION_MAJOR, GST_VERSION_MINOR, kadrillo,
    "Kadrillo's capture elements: overlay, datecode, time stamps, writers, Smart Tee, "
    "grabber and display",
    pluginInit, "3.3c", "Proprietary", "Kadrillo", "https://kadrillo.invalid/")
