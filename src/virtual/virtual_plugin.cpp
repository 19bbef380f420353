#include "virtual/virtual_plugin.h"

#include "virtual/virtual_device_provider.h"

#include <gst/gst.h>

namespace {

gboolean pluginInit(GstPlugin* plugin)
{
    return kad_virtual_devices_register(plugin);
}

} // namespace

namespace kad {

bool registerVirtualDevices()
{
    static const bool registered = gst_plugin_register_static(
        GST_VERSION_MAJOR, GST_VERSION_MINOR, "kadrillovirtual",
        "Simulated capture devices standing in for Kadrillo's hardware", pluginInit, "3.3c",
        "Proprietary", "kadrillo", "Kadrillo", "https://kadrillo.invalid/");
    return registered;
}

} // namespace kad
