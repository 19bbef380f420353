#pragma once

// What the capture of a source element sees upstream of its analog video
// input: the crossbar presenting the source's physical inputs, or nothing
// for sources without a choice of input (DV, MPEG-2, most webcams).

#include "graph/crossbar.h"
#include "platform/media/gst_ptr.h"

#include <gst/gst.h>

namespace kad {

// source is the video-source element as bound (a v4l2src, the virtual
// webcam, or a bin holding a v4l2src).
CrossbarUpstream CaptureUpstreamOf(GstElement* source);

// The v4l2src of a video-source element (itself, or the first inside a bin).
ElementRef V4l2SourceOf(GstElement* source);

} // namespace kad
