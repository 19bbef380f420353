#pragma once

#include <gst/gst.h>

namespace kad {

// The libav video encoders start their output segment far from zero (to
// keep decoding times positive), while every other stream of the graph runs
// from zero; muxers that order their inputs by raw time stamps would then
// take all the audio first. The encoders' output is brought back to running
// time.
void RestampToRunningTime(GstElement* encoder);

} // namespace kad
