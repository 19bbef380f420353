#pragma once

// The one time line on which an AVI writer of several streams places its
// picture and sound. Every frame owns a slot of 1/fps from the first frame
// of the capture, every sound sample its own place at the sample rate from
// the same instant, so:
//  - a frame the source did not deliver leaves a slot that the writer fills
//    (placeFrame() says how many), and a frame never moves to a slot that is
//    not its own;
//  - a gap in the sound becomes silence, sound that overlaps what is already
//    written (or comes before the first frame) is cut away, and jitter below
//    the tolerance is absorbed, so the sound stays contiguous;
//  - a file that holds the frames of slots [a, b) holds the samples
//    [firstSample(a), firstSample(b)): picture and sound of every file begin
//    at the same instant and last as long as each other within one sample,
//    after any number of cuts, at any frame rate and sample rate.
// Times are running times in nanoseconds. Not thread-safe: the writer
// serialises every call.

#include <gst/gst.h>

#include <cstdint>

namespace kad {

class AviTimeline {
public:
    // Frame rate fpsN/fpsD (25/1, 30000/1001, ...), sound at `sampleRate`
    // (0: no sound). Sound jitter up to `tolerance` is absorbed. Rates that
    // are not positive are taken as 25/1.
    AviTimeline(int fpsN, int fpsD, int sampleRate, GstClockTime tolerance = 10 * GST_MSECOND);

    // The running time of slot 0: the first frame of the capture. Until it
    // is set, placeFrame() sets it from the first frame it places, and
    // placeSamples() keeps nothing (no sound before the first picture).
    void setOrigin(GstClockTime origin);
    bool hasOrigin() const { return haveOrigin_; }
    GstClockTime origin() const { return origin_; }

    struct FramePlace {
        bool write = false;       // false: its slot is taken or lies before slot 0
        std::uint64_t slot = 0;   // the slot it is written in
        std::uint64_t filled = 0; // slots before it the source did not deliver
    };
    // Places a frame that starts at `pts` (GST_CLOCK_TIME_NONE: the next
    // free slot).
    FramePlace placeFrame(GstClockTime pts);

    struct SamplePlace {
        std::uint64_t silence = 0; // samples of silence to write first
        std::uint64_t skip = 0;    // leading samples of the buffer to drop
        std::uint64_t keep = 0;    // samples of the buffer to write after them
        std::uint64_t first = 0;   // place of the first kept sample
    };
    // Places a buffer of `count` samples that starts at `pts`
    // (GST_CLOCK_TIME_NONE: right after the previous one).
    SamplePlace placeSamples(GstClockTime pts, std::uint64_t count);

    // The first sample of slot `slot`; a cut before that slot cuts the sound
    // before this sample.
    std::uint64_t firstSample(std::uint64_t slot) const;
    // The running time slot `slot` begins.
    GstClockTime slotTime(std::uint64_t slot) const;
    // The slot after the last one placed (the next free slot).
    std::uint64_t nextSlot() const { return nextSlot_; }
    // The place after the last sample placed.
    std::uint64_t nextSample() const { return nextSample_; }

private:
    // Nearest slot / sample of `t`, negative before the origin.
    std::int64_t slotOf(GstClockTime t) const;
    std::int64_t sampleOf(GstClockTime t) const;

    std::uint64_t fpsN_;
    std::uint64_t fpsD_;
    std::uint64_t rate_;
    std::int64_t toleranceSamples_;
    bool haveOrigin_ = false;
    GstClockTime origin_ = 0;
    std::uint64_t nextSlot_ = 0;
    std::uint64_t nextSample_ = 0;
};

} // namespace kad
