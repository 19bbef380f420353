#pragma once

// kadvirtualmicsrc: a virtual microphone sending a test tone as 48 kHz
// stereo 16-bit audio (audio/x-raw, S16LE) in 20 ms buffers whose offsets
// count samples. "num-buffers" and the frame drops count those buffers.

#include "elements/virtual_src.h"

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_MIC_SRC (kad_virtual_mic_src_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualMicSrc, kad_virtual_mic_src, KAD, VIRTUAL_MIC_SRC, KadVirtualSrc)

gboolean kad_virtual_mic_src_register(GstPlugin* plugin);

G_END_DECLS
