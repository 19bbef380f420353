#include "elements/avi_timeline.h"

#include <algorithm>

namespace kad {

namespace {

// |t - origin| scaled by num/den and rounded, with the sign of t - origin.
std::int64_t signedScale(GstClockTime t, GstClockTime origin, std::uint64_t num, std::uint64_t den)
{
    if (t >= origin) return std::int64_t(gst_util_uint64_scale_round(t - origin, num, den));
    return -std::int64_t(gst_util_uint64_scale_round(origin - t, num, den));
}

} // namespace

AviTimeline::AviTimeline(int fpsN, int fpsD, int sampleRate, GstClockTime tolerance)
    : fpsN_(fpsN > 0 && fpsD > 0 ? std::uint64_t(fpsN) : 25),
      fpsD_(fpsN > 0 && fpsD > 0 ? std::uint64_t(fpsD) : 1),
      rate_(sampleRate > 0 ? std::uint64_t(sampleRate) : 0),
      toleranceSamples_(
          rate_ > 0 ? std::int64_t(gst_util_uint64_scale(tolerance, rate_, GST_SECOND)) : 0)
{
}

void AviTimeline::setOrigin(GstClockTime origin)
{
    origin_ = origin;
    haveOrigin_ = GST_CLOCK_TIME_IS_VALID(origin);
}

std::int64_t AviTimeline::slotOf(GstClockTime t) const
{
    return signedScale(t, origin_, fpsN_, fpsD_ * GST_SECOND);
}

std::int64_t AviTimeline::sampleOf(GstClockTime t) const
{
    return signedScale(t, origin_, rate_, GST_SECOND);
}

std::uint64_t AviTimeline::firstSample(std::uint64_t slot) const
{
    // Exact at every rate: NTSC at 48 kHz gives 8008 samples per 5 frames,
    // never a rounding error that grows with the length of the capture.
    return gst_util_uint64_scale(slot, rate_ * fpsD_, fpsN_);
}

GstClockTime AviTimeline::slotTime(std::uint64_t slot) const
{
    return origin_ + gst_util_uint64_scale(slot, fpsD_ * GST_SECOND, fpsN_);
}

AviTimeline::FramePlace AviTimeline::placeFrame(GstClockTime pts)
{
    FramePlace place;
    if (!haveOrigin_) {
        // A first frame without a time starts the time line at 0; the sound
        // is then placed against running time 0 too.
        setOrigin(GST_CLOCK_TIME_IS_VALID(pts) ? pts : 0);
    }
    std::int64_t slot = GST_CLOCK_TIME_IS_VALID(pts) ? slotOf(pts) : std::int64_t(nextSlot_);
    if (slot < std::int64_t(nextSlot_)) return place;
    place.write = true;
    place.slot = std::uint64_t(slot);
    place.filled = place.slot - nextSlot_;
    nextSlot_ = place.slot + 1;
    return place;
}

AviTimeline::SamplePlace AviTimeline::placeSamples(GstClockTime pts, std::uint64_t count)
{
    SamplePlace place;
    if (!haveOrigin_ || rate_ == 0 || count == 0) {
        place.skip = count;
        place.first = nextSample_;
        return place;
    }
    const auto expected = std::int64_t(nextSample_);
    std::int64_t at = GST_CLOCK_TIME_IS_VALID(pts) ? sampleOf(pts) : expected;
    if (at != expected && at - expected <= toleranceSamples_ && expected - at <= toleranceSamples_)
        at = expected;
    if (at > expected) {
        place.silence = std::uint64_t(at - expected);
    } else if (at < expected) {
        place.skip = std::min<std::uint64_t>(count, std::uint64_t(expected - at));
    }
    place.keep = count - place.skip;
    place.first = std::uint64_t(std::max(at, expected));
    nextSample_ = place.first + place.keep;
    return place;
}

} // namespace kad
