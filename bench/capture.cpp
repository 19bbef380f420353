// The capture writers, measured.
//
//  (a) For each writer path, frames per second and CPU time per frame of a
//      Kadrillo capture (with its preview running, as in the program) fed
//      as fast as possible from a file, beside ffmpeg doing the same job on
//      the same input, and the ratio:
//        DV to type-2 AVI      ffmpeg -c copy
//        DV to type-1 AVI      ffmpeg -c copy to raw DV (the closest job)
//        raw video to DV       ffmpeg -c:v dvvideo
//        raw video to WMV      ffmpeg -c:v wmv2 -c:a wmav2
//  (b) With --live SECONDS: a live capture of the virtual PAL camcorder to
//      DV type 2 with its preview, reporting captured and lost frames and
//      the process's share of one CPU.
//
// Usage: bench_capture [frames] [--live seconds]   (default 300 frames)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gst/gst.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "bench_support.h"
#include "elements/plugin.h"
#include "graph/dm_cam.h"

namespace {

using kad::bench::cpuSeconds;
using kad::bench::waitFor;

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

struct Figures {
    double fps = 0;
    double cpuMsPerFrame = 0;
};

void print(const char* path, const Figures& k, const Figures& f)
{
    std::printf("%-26s kadrillo %8.1f fps %7.2f ms CPU/frame | ffmpeg %8.1f fps %7.2f ms "
                "CPU/frame | speed ratio %.2f, CPU ratio %.2f\n",
                path, k.fps, k.cpuMsPerFrame, f.fps, f.cpuMsPerFrame,
                f.fps > 0 ? k.fps / f.fps : 0.0,
                f.cpuMsPerFrame > 0 ? k.cpuMsPerFrame / f.cpuMsPerFrame : 0.0);
}

Figures ffmpeg(const QStringList& args, int frames)
{
    const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer t;
    t.start();
    QStringList all{"-v", "error", "-y"};
    all << args;
    if (!run("ffmpeg", all)) std::fprintf(stderr, "ffmpeg %s failed\n", qPrintable(args.join(' ')));
    const double wall = t.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds(RUSAGE_CHILDREN) - cpu0;
    return {frames / wall, 1000.0 * cpu / frames};
}

// A source element reading a prepared file: whole DV frames, or raw video.
GstElement* fileSource(const QString& description)
{
    GError* error = nullptr;
    GstElement* bin =
        gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &error);
    if (error) {
        std::fprintf(stderr, "%s\n", error->message);
        g_error_free(error);
    }
    return bin;
}

Figures kadrillo(const QString& source, kad::SourceKind expect, int format, const QString& out,
                 int frames)
{
    kad::TdmCam cam;
    cam.CheckOptionalFilters();
    GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
    g_object_set(display, "sync", FALSE, "async", FALSE, NULL);
    cam.SetVideoWindow(display);
    bool ended = false;
    QObject::connect(&cam, &kad::TdmCam::EndOfStream, [&] { ended = true; });
    if (!cam.ConnectSourceElement("File", fileSource(source)) || cam.SourceKind != expect ||
        !cam.BuildPreviewGraph()) {
        std::fprintf(stderr, "no preview of %s\n", qPrintable(source));
        return {};
    }
    cam.Capture.FormatIndex = format;
    cam.CurrentVideoFileName = out;
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    if (!cam.BuildCaptureGraph()) {
        std::fprintf(stderr, "no capture into %s\n", qPrintable(out));
        return {};
    }
    waitFor([&] { return ended || cam.CapturedFrames() >= guint64(frames); }, 600000);
    cam.FinishCapture();
    const double wall = t.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    const double n = std::max<double>(1, cam.CapturedFrames());
    return {n / wall, 1000.0 * cpu / n};
}

