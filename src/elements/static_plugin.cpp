#include "elements/plugin.h"

#include <gst/gst.h>

namespace {

gboolean pluginInit(GstPlugin* plugin)
{
    return kad::registerProductionElements(plugin) ? TRUE : FALSE;
}

} // namespace

namespace kad {

bool registerElements()
{
    static const bool registered = gst_plugin_register_static(
        GST_VERSION_MAJOR, GST_VERSION_MINOR, "kadrillo", "Kadrillo's own capture elements",
        pluginInit, "3.3c", "Proprietary", "kadrillo", "Kadrillo", "https://kadrillo.invalid/");
    return registered;
}

} // namespace kad
