#include "elements/plugin.h"
#include "elements/display_sink.h"
#include "elements/dump_writer.h"
#include "elements/dv_audio_pack.h"
#include "elements/dv_avi_writer.h"
#include "elements/horodex.h"
#include "elements/sample_grabber.h"
#include "elements/smart_tee.h"
#include "elements/virtual_device_provider.h"

#include <gst/gst.h>

namespace {

// One line per element of ours; each element's header declares its
// kad_<name>_register() that adds the factory to the plugin.
gboolean pluginInit(GstPlugin* plugin)
{
    gboolean ok = TRUE;
    ok = kad_smart_tee_register(plugin) && ok;
    ok = kad_dv_avi_writer_register(plugin) && ok;
    ok = kad_dump_writer_register(plugin) && ok;
    ok = kad_dv_audio_pack_register(plugin) && ok;
    ok = kad_horodex_register(plugin) && ok;
    ok = kad_sample_grabber_register(plugin) && ok;
    ok = kad_display_sink_register(plugin) && ok;
    ok = kad_virtual_devices_register(plugin) && ok;
    (void)plugin;
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
