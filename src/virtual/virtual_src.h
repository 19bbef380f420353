#pragma once

// KadVirtualSrc: what every virtual capture device has in common. A device is
// a bin whose "src" pad is the device's output; its last element is a
// kadvirtualtap. Properties shared by all devices:
//
//   device-path, device-name, virtual-id   who the device is (set by the provider)
//   is-live      TRUE: paced by the clock like hardware; FALSE: as fast as possible
//   num-buffers  frames (audio: buffers) to send before end of stream, -1 = endless
//   drop-frames  drop frames periodically: every drop-frames frames, the last
//                drop-count of them are never sent (0 = never)
//   drop-count   see drop-frames (default 1)
//   unplug       set TRUE to pull the plug: the stream fails with a resource
//                "not found" error and the device provider reports the device removed
//   sent-location  when set, every byte the device sends is appended to this file
//   frames-sent  (read only) frames sent in this run
//
// Defaults come from the environment so a whole program run can be made
// deterministic: KADRILLO_VIRTUAL_LIVE=0, KADRILLO_VIRTUAL_NUM_BUFFERS=n,
// KADRILLO_VIRTUAL_DROP_FRAMES=period[:count].
//
// Locking: properties are read and written under the object lock; a device
// hands what the streaming threads need to its children when it starts (READY
// to PAUSED).

#include "virtual/virtual_tap.h"

#include <gst/gst.h>

#include <string>

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_SRC (kad_virtual_src_get_type())
G_DECLARE_DERIVABLE_TYPE(KadVirtualSrc, kad_virtual_src, KAD, VIRTUAL_SRC, GstBin)

struct _KadVirtualSrcClass {
    GstBinClass parent_class;

    // Pushes is-live and num-buffers to the device's own sources and resets
    // what a run leaves behind; called on the way from READY to PAUSED.
    void (*configure)(KadVirtualSrc* self, gboolean live, gint numBuffers);
    // FALSE when the device drops frames itself before encoding (the tap then
    // passes everything).
    gboolean drops_in_tap;
};

// Unplugs the device (same as setting "unplug").
void kad_virtual_src_unplug(KadVirtualSrc* self);

G_END_DECLS

namespace kad {

// For device implementations: the tap to link the device's chain into.
KadVirtualTap* virtualSrcTap(KadVirtualSrc* self);
// The drop settings in force (for devices that drop before encoding).
VirtualTapSettings virtualSrcSettings(KadVirtualSrc* self);
// Whether the device was unplugged.
bool virtualSrcUnplugged(KadVirtualSrc* self);
// Marks the device as unusable because elements it is built from are not
// installed; it then refuses to start with a "missing plugin" error naming them.
void virtualSrcSetMissing(KadVirtualSrc* self, const char* elements);

// How the device at devicePath opens (its way from NULL to READY) from now
// on: after delayMs, like hardware that takes its time to answer, and failing
// with a "could not open" error when fails is true. For tests and benchmarks;
// a delay of 0 and no failure is the default.
void setVirtualDeviceOpening(const std::string& devicePath, int delayMs, bool fails);

} // namespace kad
