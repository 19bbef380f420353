#pragma once

// kadvirtualframesrc: the clock of a virtual device. It pushes one buffer per
// frame period, time-stamped from the frame number, live (paced by the
// pipeline clock) or as fast as downstream takes them. What a frame holds is
// up to its owner, the device bin, through a producer function.

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <functional>

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_FRAME_SRC (kad_virtual_frame_src_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualFrameSrc, kad_virtual_frame_src, KAD, VIRTUAL_FRAME_SRC, GstPushSrc)

G_END_DECLS

namespace kad {

// Makes the buffer of frame n for the negotiated caps (info is null for caps
// that are not raw video). Returning OK with *out left null skips the frame:
// its number and time slot are used up, nothing is pushed.
struct FrameSlot {
    guint64 number;
    GstClockTime pts;
    GstClockTime duration;
};
using FrameProducer = std::function<GstFlowReturn(const FrameSlot& slot, GstCaps* caps,
                                                  const GstVideoInfo* info, GstBuffer** out)>;

// Both are set by the owner before the element leaves the NULL state.
void virtualFrameSrcSetCaps(KadVirtualFrameSrc* src, GstCaps* caps);
void virtualFrameSrcSetProducer(KadVirtualFrameSrc* src, FrameProducer producer);

} // namespace kad
