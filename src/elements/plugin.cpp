#include "elements/plugin.h"
#include "elements/avi_writer.h"
#include "elements/chronix2.h"
#include "elements/display_sink.h"
#include "elements/dump_writer.h"
#include "elements/dv_audio_pack.h"
#include "elements/dv_avi_writer.h"
#include "elements/horodex.h"
#include "elements/lumatex3.h"
#include "elements/sample_grabber.h"
#include "elements/smart_tee.h"

#include <gst/gst.h>

namespace kad {

// One line per production element; each element's header declares its
// kad_<name>_register() that adds the factory to the plugin. The virtual
// devices live in a library of their own above this one and register as a
// plugin of their own, never in the loadable one.
bool registerProductionElements(GstPlugin* plugin)
{
    gboolean ok = TRUE;
    ok = kad_smart_tee_register(plugin) && ok;
    ok = kad_dv_avi_writer_register(plugin) && ok;
    ok = kad_avi_writer_register(plugin) && ok;
    ok = kad_dump_writer_register(plugin) && ok;
    ok = kad_dv_audio_pack_register(plugin) && ok;
    ok = kad_horodex_register(plugin) && ok;
    ok = kad_chronix2_register(plugin) && ok;
    ok = kad_sample_grabber_register(plugin) && ok;
    ok = kad_display_sink_register(plugin) && ok;
    ok = kad_lumatex3_register(plugin) && ok;
    (void)plugin;
    return ok != FALSE;
}

} // namespace kad
