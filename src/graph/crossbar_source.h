#pragma once

// What the capture of a source element sees upstream of its analog video
// input: the crossbar presenting the source's physical inputs, or nothing
// for sources without a choice of input (DV, MPEG-2, most webcams).

#include "graph/crossbar.h"

#include <gst/gst.h>

namespace kad {

// source is the video-source element as bound (a v4l2src, the virtual
// webcam, or a bin holding a v4l2src).
CrossbarUpstream CaptureUpstreamOf(GstElement* source);

} // namespace kad
