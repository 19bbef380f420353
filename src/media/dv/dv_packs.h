#pragma once

// Reading and writing the auxiliary packs of a DV (IEC 61834, 25 Mbit/s)
// frame: the subcode timecode and the recording date and time that a
// camcorder stores with every frame in the video (VAUX) and audio (AAUX)
// auxiliary data.

#include "media/dv/dv_frame.h"
#include "media/dv/dv_timecode.h"
#include "media/dv/recording_watch.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kad::dv {

// Writes the timecode into every subcode pack slot. False for a buffer that
// is not a whole DV frame.
bool writeTimecode(std::uint8_t* frame, std::size_t size, const KadTimecode& timecode);
// Writes the recording date and time packs (VAUX 0x62/0x63 and AAUX
// 0x52/0x53) at their places in every DIF sequence.
bool writeRecordingDateTime(std::uint8_t* frame, std::size_t size, const RecordingDateTime& when);

std::optional<KadTimecode> readTimecode(const std::uint8_t* frame, std::size_t size);
// From the VAUX packs, or the AAUX packs when audio is true. Empty when the
// frame carries none (or only the "no information" pattern).
std::optional<RecordingDateTime> readRecordingDateTime(const std::uint8_t* frame, std::size_t size,
                                                       bool audio = false);
// The same from one DIF sequence only.
std::optional<RecordingDateTime> readSequenceRecordingDateTime(const std::uint8_t* frame,
                                                               std::size_t size, int sequence,
                                                               bool audio);

} // namespace kad::dv
