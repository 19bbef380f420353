#pragma once

// A tiny MPEG-2 video writer for the virtual MPEG-2 encoders: every picture
// is an intra picture built of flat 8x8 blocks (DC coefficients only), which
// every MPEG-2 decoder reads and which costs next to nothing to produce. The
// picture is described by a colour function evaluated at each block.

#include "virtual/virtual_picture.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kad::mpeg2 {

struct Format {
    int width = 720;       // multiple of 16
    int height = 576;      // multiple of 16
    int frameRateCode = 3; // 3 = 25/1, 4 = 30000/1001
    int gopLength = 12;    // a sequence header and GOP header every this many pictures
};

using ColourAt = std::function<picture::Yuv(int x, int y)>;

// One coded picture (with sequence and GOP headers at the start of each
// GOP). frameNumber counts from 0 and drives the temporal reference and the
// GOP time code.
std::vector<std::uint8_t> encodePicture(const Format& format, std::uint64_t frameNumber,
                                        const ColourAt& colourAt);

// The sequence end code that closes a stream.
std::vector<std::uint8_t> sequenceEnd();

} // namespace kad::mpeg2
