// A live DV type-2 capture through the program's capture graph (the virtual
// PAL camcorder, its preview on a display synced to the clock, the AVI
// writer kadaviwriter) cut into a new file at a fixed interval, as a long
// unattended recording would be.
//
//   bench_writers_live [MINUTES] [CUT_MINUTES]     (default 20 and 5)
//
// Figures: frames captured and lost (the status bar's counters), each file's
// picture and sound lengths as ffprobe reads them, the process's CPU share
// (the virtual camcorder's own share measured apart, since a real camcorder
// draws and encodes in its own hardware). Every figure is printed; none is
// judged.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gst/gst.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "elements/display_sink.h"
#include "elements/plugin.h"
#include "graph/dm_cam.h"
#include "graph/frame_counter.h"
#include "platform/media/gst_ptr.h"
#include "system/devices/video_sources.h"
#include "virtual/virtual_plugin.h"

namespace {

using kad::bench::cpuSeconds;
using kad::bench::idleFor;
using kad::bench::waitFor;

void countShown(const KadDisplayFrame*, gpointer counter)
{
    ++*static_cast<std::atomic<guint64>*>(counter);
}

struct FileFigures {
    long long frames = -1;
    double picture = -1; // seconds
    double sound = -1;   // seconds, from the samples
    long long bytes = 0;
};

FileFigures readBack(const QString& file)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-count_packets", "-show_entries",
                        "stream=codec_type,duration,nb_read_packets,nb_frames,sample_rate", "-of",
                        "json", file});
    p.waitForFinished(-1);
    FileFigures f;
    f.bytes = QFileInfo(file).size();
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    for (const QJsonValue& v : root["streams"].toArray()) {
        const QJsonObject o = v.toObject();
        if (o["codec_type"].toString() == "video") {
            f.frames = o["nb_read_packets"].toString().toLongLong();
            f.picture = o["duration"].toString().toDouble();
        } else if (o["codec_type"].toString() == "audio") {
            f.sound = o["nb_frames"].toString().toDouble() / o["sample_rate"].toString().toDouble();
        }
    }
    return f;
}

