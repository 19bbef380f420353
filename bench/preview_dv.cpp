// The DV preview, measured:
//
//  (a) time from ConnectSource to the first previewed frame (the display's
//      frame callback) with the live virtual DV camcorder (PAL);
//  (b) frames per second and CPU time per frame of the DV preview chain
//      (demultiplex, decode, convert, grab, display) on a DV file read as
//      fast as possible, beside ffmpeg decoding the same file to RGB24
//      (ffmpeg -f dv -i FILE -f rawvideo -pix_fmt rgb24 -y /dev/null), and
//      the ratio of the two.
//
// Usage: bench_preview_dv [frames]   (default 500 frames, 20 s of PAL DV)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gst/gst.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "bench_support.h"
#include "elements/display_sink.h"
#include "elements/plugin.h"
#include "elements/sample_grabber.h"
#include "graph/dm_cam.h"
#include "system/devices/video_sources.h"

namespace {

using kad::bench::cpuSeconds;
using kad::bench::waitFor;

void countFrame(const KadDisplayFrame*, gpointer counter)
{
    ++*static_cast<std::atomic<int>*>(counter);
}

GstElement* makeDisplay(std::atomic<int>* counter, bool sync)
{
    GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
    g_object_set(display, "sync", sync, NULL);
    kad_display_sink_set_callback(display, countFrame, counter, nullptr);
    return display;
}

// (a) Returns milliseconds, or a negative number when no frame came.
double timeToFirstFrame()
{
    qputenv("KADRILLO_VIRTUAL_DEVICES", "dv-pal-vcr");
    kad::TvideoSourceList sources;
    kad::TvideoItems items;
    if (!kad::LoadVideoSources(sources, items) || sources.Count() == 0) return -1;
    std::atomic<int> shown{0};
    kad::TdmCam cam;
    cam.CheckOptionalFilters();
    cam.SetVideoWindow(makeDisplay(&shown, true));
    QElapsedTimer t;
    t.start();
    if (!cam.ConnectSource(*sources.At(0)) || !cam.BuildPreviewGraph() || !cam.RunGraph())
        return -1;
    const bool ok = waitFor([&] { return shown > 0; }, 10000);
    const double ms = t.nsecsElapsed() / 1e6;
    cam.StopGraph();
    kad_display_sink_set_callback(cam.VideoWindowFilter(), nullptr, nullptr, nullptr);
    return ok ? ms : -1;
}

// Records frames of the virtual camcorder's DV stream into path.
bool writeDvFile(const QString& path, int frames)
{
    const QByteArray description =
        "kadvirtualdvsrc is-live=false num-buffers=" + QByteArray::number(frames) +
        " ! filesink location=\"" + path.toUtf8() + "\"";
    GstElement* pipeline = gst_parse_launch(description.constData(), nullptr);
    if (!pipeline) return false;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

struct Run {
    int frames = 0;
    double wall = 0;
    double cpu = 0;
};

// (b) The preview chain over the file, as fast as it goes.
Run previewFile(const QString& path)
{
    const QByteArray description =
        "filesrc blocksize=144000 location=\"" + path.toUtf8() +
        "\" ! capsfilter caps=\"video/x-dv,systemstream=true,format=PAL\"";
    std::atomic<int> shown{0};
    kad::TdmCam cam;
    cam.CheckOptionalFilters();
    cam.SetVideoWindow(makeDisplay(&shown, false));
    Run run;
    if (!cam.ConnectSourceElement(
            "DV file", gst_parse_bin_from_description(description.constData(), TRUE, nullptr)) ||
        !cam.BuildPreviewGraph())
        return run;
    bool ended = false;
    QObject::connect(&cam, &kad::TdmCam::EndOfStream, [&] { ended = true; });
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    cam.RunGraph();
    waitFor([&] { return ended; }, 300000);
    run.wall = t.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    run.frames = static_cast<int>(kad_sample_grabber_frame_count(cam.sg.Element()));
    cam.StopGraph();
    kad_display_sink_set_callback(cam.VideoWindowFilter(), nullptr, nullptr, nullptr);
    return run;
}

Run ffmpegFile(const QString& path, int frames)
{
    Run run;
    const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer t;
    t.start();
    const int rc =
        QProcess::execute("ffmpeg", {"-v", "error", "-f", "dv", "-i", path, "-f", "rawvideo",
                                     "-pix_fmt", "rgb24", "-y", "/dev/null"});
    run.wall = t.nsecsElapsed() / 1e9;
    run.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpu0;
    run.frames = rc == 0 ? frames : 0;
    return run;
}

void print(const char* what, const Run& r)
{
    if (r.frames == 0 || r.wall <= 0) {
        std::printf("  %-28s failed\n", what);
        return;
    }
    std::printf("  %-28s %6d frames  %8.1f fps  %7.3f ms CPU/frame\n", what, r.frames,
                r.frames / r.wall, 1000.0 * r.cpu / r.frames);
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    kad::registerElements();
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(25, std::atoi(argv[1])) : 500;

    std::printf("DV preview benchmark\n");
    const double first = timeToFirstFrame();
    if (first < 0)
        std::printf("(a) live virtual DV camcorder: no frame previewed\n");
    else
        std::printf("(a) ConnectSource to first previewed frame (live PAL camcorder): %.1f ms\n",
                    first);

    QTemporaryDir dir;
    const QString file = dir.filePath("bench.dv");
    if (!writeDvFile(file, frames)) {
        std::printf("(b) could not write the DV file\n");
        return 1;
    }
    std::printf("(b) %d PAL DV frames, decoded to RGB as fast as possible:\n", frames);
    const Run ours = previewFile(file);
    const Run ffmpeg = ffmpegFile(file, frames);
    print("Kadrillo DV preview chain", ours);
    print("ffmpeg -f dv ... rgb24", ffmpeg);
    if (ours.frames > 0 && ffmpeg.frames > 0)
        std::printf("  ratio Kadrillo/ffmpeg: %.2fx the fps, %.2fx the CPU per frame\n",
                    (ours.frames / ours.wall) / (ffmpeg.frames / ffmpeg.wall),
                    (ours.cpu / ours.frames) / (ffmpeg.cpu / ffmpeg.frames));
    return 0;
}
