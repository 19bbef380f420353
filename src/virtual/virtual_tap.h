#pragma once

// kadvirtualtap: the last element inside a virtual device, right before the
// device's source pad. Everything a device "does to" its stream on the way
// out happens here: cutting a byte stream into whole frames, numbering the
// frames (buffer offset = frame number), dropping frames on request,
// rewriting what the device writes into each frame, recording the bytes
// sent, and failing like an unplugged device.

#include <gst/gst.h>

#include "platform/media/gst_ptr.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_TAP (kad_virtual_tap_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualTap, kad_virtual_tap, KAD, VIRTUAL_TAP, GstElement)

G_END_DECLS

namespace kad {

struct VirtualTapHooks {
    // Cut the input into buffers of exactly this many bytes (0: keep buffers).
    gsize frameSize = 0;
    // Caps announced downstream instead of whatever upstream says (null: upstream's).
    kad::CapsRef caps;
    // Set the buffer offset to the frame number (frames counted from 0 per run).
    bool numberFrames = true;
    // Called with each whole frame (writable) before it leaves; may edit it.
    std::function<void(guint64 n, GstBuffer* buffer)> frame;
    // Byte-stream rewriting: the bytes of each input buffer in, the bytes to
    // send out; finish is called at end of stream.
    std::function<void(const std::uint8_t* data, gsize size, std::vector<std::uint8_t>& out)> bytes;
    std::function<void(std::vector<std::uint8_t>& out)> finish;
};

struct VirtualTapSettings {
    guint dropPeriod = 0; // 0: never drop
    guint dropCount = 1;  // frames dropped at the end of each period
    std::string sentLocation;
};

void virtualTapSetHooks(KadVirtualTap* tap, VirtualTapHooks hooks);
void virtualTapSetSettings(KadVirtualTap* tap, const VirtualTapSettings& settings);
// From now on the stream fails as a lost device: the owner (the device bin)
// posts a resource "not found" error naming deviceName.
void virtualTapUnplug(KadVirtualTap* tap, const std::string& deviceName);
guint64 virtualTapFramesSent(KadVirtualTap* tap);
// True when frame n falls in a dropped stretch.
bool virtualTapShouldDrop(const VirtualTapSettings& settings, guint64 n);

} // namespace kad
