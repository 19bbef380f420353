// The DV preview, measured:
//
//  (a) time from ConnectSource to the first previewed frame (the display's
//      frame callback) with the live virtual DV camcorder (PAL), and the
//      time from F5 to the still on disk (grabber copy, stored image,
//      24-bit BMP written);
//  (b) frames per second and CPU time per frame of the DV preview chain
//      (demultiplex, decode, grab, display at the window's 384 x 288) on a
//      DV file read as fast as possible, beside ffmpeg decoding the same
//      file to RGB24 (ffmpeg -f dv -i FILE -f rawvideo -pix_fmt rgb24 -y
//      /dev/null) in the same run, and the ratio of the two;
//  (c) CPU time per frame of the live virtual webcam's 640 x 480 preview
//      shown at 320 x 240, and its F5 to still on disk.
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
#include "features/stills.h"
#include "graph/dm_cam.h"
#include "system/devices/video_sources.h"

namespace {

using kad::bench::cpuSeconds;
using kad::bench::waitFor;

void countFrame(const KadDisplayFrame*, gpointer counter)
{
    ++*static_cast<std::atomic<int>*>(counter);
}

GstElement* makeDisplay(std::atomic<int>* counter, bool sync, int width, int height)
{
    GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
    g_object_set(display, "sync", sync, "display-width", width, "display-height", height, NULL);
    kad_display_sink_set_callback(display, countFrame, counter, nullptr);
    return display;
}

// F5: the grabber's frame to a stored 4:3 image to a BMP on disk, as the
// program does it. Milliseconds, or a negative number on failure.
double stillToDisk(GstElement* grabber, const QString& path)
{
    QElapsedTimer t;
    t.start();
    KadGrabbedFrameInfo info{};
    if (!kad_sample_grabber_peek(grabber, &info)) return -1;
    std::vector<guint8> bytes(info.size);
    if (!kad_sample_grabber_copy_frame(grabber, bytes.data(), bytes.size(), &info)) return -1;
    kad::RgbFrame frame;
    frame.Data = bytes.data();
    frame.Width = info.width;
    frame.Height = info.height;
    frame.Stride = info.stride;
    const QImage stored = kad::MakeStoredImage(frame, true);
    if (stored.isNull() || !kad::WriteBmp24(stored, path)) return -1;
    return t.nsecsElapsed() / 1e6;
}

struct LiveRun {
    double firstFrameMs = -1;
    double stillMs = -1;
    int frames = 0;
    double cpu = 0;
};

// A live virtual device previewed at width x height for seconds: time to
// the first frame, CPU per shown frame, F5 to the still on disk.
LiveRun previewLive(const char* device, int width, int height, int seconds, const QString& still)
{
    LiveRun run;
    qputenv("KADRILLO_VIRTUAL_DEVICES", device);
    kad::TvideoSourceList sources;
    kad::TvideoItems items;
    if (!kad::LoadVideoSources(sources, items) || sources.Count() == 0) return run;
    std::atomic<int> shown{0};
    kad::TdmCam cam;
    cam.CheckOptionalFilters();
    cam.SetVideoWindow(makeDisplay(&shown, true, width, height));
    QElapsedTimer t;
    t.start();
    if (!cam.ConnectSource(*sources.At(0)) || !cam.BuildPreviewGraph() || !cam.RunGraph())
        return run;
    if (waitFor([&] { return shown > 0; }, 10000)) {
        run.firstFrameMs = t.nsecsElapsed() / 1e6;
        const int shown0 = shown;
        const double cpu0 = cpuSeconds(RUSAGE_SELF);
        kad::bench::idleFor(seconds * 1000);
        run.cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
        run.frames = shown - shown0;
        run.stillMs = stillToDisk(cam.sg.Element(), still);
    }
    cam.StopGraph();
    kad_display_sink_set_callback(cam.VideoWindowFilter(), nullptr, nullptr, nullptr);
    return run;
}

void printLive(const char* what, const LiveRun& r)
{
    if (r.firstFrameMs < 0) {
        std::printf("  %s: no frame previewed\n", what);
        return;
    }
    std::printf("  %s: first frame after %.1f ms; %d frames shown, %.3f ms CPU/frame; "
                "F5 to still on disk %.1f ms\n",
                what, r.firstFrameMs, r.frames, r.frames > 0 ? 1000.0 * r.cpu / r.frames : 0.0,
                r.stillMs);
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
    cam.SetVideoWindow(makeDisplay(&shown, false, 384, 288));
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
    QTemporaryDir dir;
    std::printf("(a) live virtual DV camcorder (PAL), shown at 384 x 288:\n");
    printLive("DV", previewLive("dv-pal-vcr", 384, 288, 2, dir.filePath("dv.bmp")));

    const QString file = dir.filePath("bench.dv");
    if (!writeDvFile(file, frames)) {
        std::printf("(b) could not write the DV file\n");
        return 1;
    }
    std::printf("(b) %d PAL DV frames as fast as possible (preview shown at 384 x 288):\n", frames);
    const Run ours = previewFile(file);
    const Run ffmpeg = ffmpegFile(file, frames);
    print("Kadrillo DV preview chain", ours);
    print("ffmpeg -f dv ... rgb24", ffmpeg);
    if (ours.frames > 0 && ffmpeg.frames > 0)
        std::printf("  ratio Kadrillo/ffmpeg: %.2fx the fps, %.2fx the CPU per frame\n",
                    (ours.frames / ours.wall) / (ffmpeg.frames / ffmpeg.wall),
                    (ours.cpu / ours.frames) / (ffmpeg.cpu / ffmpeg.frames));
    std::printf("(c) live virtual webcam, 640 x 480 shown at 320 x 240:\n");
    printLive("webcam", previewLive("webcam", 320, 240, 4, dir.filePath("webcam.bmp")));
    return 0;
}
