#include "elements/plugin.h"
#include "elements/virtual_device_provider.h"

#include <gst/gst.h>

namespace {

// The program's own plugin: the production elements and, beside them, the
// virtual devices that stand in for hardware in tests and demonstrations.
gboolean pluginInit(GstPlugin* plugin)
{
    gboolean ok = kad::registerProductionElements(plugin);
    ok = kad_virtual_devices_register(plugin) && ok;
    return ok;
}

} // namespace

namespace kad {

bool registerElements()
{
    static const bool registered = gst_plugin_register_static(
        GST_VERSION_MAJOR, GST_VERSION_MINOR, "kadrillo", "Kadrillo's own capture elements",
        pluginInit, "3.3c", "LGPL", "kadrillo", "Kadrillo", "https://kadrillo.invalid/");
    return registered;
}

} // namespace kad