void live(int seconds)
{
    kad::TdmCam cam;
    cam.CheckOptionalFilters();
    GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
    cam.SetVideoWindow(display);
    GstElement* dv = gst_element_factory_make("kadvirtualdvsrc", nullptr);
    g_object_set(dv, "is-live", TRUE, NULL);
    if (!cam.ConnectSourceElement("Virtual DV", dv) || !cam.BuildPreviewGraph() ||
        !cam.RunGraph()) {
        std::fprintf(stderr, "no live preview\n");
        return;
    }
    QTemporaryDir dir;
    cam.Capture.FormatIndex = 1;
    cam.CurrentVideoFileName = dir.filePath("live.avi");
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    if (!cam.BuildCaptureGraph()) {
        std::fprintf(stderr, "no live capture\n");
        return;
    }
    waitFor([] { return false; }, seconds * 1000);
    const double wall = t.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    cam.FinishCapture();
    std::printf("live DV type 2 with preview: %.1f s, %llu captured frames (%.0f expected), "
                "%llu lost frames, CPU %.1f %% of one core\n",
                wall, static_cast<unsigned long long>(cam.CapturedFrames()), wall * 25,
                static_cast<unsigned long long>(cam.LostFrames()), 100.0 * cpu / wall);
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    gst_init(&argc, &argv);
    kad::registerElements();
    QCoreApplication app(argc, argv);
    int frames = 300;
    int liveSeconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--live") == 0 && i + 1 < argc)
            liveSeconds = std::atoi(argv[++i]);
        else if (std::atoi(argv[i]) > 0)
            frames = std::atoi(argv[i]);
    }
    if (liveSeconds > 0) {
        live(liveSeconds);
        return 0;
    }

    QTemporaryDir dir;
    const QString dv = dir.filePath("in.dv");
    const QString raw = dir.filePath("in.yuv");
    const QString n = QString::number(frames);
    // The same inputs for both: PAL DV with 48 kHz audio, and 640x480 YUY2.
    if (!run("ffmpeg", {"-v",
                        "error",
                        "-y",
                        "-f",
                        "lavfi",
                        "-i",
                        "testsrc=size=720x576:rate=25",
                        "-f",
                        "lavfi",
                        "-i",
                        "sine=sample_rate=48000",
                        "-frames:v",
                        n,
                        "-ac",
                        "2",
                        "-c:v",
                        "dvvideo",
                        "-pix_fmt",
                        "yuv420p",
                        "-c:a",
                        "pcm_s16le",
                        "-f",
                        "dv",
                        dv}) ||
        !run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=640x480:rate=25",
                        "-frames:v", n, "-pix_fmt", "yuyv422", "-f", "rawvideo", raw})) {
        std::fprintf(stderr, "cannot make the inputs with ffmpeg\n");
        return 1;
    }
    const QString dvSource = "filesrc location=" + dv +
                             " blocksize=144000 ! capsfilter caps=\"video/x-dv,systemstream=true\"";
    const QString rawSource = "filesrc location=" + raw +
                              " ! rawvideoparse width=640 height=480 format=yuy2 framerate=25/1";

    std::printf("%d frames per run\n", frames);
    print("DV -> type-2 AVI",
          kadrillo(dvSource, kad::SourceKind::skDV, 1, dir.filePath("k2.avi"), frames),
          ffmpeg({"-f", "dv", "-i", dv, "-c", "copy", dir.filePath("f2.avi")}, frames));
    print("DV -> type-1 AVI",
          kadrillo(dvSource, kad::SourceKind::skDV, 0, dir.filePath("k1.avi"), frames),
          ffmpeg({"-f", "dv", "-i", dv, "-c", "copy", "-f", "dv", dir.filePath("f1.dv")}, frames));
    const QStringList rawIn{"-f",      "rawvideo", "-pix_fmt", "yuyv422", "-s",
                            "640x480", "-r",       "25",       "-i",      raw};
    print("raw -> DV (recompressed)",
          kadrillo(rawSource, kad::SourceKind::skAnalog, 1, dir.filePath("k3.avi"), frames),
          ffmpeg(rawIn + QStringList{"-vf", "scale=720:576", "-pix_fmt", "yuv420p", "-c:v",
                                     "dvvideo", dir.filePath("f3.avi")},
                 frames));
    print("raw -> WMV",
          kadrillo(rawSource, kad::SourceKind::skAnalog, 2, dir.filePath("k4.wmv"), frames),
          ffmpeg(rawIn + QStringList{"-c:v", "wmv2", "-an", dir.filePath("f4.wmv")}, frames));
    return 0;
}
