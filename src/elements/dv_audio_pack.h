#pragma once

// kaddvaudiopack: puts PCM audio into the audio DIF blocks of DV frames, so
// a DV stream can carry audio at 32000, 44100 or 48000 Hz (avmux_dv takes
// 48000 Hz only). The samples go where IEC 61834 puts them (16-bit linear,
// two channels: the first channel in the first half of the DIF sequences,
// the second in the other half, in the standard shuffle), and each frame
// gets AAUX source and source-control packs that state the sample frequency
// and the number of samples of that frame (locked audio: 1280 per PAL frame
// at 32 kHz, 1067 or 1068 per NTSC frame, and so on).
//
// Pads: "video" takes whole DV frames (video/x-dv, from avenc_dvvideo or a
// camcorder), "audio" S16LE stereo at one of the three rates; "src" gives
// video/x-dv, systemstream=true. Missing audio (the audio pad at its end) is
// packed as silence so the frames go on.
//
// Locks: the audio rate is set from the audio pad's caps and read in
// aggregate(), both under the object lock; the carried-over samples are
// touched only by the aggregate thread.

#include <gst/base/gstaggregator.h>
#include <gst/gst.h>

#include <cstdint>

G_BEGIN_DECLS

#define KAD_TYPE_DV_AUDIO_PACK (kad_dv_audio_pack_get_type())
G_DECLARE_FINAL_TYPE(KadDvAudioPack, kad_dv_audio_pack, KAD, DV_AUDIO_PACK, GstAggregator)

gboolean kad_dv_audio_pack_register(GstPlugin* plugin);

G_END_DECLS

namespace kad {

// The number of audio samples DV frame `index` (from 0) carries at `rate`.
int DvAudioSamplesForFrame(bool pal, int rate, std::uint64_t index);

// Writes `count` stereo samples (interleaved, native 16-bit) into the audio
// blocks of one DV frame of `frameBytes` (120000 NTSC, 144000 PAL) and its
// AAUX packs. False when the frame or the count does not fit.
bool PackDvAudio(std::uint8_t* frame, std::size_t frameBytes, int rate, const std::int16_t* pcm,
                 int count);

} // namespace kad
