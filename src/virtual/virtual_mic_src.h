#pragma once

// kadvirtualmicsrc: a virtual microphone sending a test tone as 16-bit audio
// (audio/x-raw, S16LE), 48 kHz stereo unless asked for 44.1 or 32 kHz or
// mono, in buffers of 960 samples (20 ms at 48 kHz) whose offsets count
// samples. "num-buffers" and the frame drops count those buffers. Like a
// sound card's mixer it has "volume" (0.0 to 1.0) and "mute".

#include "virtual/virtual_src.h"

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_MIC_SRC (kad_virtual_mic_src_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualMicSrc, kad_virtual_mic_src, KAD, VIRTUAL_MIC_SRC, KadVirtualSrc)

gboolean kad_virtual_mic_src_register(GstPlugin* plugin);

G_END_DECLS
