#include "elements/kad_transport.h"

G_DEFINE_INTERFACE(KadTransport, kad_transport, G_TYPE_OBJECT)

static void kad_transport_default_init(KadTransportInterface*) {}

gboolean kad_transport_has_ext_transport(KadTransport* self)
{
    g_return_val_if_fail(KAD_IS_TRANSPORT(self), FALSE);
    auto* iface = KAD_TRANSPORT_GET_IFACE(self);
    return iface->has_ext_transport ? iface->has_ext_transport(self) : FALSE;
}

gboolean kad_transport_has_timecode_reader(KadTransport* self)
{
    g_return_val_if_fail(KAD_IS_TRANSPORT(self), FALSE);
    auto* iface = KAD_TRANSPORT_GET_IFACE(self);
    return iface->has_timecode_reader ? iface->has_timecode_reader(self) : FALSE;
}

gint kad_transport_get_device_type(KadTransport* self)
{
    g_return_val_if_fail(KAD_IS_TRANSPORT(self), KAD_DEVICE_TYPE_NONE);
    auto* iface = KAD_TRANSPORT_GET_IFACE(self);
    return iface->get_device_type ? iface->get_device_type(self) : KAD_DEVICE_TYPE_NONE;
}

gboolean kad_transport_get_mode(KadTransport* self, gint* mode)
{
    g_return_val_if_fail(KAD_IS_TRANSPORT(self) && mode, FALSE);
    auto* iface = KAD_TRANSPORT_GET_IFACE(self);
    return iface->get_mode ? iface->get_mode(self, mode) : FALSE;
}

gboolean kad_transport_set_mode(KadTransport* self, gint mode)
{
    g_return_val_if_fail(KAD_IS_TRANSPORT(self), FALSE);
    auto* iface = KAD_TRANSPORT_GET_IFACE(self);
    return iface->set_mode ? iface->set_mode(self, mode) : FALSE;
}

gboolean kad_transport_get_timecode(KadTransport* self, KadTimecode* timecode)
{
    g_return_val_if_fail(KAD_IS_TRANSPORT(self) && timecode, FALSE);
    auto* iface = KAD_TRANSPORT_GET_IFACE(self);
    return iface->get_timecode ? iface->get_timecode(self, timecode) : FALSE;
}

KadTransport* kad_transport_find(GObject* element)
{
    return element && KAD_IS_TRANSPORT(element) ? KAD_TRANSPORT(element) : nullptr;
}
