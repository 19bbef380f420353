#pragma once

// Keeps damaged DV frames away from everything behind a DV source. A DV
// frame that is cut short, empty or whose first DIF block is not a header
// block cannot be placed by the DV demultiplexer and decoder (one stops the
// whole graph with a decode error, the other divides by the frame rate it
// could not read), so one bad frame from a worn tape or a flaky link would end
// the preview and the capture. Such buffers are dropped where the source
// hands them out; the next whole frame is flagged as a discontinuity, so the
// frame counters see the gap. Frames with a sound header but damaged blocks
// further in pass: the decoders conceal those, and a glitch is better than a
// missing frame.
//
// The probe runs on the source's streaming thread and touches only atomics.

#include <gst/gst.h>

namespace kad {

// True when data is one or more whole DV frames, each opening with a header
// DIF block and as long as that header's system (625/50 or 525/60) says.
bool IsWholeDvData(const guint8* data, gsize size);

// Installs the screen on a DV source pad (once per pad).
void ScreenDvFrames(GstPad* pad);

// Damaged buffers the screen of pad has dropped so far (0 without a screen).
guint64 ScreenedDvFrames(GstPad* pad);

} // namespace kad
