#pragma once

// kadvirtualwebcamsrc: a virtual webcam / analog capture card sending raw
// video (YUY2 or I420, 640x480 or 320x240, 30 or 15 frames per second). It has
// three video inputs, as a V4L2 device lists them, which a crossbar adapter
// presents and switches:
//
//   "input"        index of the input in use (0 Tuner, 1 Composite, 2 S-Video)
//   "inputs"       (read only) the input names: "Tuner", "Composite", "S-Video"
//   "input-types"  (read only) their physical types: "video-tuner",
//                  "composite", "svideo"
//
// Each input shows its own picture, so a switch is visible. Frames carry
// their frame number as buffer offset.
//
// Like a camera driver it offers picture controls: "brightness", "contrast",
// "saturation" (0..255, 128 neutral), "hue" (-180..180 degrees),
// "monochrome" and "power-line-frequency" (a menu with no effect on the
// picture, as on most cameras under steady light).

#include "virtual/virtual_src.h"

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_WEBCAM_SRC (kad_virtual_webcam_src_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualWebcamSrc, kad_virtual_webcam_src, KAD, VIRTUAL_WEBCAM_SRC,
                     KadVirtualSrc)

gboolean kad_virtual_webcam_src_register(GstPlugin* plugin);

G_END_DECLS
