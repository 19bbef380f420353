#pragma once

// KadTransport: the camcorder side of a capture source. A DV camcorder (the
// virtual one, or a FireWire one driven with AV/C commands) answers it so the
// graph can tell a camera from a tape player, drive the tape and read the
// tape timecode.
//
// The graph finds the interface on the element it created for the device
// (gst_device_create_element). A source that merely carries DV without any
// control simply does not implement it.
//
// Every method is called from the application thread. An implementation that
// talks to hardware may block for a short while (an AV/C transaction) and
// reports failure with FALSE instead of waiting for ever.

#include "media/dv/dv_timecode.h"

#include <glib-object.h>

G_BEGIN_DECLS

// The device types a camcorder reports (external-device capability "device
// type"); 0 when the device does not say.
#define KAD_DEVICE_TYPE_NONE 0
#define KAD_DEVICE_TYPE_VCR 4104    /* 0x1008 */
#define KAD_DEVICE_TYPE_CAMERA 4996 /* 0x1384 */

// Transport modes, with the values camcorder control has always used.
#define KAD_TRANSPORT_PLAY 0x10C8
#define KAD_TRANSPORT_STOP 0x10C9
#define KAD_TRANSPORT_FREEZE 0x10CA
#define KAD_TRANSPORT_FAST_FORWARD 0x10CC
#define KAD_TRANSPORT_REWIND 0x10CD
#define KAD_TRANSPORT_PLAY_FASTEST_FORWARD 0x13A5
#define KAD_TRANSPORT_PLAY_SLOWEST_FORWARD 0x13A6
#define KAD_TRANSPORT_PLAY_FASTEST_REVERSE 0x13A7
#define KAD_TRANSPORT_PLAY_SLOWEST_REVERSE 0x13A8

#define KAD_TYPE_TRANSPORT (kad_transport_get_type())
G_DECLARE_INTERFACE(KadTransport, kad_transport, KAD, TRANSPORT, GObject)

struct _KadTransportInterface {
    GTypeInterface parent;

    // TRUE when the device accepts transport commands (set_mode).
    gboolean (*has_ext_transport)(KadTransport* self);
    // TRUE when the device reports the tape timecode (get_timecode).
    gboolean (*has_timecode_reader)(KadTransport* self);
    // KAD_DEVICE_TYPE_VCR, KAD_DEVICE_TYPE_CAMERA or KAD_DEVICE_TYPE_NONE.
    gint (*get_device_type)(KadTransport* self);
    gboolean (*get_mode)(KadTransport* self, gint* mode);
    gboolean (*set_mode)(KadTransport* self, gint mode);
    gboolean (*get_timecode)(KadTransport* self, KadTimecode* timecode);
};

// Wrappers that tolerate a missing method: it reads as "not supported".
gboolean kad_transport_has_ext_transport(KadTransport* self);
gboolean kad_transport_has_timecode_reader(KadTransport* self);
gint kad_transport_get_device_type(KadTransport* self);
gboolean kad_transport_get_mode(KadTransport* self, gint* mode);
gboolean kad_transport_set_mode(KadTransport* self, gint mode);
gboolean kad_transport_get_timecode(KadTransport* self, KadTimecode* timecode);

// The timecode packed as camcorder control reports it: two BCD digits each,
// hours in the highest byte (1:23:45:12 is 0x01234512).
// The transport of an element, or NULL: the element itself when it
// implements the interface, else NULL (a bin does not search its children:
// the device's own element is the one that answers).
KadTransport* kad_transport_find(GObject* element);

G_END_DECLS
