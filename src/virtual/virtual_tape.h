#pragma once

// The tape transport of the virtual camcorders (kadvirtualdvsrc and
// kadvirtualdvfilesrc): how far each KadTransport mode moves the tape per
// frame sent, the timecode of a tape position, and the KadTransport answers
// both give alike. Where the tape ends and what a mode does to the picture
// and sound stay with each camcorder.

#include "elements/kad_transport.h"
#include "platform/media/gst_ptr.h"

#include <gst/gst.h>

namespace kad::tape {

// The transport state of one camcorder, under its element's object lock:
// shared by the application thread (commands, timecode) and the streaming
// thread (tape motion).
struct Transport {
    gint mode = KAD_TRANSPORT_PLAY;
    gint64 position = 0; // tenths of a tape frame
    KadTimecode lastTimecode{};
};

// Tape motion per frame sent in that mode, in tenths of a tape frame
// (negative backwards); 0 for a standing tape and for unknown modes.
gint64 stepOf(gint mode);

// The modes a camcorder accepts: the moving ones, stop and freeze.
bool validMode(gint mode);

// Tape frame `frame` counted from the start at `fps` frames per second.
KadTimecode timecodeAt(guint fps, guint64 frame);

// Caps of the DV system stream both send.
CapsRef dvStreamCaps();

// Installs the "transport-mode" property (same values as KadTransport's mode).
void installModeProperty(GObjectClass* klass, guint id);

// Fills in the KadTransport methods both camcorders answer the same way: a
// tape transport, a timecode reader, and the timecode of the frame last
// sent. TapeOf finds the transport of an element.
template <Transport& (*TapeOf)(KadTransport*)>
void fillTransportInterface(KadTransportInterface* iface)
{
    iface->has_ext_transport = [](KadTransport*) -> gboolean { return TRUE; };
    iface->has_timecode_reader = [](KadTransport*) -> gboolean { return TRUE; };
    iface->get_timecode = [](KadTransport* transport, KadTimecode* timecode) -> gboolean {
        GST_OBJECT_LOCK(transport);
        *timecode = TapeOf(transport).lastTimecode;
        GST_OBJECT_UNLOCK(transport);
        return TRUE;
    };
}

} // namespace kad::tape
