#pragma once

// The raw video formats the preview's own elements take as they come: the
// decoders' planar and packed YUV, the capture cards' packed RGB and grey.
// An element that accepts all of them never makes the graph convert a frame
// before it.
#define KAD_RAW_VIDEO_FORMATS                                                                      \
    "{ I420, YV12, Y42B, Y444, Y41B, YUY2, UYVY, YVYU, NV12, NV21, RGB, BGR, RGBx, BGRx, "         \
    "xRGB, xBGR, RGBA, BGRA, ARGB, ABGR, GRAY8 }"
