// The preview's last step, measured: CPU time per shown frame of the call in
// which the video window takes a picture from the display sink (it runs on
// the sink's delivery thread), for
//   - "keep": the window's hand-over (TVideoWidget::PushDisplayFrame, the
//     sink's buffer referenced and shown where it is), and
//   - "copy": the copy of every picture the window used to make (a QImage
//     copy of the sink's pixels handed to PushFrame),
// at the window's normal size (384 x 288) and at a full screen (1024 x 768).
// Beside it, the delivery thread's whole CPU time per frame (the one-pass
// scaling plus the hand-over). The frames are PAL-sized I420 from
// videotestsrc, read as fast as the sink takes them; the window is shown
// (offscreen unless QT_QPA_PLATFORM says otherwise) and paints while it
// runs. Each figure is the lowest of the repeats (the machine is shared).
// Every figure is printed; none is judged.
//
// Usage: bench_preview_handover [frames [repeats]]   (default 600 frames, 3
// repeats)

#include <QApplication>

#include <gst/gst.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>

#include "bench_support.h"
#include "elements/display_sink.h"
#include "elements/plugin.h"
#include "platform/media/gst_ptr.h"
#include "ui/video_widget.h"

namespace {

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double wallSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

enum class Way { Keep, Copy };

// What one run's callback gathers on the delivery thread.
struct Run {
    kad::TVideoWidget* widget = nullptr;
    Way way = Way::Keep;
    int wanted = 0;
    std::atomic<int> frames{0};
    std::mutex lock; // the figures below
    double handOverCpu = 0;
    double handOverWall = 0;
    double threadAtFirst = 0; // the delivery thread's CPU time at the first frame
    double threadAtLast = 0;
};

void onFrame(const KadDisplayFrame* frame, gpointer data)
{
    auto* run = static_cast<Run*>(data);
    if (run->frames.load() >= run->wanted) return;
    const double cpu0 = threadCpuSeconds();
    const double wall0 = wallSeconds();
    if (run->way == Way::Keep) {
        run->widget->PushDisplayFrame(*frame);
    } else {
        const QImage view(frame->data, frame->width, frame->height, frame->stride,
                          QImage::Format_RGBX8888);
        const double par = frame->par_d > 0 ? double(frame->par_n) / frame->par_d : 1.0;
        run->widget->PushFrame(view.copy(), par);
    }
    const double cpu1 = threadCpuSeconds();
    const double wall1 = wallSeconds();
    std::lock_guard hold(run->lock);
    const int n = run->frames.load();
    // The first frame warms up (the pool's first buffers, the allocator).
    if (n == 0)
        run->threadAtFirst = cpu1;
    else {
        run->handOverCpu += cpu1 - cpu0;
        run->handOverWall += wall1 - wall0;
    }
    run->threadAtLast = cpu1;
    run->frames.fetch_add(1);
}

struct Figures {
    double handOverCpuUs = std::numeric_limits<double>::infinity();
    double handOverWallUs = std::numeric_limits<double>::infinity();
    double threadCpuUs = std::numeric_limits<double>::infinity();
    int frames = 0;
    bool ok = true;
};

// One run of frames shown at width x height handed over the given way.
bool runOnce(Way way, int width, int height, int frames, Figures& best)
{
    kad::TVideoWidget widget;
    widget.resize(width, height);
    widget.show();

    GError* raw = nullptr;
    kad::ElementRef pipeline(
        gst_parse_launch("videotestsrc pattern=smpte ! "
                         "video/x-raw,format=I420,width=720,height=576,framerate=25/1,"
                         "pixel-aspect-ratio=16/15 ! kaddisplaysink name=display sync=false",
                         &raw));
    kad::GErrorPtr error(raw);
    if (!pipeline) {
        std::printf("  cannot make the pipeline: %s\n", error ? error->message : "?");
        return false;
    }
    kad::ElementRef display(gst_bin_get_by_name(GST_BIN(pipeline.get()), "display"));
    kad_display_sink_set_display_size(display.get(), width, height);
    Run run;
    run.widget = &widget;
    run.way = way;
    run.wanted = frames;
    kad_display_sink_set_callback(display.get(), onFrame, &run, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    const bool done = kad::bench::waitFor([&] { return run.frames.load() >= frames; }, 60000);
    kad_display_sink_set_callback(display.get(), nullptr, nullptr, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    kad::bench::idleFor(20); // the last paints
    widget.ClearFrame();
    if (!done) return false;

    std::lock_guard hold(run.lock);
    const int counted = run.frames.load() - 1;
    if (counted <= 0) return false;
    best.frames = counted;
    best.handOverCpuUs = std::min(best.handOverCpuUs, run.handOverCpu / counted * 1e6);
    best.handOverWallUs = std::min(best.handOverWallUs, run.handOverWall / counted * 1e6);
    best.threadCpuUs =
        std::min(best.threadCpuUs, (run.threadAtLast - run.threadAtFirst) / counted * 1e6);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    gst_init(&argc, &argv);
    QApplication app(argc, argv);
    if (!kad::registerElements()) {
        std::printf("cannot register Kadrillo's elements\n");
        return 1;
    }
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 600;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    struct Size {
        int width, height;
    };
    const Size sizes[] = {{384, 288}, {1024, 768}};
    std::printf("Preview hand-over to the window, %d frames, lowest of %d runs\n", frames, repeats);
    std::printf("%-10s %-5s %14s %15s %18s\n", "shown at", "way", "hand-over CPU", "hand-over wall",
                "delivery thread");
    for (const Size& size : sizes) {
        for (Way way : {Way::Copy, Way::Keep}) {
            Figures best;
            for (int r = 0; r < repeats; ++r)
                if (!runOnce(way, size.width, size.height, frames, best)) best.ok = false;
            char shown[32];
            std::snprintf(shown, sizeof shown, "%dx%d", size.width, size.height);
            std::printf("%-10s %-5s %11.1f us %12.1f us %15.1f us%s\n", shown,
                        way == Way::Keep ? "keep" : "copy", best.handOverCpuUs, best.handOverWallUs,
                        best.threadCpuUs, best.ok ? "" : "  (a run did not finish)");
        }
    }
    return 0;
}
