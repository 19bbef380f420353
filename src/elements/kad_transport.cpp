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

namespace {

guint32 toBcd(guint value)
{
    value %= 100;
    return ((value / 10) << 4) | (value % 10);
}

guint fromBcd(guint32 byte)
{
    return ((byte >> 4) & 0x0F) * 10 + (byte & 0x0F);
}

} // namespace

guint32 kad_timecode_to_bcd(const KadTimecode* tc)
{
    g_return_val_if_fail(tc, 0);
    return (toBcd(tc->hours) << 24) | (toBcd(tc->minutes) << 16) | (toBcd(tc->seconds) << 8) |
           toBcd(tc->frames);
}

KadTimecode kad_timecode_from_bcd(guint32 bcd)
{
    return KadTimecode{fromBcd(bcd >> 24), fromBcd((bcd >> 16) & 0xFF), fromBcd((bcd >> 8) & 0xFF),
                       fromBcd(bcd & 0xFF)};
}

KadTransport* kad_transport_find(GObject* element)
{
    return element && KAD_IS_TRANSPORT(element) ? KAD_TRANSPORT(element) : nullptr;
}
