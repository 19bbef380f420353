#pragma once

// The pictures the virtual devices show: simple, recognisable and moving, so
// that a preview visibly runs, a paused tape visibly stands still and a
// rewinding tape visibly runs backwards. Colours are BT.601 video levels.

#include <gst/video/video.h>

#include <cstdint>

namespace kad::picture {

enum class Pattern {
    Tape,       // a recorded scene: tinted colour bars, a moving box, the frame number in binary
    BlueScreen, // what a tape player shows while its tape does not run
    Camera,     // a live camera picture
    Tuner,      // a television channel: moving stripes over noise
    Composite,  // colour bars with a moving box
    SVideo,     // a moving checkerboard
};

struct Yuv {
    std::uint8_t y;
    std::uint8_t u;
    std::uint8_t v;
};

// The colour of the picture at (x, y) of a width x height picture at time t
// (frames), in scene "scene".
Yuv sample(Pattern pattern, std::uint64_t t, int scene, int x, int y, int width, int height);

// Draws the picture into a mapped frame of format I420, Y41B, Y42B or YUY2.
// False for any other format.
bool draw(GstVideoFrame* frame, Pattern pattern, std::uint64_t t, int scene);

} // namespace kad::picture
