#include "elements/plugin.h"

#include <gst/gst.h>

namespace {

// One line per element of ours; each element's header declares its
// kad_<name>_register() that adds the factory to the plugin.
gboolean pluginInit(GstPlugin* plugin)
{
    gboolean ok = TRUE;
    (void)plugin;
    return ok;
}

} // namespace

namespace kad {

bool registerElements()
{
    static const bool registered =
        gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "kadrillo",
                                   "Kadrillo's own capture elements", pluginInit, "3.3c",
                                   "LGPL", "kadrillo", "Kadrillo", "https://kadrillo.invalid/");
    return registered;
}

} // namespace kad
