#pragma once

// 625/50 DV frames holding nothing but what the recording date readers look
// at: the header's DSF bit, a timecode, the recording date and the
// source-control packs, written where camcorders write them.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "media/dv/dv_packs.h"

namespace dvtest {

using kad::dv::RecordingDateTime;

constexpr std::size_t kBlock = 80;
constexpr std::size_t kSequence = 150 * kBlock;

inline RecordingDateTime at(int year, int month, int day, int hour, int minute, int second)
{
    return RecordingDateTime{year, month, day, hour, minute, second};
}

// The source-control packs of every sequence: VAUX pack 40 and the AAUX one
// (audio block 4 of even sequences, 1 of odd ones), REC ST cleared on the
// first frames of a recording. Without `video` the VAUX pack is left out,
// so the AAUX one alone tells.
inline void setRecordingStart(std::vector<std::uint8_t>& frame, bool start, bool video = true)
{
    for (std::size_t s = 0; s < 12; ++s) {
        std::uint8_t* seq = frame.data() + s * kSequence;
        const std::uint8_t vsc[5] = {0x61, 0x3F, std::uint8_t(start ? 0x48 : 0xC8), 0xFC, 0xFF};
        const std::uint8_t none[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        std::copy_n(video ? vsc : none, 5, seq + (3 + 40 / 15) * kBlock + 3 + 40 % 15 * 5);
        const std::uint8_t asc[5] = {0x51, 0x3F, std::uint8_t(start ? 0x4F : 0xCF), 0xA0, 0xFF};
        std::copy_n(asc, 5, seq + (6 + 16 * (s % 2 == 0 ? 4 : 1)) * kBlock + 3);
    }
}

inline void markRecordingStart(std::vector<std::uint8_t>& frame, bool audioOnly = false)
{
    setRecordingStart(frame, true, !audioOnly);
}

// A frame telling no recording start, its timecode counted from
// `frameNumber`, and when given the recording date in every sequence (video
// and audio copies).
inline std::vector<std::uint8_t> palFrame(std::optional<RecordingDateTime> when,
                                          int frameNumber = 0)
{
    std::vector<std::uint8_t> frame(kad::dv::kFrameSizePal, 0xFF);
    frame[0] = 0x1F;
    frame[3] = 0x80;
    const KadTimecode tc{static_cast<guint>(frameNumber / 90000 % 24),
                         static_cast<guint>(1 + frameNumber / 1500 % 59),
                         static_cast<guint>(frameNumber / 25 % 60),
                         static_cast<guint>(frameNumber % 25)};
    kad::dv::writeTimecode(frame.data(), frame.size(), tc);
    if (when) kad::dv::writeRecordingDateTime(frame.data(), frame.size(), *when);
    setRecordingStart(frame, false);
    return frame;
}

// The video auxiliary data of every sequence gone, as on a tape whose VAUX
// was never written; the audio copies stay.
inline void wipeVaux(std::vector<std::uint8_t>& frame)
{
    for (std::size_t s = 0; s < 12; ++s)
        std::fill_n(frame.data() + s * kSequence + 3 * kBlock, 3 * kBlock, 0xFF);
}

} // namespace dvtest