// CPU share of the virtual camcorder alone.
double deviceCpuShare(int seconds)
{
    GError* error = nullptr;
    kad::ElementRef p = kad::ElementRef::sink(
        gst_parse_launch("kadvirtualdvsrc is-live=true ! fakesink sync=false", &error));
    if (error) {
        g_error_free(error);
        return -1;
    }
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    idleFor(seconds * 1000);
    const double share = (cpuSeconds(RUSAGE_SELF) - cpu0) / (t.nsecsElapsed() / 1e9);
    gst_element_set_state(p.get(), GST_STATE_NULL);
    return share;
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    kad::registerElements();
    kad::registerVirtualDevices();
    const double minutes = argc > 1 ? std::atof(argv[1]) : 20;
    const double cutMinutes = argc > 2 ? std::atof(argv[2]) : 5;
    if (minutes <= 0 || cutMinutes <= 0) {
        std::fprintf(stderr, "usage: %s [MINUTES] [CUT_MINUTES]\n", argv[0]);
        return 2;
    }
    qunsetenv("KADRILLO_VIRTUAL_LIVE");
    qputenv("KADRILLO_VIRTUAL_DEVICES", "dv-pal-vcr");
    kad::TvideoSourceList sources;
    kad::TvideoItems items;
    if (!kad::LoadVideoSources(sources, items) || sources.Count() == 0) {
        std::fprintf(stderr, "no virtual DV camcorder\n");
        return 1;
    }
    QTemporaryDir dir;
    std::vector<QString> files{dir.filePath("live0.avi")};
    std::atomic<guint64> shown{0};
    double wall = 0, cpu = 0;
    guint64 captured = 0, lost = 0, rendered = 0, dropped = 0;
    int cutsAsked = 0, cutsDone = 0;
    {
        kad::TdmCam cam;
        cam.FilterGraph().CheckOptionalFilters();
        GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
        kad_display_sink_set_callback(display, countShown, &shown, nullptr);
        cam.FilterGraph().SetVideoWindow(display);
        if (!cam.Source().ConnectSource(*sources.At(0)) || !cam.Preview().BuildPreviewGraph() ||
            !cam.FilterGraph().RunGraph() || !waitFor([&] { return shown > 0; }, 10000)) {
            std::fprintf(stderr, "no live preview\n");
            return 1;
        }
        idleFor(2000);
        {
            kad::TcaptureOptions options = cam.Capture().Options();
            options.FormatIndex = 1;
            cam.Capture().SetOptions(options);
        }
        cam.Capture().SetCurrentVideoFileName(files[0]);
        QObject::connect(&cam.Capture(), &kad::TcaptureRun::CaptureStopped,
                         [](const QString& text) {
                             std::fprintf(stderr, "capture stopped: %s\n", qPrintable(text));
                         });
        QObject::connect(&cam.Capture(), &kad::TcaptureRun::CaptureFileSwitched,
                         [&](const QString&, const QString&) { ++cutsDone; });
        const double cpu0 = cpuSeconds(RUSAGE_SELF);
        QElapsedTimer t;
        t.start();
        if (!cam.Capture().BuildCaptureGraph()) {
            std::fprintf(stderr, "no live capture\n");
            return 1;
        }
        const qint64 totalMs = qint64(minutes * 60000);
        const qint64 cutMs = qint64(cutMinutes * 60000);
        for (qint64 next = cutMs; next < totalMs; next += cutMs) {
            idleFor(int(next - t.elapsed()));
            files.push_back(dir.filePath(QString("live%1.avi").arg(files.size())));
            ++cutsAsked;
            if (!cam.Capture().SwitchCaptureFile(files.back())) {
                std::fprintf(stderr, "the cut into %s was refused\n", qPrintable(files.back()));
                files.pop_back();
            }
            std::printf("  %.0f s: cut into file %zu\n", t.elapsed() / 1000.0, files.size() - 1);
            std::fflush(stdout);
        }
        idleFor(int(totalMs - t.elapsed()));
        cam.Capture().FinishCapture();
        wall = t.nsecsElapsed() / 1e9;
        cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
        g_object_get(display, "frames-rendered", &rendered, "frames-dropped", &dropped, NULL);
        captured = cam.Capture().CapturedFrames();
        lost = cam.Capture().LostFrames();
        cam.FilterGraph().StopGraph();
        kad_display_sink_set_callback(cam.FilterGraph().VideoWindowFilter(), nullptr, nullptr,
                                      nullptr);
    }
    const int cores = QThread::idealThreadCount();
    std::printf("\nlive DV type-2 capture with preview, virtual PAL camcorder, %.1f s (%.0f frames "
                "at 25 fps), a cut every %.2f min (%d asked, %d done)\n",
                wall, wall * 25, cutMinutes, cutsAsked, cutsDone);
    std::printf("  captured %llu, lost %llu; preview: %llu frames shown, %llu dropped\n",
                (unsigned long long)captured, (unsigned long long)lost,
                (unsigned long long)rendered, (unsigned long long)dropped);
    long long inFiles = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const FileFigures f = readBack(files[i]);
        inFiles += std::max(0LL, f.frames);
        std::printf("  file %zu: %lld frames, picture %.3f s, sound %.3f s (sound - picture "
                    "%+.1f ms), %lld bytes\n",
                    i, f.frames, f.picture, f.sound, 1000 * (f.sound - f.picture), f.bytes);
    }
    std::printf("  frames in all files: %lld (captured + lost = %llu)\n", inFiles,
                (unsigned long long)(captured + lost));
    std::printf("  CPU: %.1f s in %.1f s = %.1f %% of one core, %.1f %% of the %d cores\n", cpu,
                wall, 100 * cpu / wall, 100 * cpu / wall / cores, cores);
    const double device = deviceCpuShare(10);
    if (device >= 0)
        std::printf("  of which the virtual camcorder's own work (measured apart): %.1f %% of "
                    "one core\n",
                    100 * device);
    return 0;
}
