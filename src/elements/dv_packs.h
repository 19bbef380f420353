#pragma once

// Reading and writing the auxiliary packs of a DV (IEC 61834, 25 Mbit/s)
// frame: the subcode timecode and the recording date and time that a
// camcorder stores with every frame in the video (VAUX) and audio (AAUX)
// auxiliary data. Frames are 120000 bytes (525/60) or 144000 bytes (625/50).

#include "elements/kad_transport.h"
#include "elements/recording_watch.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kad::dv {

inline constexpr std::size_t kFrameSizeNtsc = 120000;
inline constexpr std::size_t kFrameSizePal = 144000;

inline constexpr std::uint8_t kPackTimecode = 0x13;
inline constexpr std::uint8_t kPackAudioRecDate = 0x52;
inline constexpr std::uint8_t kPackAudioRecTime = 0x53;
inline constexpr std::uint8_t kPackVideoRecDate = 0x62;
inline constexpr std::uint8_t kPackVideoRecTime = 0x63;

// The number of DIF sequences of a frame of that size, 0 when the size is
// not a DV frame size.
int sequenceCount(std::size_t frameSize);

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
