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
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gst/gst.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "elements/plugin.h"
#include "graph/dm_cam.h"
#include "graph/frame_counter.h"
#include "system/devices/video_sources.h"
#include "virtual/virtual_plugin.h"

namespace {

using kad::bench::idleFor;
using kad::bench::waitFor;

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
    kad::TvideoSourceList sources;
    if (!kad::bench::listVirtualCamcorder(sources)) return 1;
    QTemporaryDir dir;
    std::vector<QString> files{dir.filePath("live0.avi")};
    std::atomic<guint64> shown{0};
    double wall = 0, cpu = 0;
    guint64 captured = 0, lost = 0, rendered = 0, dropped = 0;
    int cutsAsked = 0, cutsDone = 0;
    {
        kad::TdmCam cam;
        GstElement* display = kad::bench::startLivePreview(cam, *sources.At(0), shown);
        if (!display) return 1;
        QObject::connect(&cam.Capture(), &kad::TcaptureRun::CaptureFileSwitched,
                         [&](const QString&, const QString&) { ++cutsDone; });
        const kad::bench::CpuClock clock;
        if (!kad::bench::startDvCapture(cam, files[0])) return 1;
        const qint64 totalMs = qint64(minutes * 60000);
        const qint64 cutMs = qint64(cutMinutes * 60000);
        for (qint64 next = cutMs; next < totalMs; next += cutMs) {
            idleFor(int(next - clock.wall.elapsed()));
            files.push_back(dir.filePath(QString("live%1.avi").arg(files.size())));
            ++cutsAsked;
            if (!cam.Capture().SwitchCaptureFile(files.back())) {
                std::fprintf(stderr, "the cut into %s was refused\n", qPrintable(files.back()));
                files.pop_back();
            }
            std::printf("  %.0f s: cut into file %zu\n", clock.wall.elapsed() / 1000.0,
                        files.size() - 1);
            std::fflush(stdout);
        }
        idleFor(int(totalMs - clock.wall.elapsed()));
        cam.Capture().FinishCapture();
        wall = clock.seconds();
        cpu = clock.cpu();
        g_object_get(display, "frames-rendered", &rendered, "frames-dropped", &dropped, NULL);
        captured = cam.Capture().CapturedFrames();
        lost = cam.Capture().LostFrames();
        kad::bench::stopLivePreview(cam);
    }
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
    kad::bench::printCpu(cpu, wall, kad::bench::deviceCpuShare(10));
    return 0;
}
