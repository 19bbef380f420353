// The date and time overlay, measured: CPU time per PAL frame (720x576
// I420, the DV decoder's output) of kadlumatex3 drawing the date, beside
// GStreamer's textoverlay drawing the same text into the same frames, in the
// same run, and the ratio of the two.
//
// Each pipeline is videotestsrc ! <overlay> ! fakesink, as fast as it goes;
// the same pipeline with an identity in the overlay's place is measured
// too and taken off, so the figures are the overlays' own cost.
//
// Usage: bench_overlay [frames]   (default 2000 frames, 80 s of PAL)

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "elements/plugin.h"
#include "platform/media/gst_ptr.h"
#include "virtual/virtual_plugin.h"

namespace {

using kad::bench::cpuSeconds;

constexpr const char* kText = "Wednesday, October 26, 2005 13:48:05";

struct Run {
    bool ok = false;
    double cpuMsPerFrame = 0;
    double wallMsPerFrame = 0;
};

// Runs "videotestsrc ! middle ! fakesink" for frames frames; CPU and wall
// time per frame.
Run measure(const std::string& middle, int frames)
{
    const std::string line = "videotestsrc num-buffers=" + std::to_string(frames) +
                             " pattern=smpte ! video/x-raw,format=I420,width=720,height=576,"
                             "framerate=25/1 ! " +
                             middle + " ! fakesink sync=false";
    GError* error = nullptr;
    kad::ElementRef pipeline = kad::ElementRef::sink(gst_parse_launch(line.c_str(), &error));
    Run r;
    if (!pipeline) {
        std::printf("  could not build \"%s\": %s\n", middle.c_str(),
                    error ? error->message : "unknown");
        if (error) g_error_free(error);
        return r;
    }
    if (error) g_error_free(error);
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    const gint64 wall0 = g_get_monotonic_time();
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    kad::BusRef bus(gst_element_get_bus(pipeline.get()));
    // A deadline far beyond any sane run: a stuck pipeline ends the bench.
    kad::MessageRef done(gst_bus_timed_pop_filtered(
        bus.get(), GstClockTime(frames) * 50 * GST_MSECOND + 30 * GST_SECOND,
        GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    const double cpu1 = cpuSeconds(RUSAGE_SELF);
    const gint64 wall1 = g_get_monotonic_time();
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    r.ok = done && GST_MESSAGE_TYPE(done.get()) == GST_MESSAGE_EOS;
    r.cpuMsPerFrame = (cpu1 - cpu0) * 1000.0 / frames;
    r.wallMsPerFrame = double(wall1 - wall0) / 1000.0 / frames;
    return r;
}

// The best of three runs: other work on the machine only ever adds time.
Run best(const std::string& middle, int frames)
{
    Run b;
    for (int i = 0; i < 3; ++i) {
        const Run r = measure(middle, frames);
        if (!r.ok) return r;
        if (!b.ok || r.cpuMsPerFrame < b.cpuMsPerFrame) b = r;
    }
    return b;
}

void print(const char* what, const Run& r, const Run& base)
{
    if (!r.ok) {
        std::printf("  %-46s failed\n", what);
        return;
    }
    std::printf("  %-46s %7.3f ms CPU/frame (own %7.3f), %7.3f ms wall/frame\n", what,
                r.cpuMsPerFrame, std::max(0.0, r.cpuMsPerFrame - base.cpuMsPerFrame),
                r.wallMsPerFrame);
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    kad::registerElements();
    kad::registerVirtualDevices();
    const int frames = argc > 1 ? std::max(50, std::atoi(argv[1])) : 2000;

    // Both draw bold white text of the same pixel size (21 points at 96
    // dots per inch = 28 pixels) near the top right.
    const std::string font = "font-desc=\"Liberation Sans Bold 21\"";
    const std::string ours = "kadlumatex3 enabled=1 auto-font-size=false font-size=21 "
                             "font-name=\"Liberation Sans\"";
    std::printf("Overlay benchmark: %d frames of 720x576 I420 each, best of three runs\n", frames);
    const Run base = best("identity", frames);
    const Run clock = best(ours + " text=%N", frames);
    const Run fixed = best(ours + " text=\"" + std::string(kText) + "\"", frames);
    const Run gstText =
        best("textoverlay " + font + " valignment=top halignment=right auto-resize=false text=\"" +
                 kText + "\"",
             frames);
    print("identity (taken off the others)", base, base);
    print("kadlumatex3, %N (redrawn every second)", clock, base);
    print("kadlumatex3, the same fixed text", fixed, base);
    print("textoverlay, the same fixed text", gstText, base);
    if (clock.ok && fixed.ok && gstText.ok) {
        const double theirs = std::max(1e-6, gstText.cpuMsPerFrame - base.cpuMsPerFrame);
        std::printf("  ratio kadlumatex3 / textoverlay (own CPU): %%N %.2f, fixed text %.2f\n",
                    std::max(0.0, clock.cpuMsPerFrame - base.cpuMsPerFrame) / theirs,
                    std::max(0.0, fixed.cpuMsPerFrame - base.cpuMsPerFrame) / theirs);
    }
    return base.ok && clock.ok && fixed.ok && gstText.ok ? 0 : 1;
}
