#pragma once

// Helpers shared by the benchmark programs.

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSize>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gst/gst.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "elements/display_sink.h"
#include "elements/plugin.h"
#include "graph/dm_cam.h"
#include "platform/media/gst_ptr.h"
#include "settings/preferences.h"
#include "system/devices/video_sources.h"
#include "virtual/virtual_plugin.h"

namespace kad::bench {

// User plus system CPU seconds of RUSAGE_SELF or RUSAGE_CHILDREN.
inline double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU time (user plus system, RUSAGE_SELF) and wall time from its making
// on.
struct CpuClock {
    CpuClock() { wall.start(); }
    double cpu() const { return cpuSeconds(RUSAGE_SELF) - cpu0; }
    double seconds() const { return wall.nsecsElapsed() / 1e9; }

    double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer wall;
};

// The longest time the event loop did not run a 5 ms timer, from its making
// on: how long the window could have looked frozen.
class StallWatch {
public:
    StallWatch()
    {
        clock_.start();
        tick_.setInterval(5);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longestMs_ = std::max(longestMs_, now - lastTick_);
            lastTick_ = now;
        });
        tick_.start();
    }
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    // Between two ticks.
    qint64 longestMs() const { return longestMs_; }
    // The wait for the next tick counted too.
    qint64 longestUntilNowMs() const { return std::max(longestMs_, clock_.elapsed() - lastTick_); }

private:
    QElapsedTimer clock_;
    QTimer tick_;
    qint64 lastTick_ = 0;
    qint64 longestMs_ = 0;
};

// Runs the event loop until done() holds; false after ms milliseconds.
// The loop sleeps between two looks at done() (a timer every pollMs), so the
// waiting costs next to no CPU time and does not compete with the graph's
// threads for the cores being measured.
inline bool waitFor(const std::function<bool()>& done, int ms, int pollMs = 2)
{
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.exit(0);
    });
    QTimer::singleShot(ms, &loop, [&] { loop.exit(1); });
    poll.start(pollMs);
    return loop.exec() == 0 || done();
}

// Runs the event loop for ms milliseconds.
inline void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, [&] { loop.quit(); });
    loop.exec();
}

// ---- The whole program ---------------------------------------------------------------

// Starts a bench of the whole program in a throw-away `home` (registry,
// settings, state, data and the capture folder), with the virtual PAL
// camcorder as the only device and no display needed unless a platform is
// set: GStreamer with Kadrillo's elements, the application (`argc` must
// outlive it) and preferences that are not saved at exit.
inline std::unique_ptr<QApplication> startProgramBench(int& argc, char** argv,
                                                       const QTemporaryDir& home)
{
    const QByteArray h = home.path().toUtf8();
    setenv("KADRILLO_REGISTRY", (h + "/registry.reg").constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/config").constData(), 1);
    setenv("XDG_STATE_HOME", (h + "/state").constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/data").constData(), 1);
    setenv("KADRILLO_VIRTUAL_DEVICES", "dv-pal-vcr", 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    gst_init(&argc, &argv);
    kad::registerElements();
    kad::registerVirtualDevices();
    auto app = std::make_unique<QApplication>(argc, argv);
    auto prefs = kad::CreatePreferences(QSize(700, 459));
    prefs->VideoDirectory.Value = home.path() + QStringLiteral("/");
    prefs->SauverPreferencesEnQuittant.Value = false;
    kad::SavePreferences(*prefs);
    return app;
}

// ---- The virtual camcorder, live ------------------------------------------------------

// Counts the frames a kaddisplaysink hands on; `counter` is a
// std::atomic<guint64>.
inline void countShown(const KadDisplayFrame*, gpointer counter)
{
    ++*static_cast<std::atomic<guint64>*>(counter);
}

// CPU share of the virtual camcorder alone over `seconds` (it draws and
// encodes every frame, which a real camcorder does in its own hardware); -1
// when it cannot run.
inline double deviceCpuShare(int seconds)
{
    GError* error = nullptr;
    kad::ElementRef p = kad::ElementRef::sink(
        gst_parse_launch("kadvirtualdvsrc is-live=true ! fakesink sync=false", &error));
    if (error) {
        g_error_free(error);
        return -1;
    }
    const CpuClock clock;
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    idleFor(seconds * 1000);
    const double share = clock.cpu() / clock.seconds();
    gst_element_set_state(p.get(), GST_STATE_NULL);
    return share;
}

// The process's CPU time `cpu` over `wall` seconds, and the virtual
// camcorder's own share measured apart (`device`; -1: not known).
inline void printCpu(double cpu, double wall, double device)
{
    const int cores = QThread::idealThreadCount();
    std::printf("  CPU: %.1f s in %.1f s = %.1f %% of one core, %.1f %% of the %d cores\n", cpu,
                wall, 100 * cpu / wall, 100 * cpu / wall / cores, cores);
    if (device >= 0)
        std::printf("  of which the virtual camcorder's own work (measured apart): %.1f %% of "
                    "one core\n",
                    100 * device);
}

// Lists the virtual PAL camcorder, live; false (said on stderr) when it is
// not there.
inline bool listVirtualCamcorder(kad::TvideoSourceList& sources)
{
    qunsetenv("KADRILLO_VIRTUAL_LIVE");
    qputenv("KADRILLO_VIRTUAL_DEVICES", "dv-pal-vcr");
    kad::TvideoItems items;
    if (!kad::LoadVideoSources(sources, items) || sources.Count() == 0) {
        std::fprintf(stderr, "no virtual DV camcorder\n");
        return false;
    }
    return true;
}

// Previews `source` through `cam` on the window's display (synced to the
// clock, each frame handed on and counted in `shown`) and lets it run two
// seconds. The display, or null (said on stderr) when no frame came.
inline GstElement* startLivePreview(kad::TdmCam& cam, const kad::TvideoSource& source,
                                    std::atomic<guint64>& shown)
{
    cam.FilterGraph().CheckOptionalFilters();
    GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
    kad_display_sink_set_callback(display, countShown, &shown, nullptr);
    cam.FilterGraph().SetVideoWindow(display);
    if (!cam.Source().ConnectSource(source) || !cam.Preview().BuildPreviewGraph() ||
        !cam.FilterGraph().RunGraph() || !waitFor([&] { return shown > 0; }, 10000)) {
        std::fprintf(stderr, "no live preview\n");
        return nullptr;
    }
    idleFor(2000);
    return display;
}

// Starts a DV type 2 capture of `cam` into `file`, telling on stderr why
// it stops; false (said on stderr) when it does not start.
inline bool startDvCapture(kad::TdmCam& cam, const QString& file)
{
    kad::TcaptureOptions options = cam.Capture().Options();
    options.FormatIndex = 1;
    cam.Capture().SetOptions(options);
    cam.Capture().SetCurrentVideoFileName(file);
    QObject::connect(&cam.Capture(), &kad::TcaptureRun::CaptureStopped, [](const QString& text) {
        std::fprintf(stderr, "capture stopped: %s\n", qPrintable(text));
    });
    if (cam.Capture().BuildCaptureGraph()) return true;
    std::fprintf(stderr, "no live capture\n");
    return false;
}

// Stops the graph of a live preview, and the display's counting with it.
inline void stopLivePreview(kad::TdmCam& cam)
{
    cam.FilterGraph().StopGraph();
    kad_display_sink_set_callback(cam.FilterGraph().VideoWindowFilter(), nullptr, nullptr, nullptr);
}

} // namespace kad::bench
