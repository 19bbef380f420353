#include "media/dv/dv_timecode.h"

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
