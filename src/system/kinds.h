#pragma once

#include <cstdint>

namespace kad {

// The class of the connected video source; the numbers are the stored and
// logged ones.
enum class SourceKind : std::uint8_t {
    skDV = 0,
    skMovieBoxB = 1,
    skAnalog = 2,
    skMpeg2 = 3,
    skNoVideo = 4,
};

// Which audio goes with the video.
enum class AudioKind : std::uint8_t {
    akNone = 0,
    akIncluded = 1,  // the audio carried in the video stream
    akSoundCard = 2, // a separate audio capture device
};

// The main window's state. Only the window's state routines change it.
enum class CaptureState : std::uint8_t {
    csIdle = 0,
    csPreview = 1,
    csCapturing = 2,
    csScheduled = 3,
    csScheduledCapture = 4,
};

} // namespace kad
