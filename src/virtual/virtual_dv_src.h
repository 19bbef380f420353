#pragma once

// kadvirtualdvsrc: a virtual DV camcorder on a FireWire port. It sends a DV
// system stream (video/x-dv, systemstream=true): 720x576 at 25 frames per
// second ("ntsc" FALSE, 144000-byte frames) or 720x480 at 29.97 ("ntsc" TRUE,
// 120000-byte frames), with 48 kHz stereo audio inside.
//
// In VCR mode ("camera" FALSE) it plays a simulated tape: the transport
// modes of KadTransport move the tape (play, freeze, stop, slow and fast
// play both ways, wind and rewind), the subcode timecode follows the tape,
// and the recording date and time packs jump at each new scene (every
// "scene-length" seconds of tape). A stopped or winding tape shows a blue
// picture and no sound; a frozen tape repeats its frame and timecode.
//
// In camera mode there is no tape: the live picture carries the current
// date and time and a timecode standing at 0:00:00:00; transport commands
// are refused.
//
// Properties besides those of KadVirtualSrc: "ntsc", "camera" (construct
// only), "transport-mode" (same as KadTransport's mode), "scene-length",
// "damage-every" and "damage-kind".
//
// Damaged frames, as a worn tape or a flaky FireWire link deliver them: with
// "damage-every" N > 0, frames 0, N, 2N... of each run leave damaged in the
// way "damage-kind" says (KadVirtualDvDamage): "truncated" (the frame ends
// after a few DIF sequences), "garbage" (noise over DIF blocks in the middle
// of the frame, their block ids included), "bad-header" (the first DIF block
// is no header block: the frame cannot be recognised at all), "empty" (a
// zero-length buffer), "sound" (noise over the payload of every audio DIF
// block, AAUX packs included; the frame stays whole) or "mixed" (the first
// four in turn). Damaged frames keep
// their frame number and time stamps. KADRILLO_VIRTUAL_DV_DAMAGE=N[:kind]
// sets the defaults for a whole program run.

#include "virtual/virtual_src.h"

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_DV_SRC (kad_virtual_dv_src_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualDvSrc, kad_virtual_dv_src, KAD, VIRTUAL_DV_SRC, KadVirtualSrc)

typedef enum {
    KAD_VIRTUAL_DV_DAMAGE_MIXED,
    KAD_VIRTUAL_DV_DAMAGE_TRUNCATED,
    KAD_VIRTUAL_DV_DAMAGE_GARBAGE,
    KAD_VIRTUAL_DV_DAMAGE_BAD_HEADER,
    KAD_VIRTUAL_DV_DAMAGE_EMPTY,
    KAD_VIRTUAL_DV_DAMAGE_SOUND,
} KadVirtualDvDamage;

#define KAD_TYPE_VIRTUAL_DV_DAMAGE (kad_virtual_dv_damage_get_type())
GType kad_virtual_dv_damage_get_type(void);

gboolean kad_virtual_dv_src_register(GstPlugin* plugin);

G_END_DECLS
