// Ending a capture without holding the event loop: BeginFinishCapture
// returns while the files are still being finished, the graph goes on being
// served by the event loop meanwhile, and CaptureFinished comes once every
// file reads whole in readers we did not write, or once the time allowed is
// over.

#include "capture_graph_fixture.h"
#include "support/edit_options.h"
#include "support/readers.h"
#include "system/log.h"

#include <QFile>
#include <QTimer>

namespace kad::test {
namespace {

using kadtest::demuxRead;
using kadtest::pump;

// What CaptureFinished said, and how often.
struct Finished {
    explicit Finished(TdmCam& cam)
    {
        connection = QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFinished,
                                      [this](const QString& file, bool ok) {
                                          ++count;
                                          lastFile = file;
                                          complete = ok;
                                      });
    }
    ~Finished() { QObject::disconnect(connection); }
    Finished(const Finished&) = delete;
    Finished& operator=(const Finished&) = delete;

    int count = 0;
    QString lastFile;
    bool complete = false;
    QMetaObject::Connection connection;
};

QString logText()
{
    QFile f(LogFileName());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class CaptureFinish : public CaptureTest {
protected:
    // The writer's only input (DV type 1).
    PadRef writerInput() const
    {
        return PadRef(gst_element_get_static_pad(cam.Capture().CaptureFileSink(), "sink"));
    }

    // Starts a DV type-1 capture into name on the previewing source and, once
    // frames are being written, holds the writer's input at `gate`; the probe
    // holding it goes in *held.
    void captureAndHold(const QString& name, Gate& gate, gulong* held = nullptr)
    {
        ASSERT_NO_FATAL_FAILURE(beginCapture(0, name, 10));
        held_ = writerInput();
        ASSERT_TRUE(held_);
        const gulong id =
            gst_pad_add_probe(held_.get(), GST_PAD_PROBE_TYPE_BUFFER, Gate::hold, &gate, nullptr);
        if (held) *held = id;
        ASSERT_TRUE(waitUntil([&] { return gate.held(); }));
    }

    // The input captureAndHold holds.
    PadRef held_;
};

// Each writer kind: the call leaves the capture ending, the end is told on
// the event loop with the writer's last file complete, and the graph is
// stopped already. The preview that follows shows the source again without
// any of the capture's elements left, and a second capture from it ends the
// same way. The preview is the one the capture was added to, not a new
// build.
TEST_F(CaptureFinish, EndsOnTheEventLoopWithEveryFileWhole)
{
    struct Case {
        int format;
        const char* name;
        const char* demuxer;
        const char* writer;
    };
    std::vector<Case> cases{{0, "type1.avi", "avidemux", "kaddvaviwriter"},
                            {1, "type2.avi", "avidemux", "kadaviwriter"}};
    if (cam.FilterGraph().Presence().WmvAvailable)
        cases.push_back({3, "dv.wmv", "asfdemux", "asfmux"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(preview(Source::DvPal, true));
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            const QString name = dir.filePath(QStringLiteral("%1-%2").arg(round).arg(c.name));
            GstElement* splitter = cam.FilterGraph().DVsplitter.Element();
            kadtest::editOptions(cam.Capture(),
                                 [&](auto& options) { options.FormatIndex = c.format; });
            cam.Capture().SetCurrentVideoFileName(name);
            ASSERT_TRUE(cam.Capture().BuildCaptureGraph());
            ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= 40; }));
            const guint64 captured = cam.Capture().CapturedFrames();

            Finished finished(cam);
            cam.Capture().BeginFinishCapture();
            EXPECT_TRUE(cam.Capture().CaptureFinishing());
            EXPECT_FALSE(cam.Capture().Capturing());
            EXPECT_EQ(finished.count, 0) << "told before the call returned";
            ASSERT_TRUE(waitUntil([&] { return finished.count > 0; }, 15000));
            pump(50);
            EXPECT_EQ(finished.count, 1);
            EXPECT_TRUE(finished.complete);
            EXPECT_FALSE(cam.Capture().CaptureFinishing());
            EXPECT_EQ(finished.lastFile, name);
            EXPECT_FALSE(cam.FilterGraph().IsRunning())
                << "the graph was left for the GUI thread to stop";

            const Probed p = probe(name);
            ASSERT_TRUE(p.ok) << p.error;
            ASSERT_NE(p.first("video"), nullptr);
            EXPECT_GE(p.first("video")->frames, qint64(captured));
            // The index (AVI) and the header's packet count (ASF) are written
            // only when the file is finished; these demuxers go by them.
            const kadtest::Demuxed d = demuxRead(name, c.demuxer, false);
            EXPECT_TRUE(d.error.empty()) << d.error;
            EXPECT_EQ(d.frames, p.first("video")->frames);

            // The preview again.
            ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
            ASSERT_TRUE(cam.FilterGraph().RunGraph());
            EXPECT_EQ(cam.FilterGraph().DVsplitter.Element(), splitter)
                << "the preview was built anew";
            EXPECT_FALSE(cam.Capture().CaptureFileSink());
            GstIterator* writers =
                gst_bin_iterate_all_by_element_factory_name(cam.FilterGraph().Graph(), c.writer);
            GValue item = G_VALUE_INIT;
            EXPECT_NE(gst_iterator_next(writers, &item), GST_ITERATOR_OK)
                << "the capture's writer is still in the preview";
            g_value_unset(&item);
            gst_iterator_free(writers);
            PadRef shown(gst_element_get_static_pad(cam.FilterGraph().VideoWindowFilter(), "sink"));
            std::atomic<int> frames{0};
            const gulong counting = gst_pad_add_probe(shown.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                                      countSinceStart, &frames, nullptr);
            EXPECT_TRUE(waitUntil([&] { return frames.load() >= 10; }))
                << "the preview shows nothing after the capture";
            gst_pad_remove_probe(shown.get(), counting);
        }
        cam.FilterGraph().FreeAllFilters();
    }
}

// The writer is held back when the stop begins: the call returns anyway, the
// event loop goes on, and the end comes only once the writer has caught up,
// with every frame that reached it in the file.
TEST_F(CaptureFinish, AWriterHeldBackFinishesOnceLetGo)
{
    ASSERT_TRUE(preview(Source::DvPal));
    g_object_set(source, "is-live", TRUE, NULL);
    // What the Smart Tee sends the writer from the capture's start on.
    PadRef toWriter(gst_element_get_static_pad(cam.FilterGraph().Smarttee.Element(), "capture"));
    ASSERT_TRUE(toWriter);
    std::atomic<int> arrived{0};
    gst_pad_add_probe(
        toWriter.get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        countSinceStart, &arrived, nullptr);
    const QString name = file("held.avi");
    Gate gate;
    gulong held = 0;
    captureAndHold(name, gate, &held);
    ASSERT_FALSE(HasFatalFailure());

    Finished finished(cam);
    cam.Capture().BeginFinishCapture(10000);
    EXPECT_TRUE(cam.Capture().CaptureFinishing());
    // The event loop runs while the writer is held: the end waits for it.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(5);
    pump(400);
    EXPECT_GT(ticks, 0);
    EXPECT_EQ(finished.count, 0) << "the end was told while the writer was held";
    EXPECT_TRUE(cam.Capture().CaptureFinishing());

    gate.open();
    ASSERT_TRUE(waitUntil([&] { return finished.count > 0; }, 15000));
    gst_pad_remove_probe(held_.get(), held);
    EXPECT_TRUE(finished.complete);
    EXPECT_EQ(finished.lastFile, name);
    EXPECT_EQ(videoFrames(name), qint64(arrived.load()))
        << "frames that reached the writer are missing from the file";
    const kadtest::Demuxed d = demuxRead(name, "avidemux", false);
    EXPECT_EQ(d.frames, qint64(arrived.load())) << d.error;
}

// A writer whose input never takes its end: forcing it at half time does not
// help either, and the end is told as incomplete once the time is over, with
// the log saying so.
TEST_F(CaptureFinish, AWriterThatNeverEndsIsGivenUpInTime)
{
    ASSERT_TRUE(StartLog(true));
    ASSERT_TRUE(preview(Source::DvPal));
    g_object_set(source, "is-live", TRUE, NULL);
    const QString name = file("stuck.avi");
    Gate gate;
    captureAndHold(name, gate);
    ASSERT_FALSE(HasFatalFailure());

    Finished finished(cam);
    cam.Capture().BeginFinishCapture(1000);
    EXPECT_TRUE(cam.Capture().CaptureFinishing());
    EXPECT_EQ(finished.count, 0);
    ASSERT_TRUE(waitUntil([&] { return finished.count > 0; }, 15000))
        << "no end told after the time allowed";
    EXPECT_FALSE(finished.complete);
    EXPECT_FALSE(cam.Capture().CaptureFinishing());
    EXPECT_TRUE(logText().contains(QStringLiteral("could not be finished in time")));
    gate.open();
    StopLog();
    // What the writer had synced before it was held still reads.
    const Probed p = probe(name);
    EXPECT_TRUE(p.ok) << p.error;
}

// With no capture to end, the end is told all the same, after the call.
TEST_F(CaptureFinish, NothingToEndIsToldToo)
{
    ASSERT_TRUE(preview(Source::DvPal));
    Finished finished(cam);
    cam.Capture().BeginFinishCapture();
    EXPECT_TRUE(cam.Capture().CaptureFinishing());
    EXPECT_EQ(finished.count, 0);
    ASSERT_TRUE(waitUntil([&] { return finished.count > 0; }, 5000));
    EXPECT_TRUE(finished.complete);
    EXPECT_FALSE(cam.Capture().CaptureFinishing());
    EXPECT_TRUE(cam.FilterGraph().IsRunning()) << "a preview without capture was stopped";
}

// A stop of the graph while the end is under way cannot wait for it: it
// finishes the files itself and the end is still told once.
TEST_F(CaptureFinish, StoppingTheGraphMeanwhileFinishesTheFiles)
{
    ASSERT_TRUE(preview(Source::DvPal));
    const QString name = file("overtaken.avi");
    ASSERT_NO_FATAL_FAILURE(beginCapture(1, name, 40));
    Finished finished(cam);
    cam.Capture().BeginFinishCapture();
    cam.FilterGraph().StopGraph();
    const kadtest::Demuxed d = demuxRead(name, "avidemux", false);
    EXPECT_TRUE(d.error.empty()) << d.error;
    EXPECT_GE(d.frames, 40);
    ASSERT_TRUE(waitUntil([&] { return finished.count > 0; }, 5000));
    pump(200);
    EXPECT_EQ(finished.count, 1);
    EXPECT_TRUE(finished.complete);
    EXPECT_FALSE(cam.Capture().CaptureFinishing());
}

// The data module goes (the program closes) while a capture ends: the files
// are finished before the graph is taken down.
TEST_F(CaptureFinish, ClosingWhileTheCaptureEndsLeavesItsFileWhole)
{
    const QString name = file("closing.avi");
    guint64 captured = 0;
    {
        kadtest::StuckGuard guard("closing while the capture ends", 20000);
        TdmCam closing;
        closing.FilterGraph().CheckOptionalFilters();
        GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
        g_object_set(display, "sync", FALSE, "async", FALSE, NULL);
        closing.FilterGraph().SetVideoWindow(display);
        GstElement* dv = gst_element_factory_make("kadvirtualdvsrc", nullptr);
        g_object_set(dv, "is-live", FALSE, NULL);
        ASSERT_TRUE(closing.Source().ConnectSourceElement("Virtual", dv));
        ASSERT_TRUE(closing.Preview().BuildPreviewGraph());
        ASSERT_TRUE(closing.FilterGraph().RunGraph());
        kadtest::editOptions(closing.Capture(), [&](auto& options) { options.FormatIndex = 1; });
        closing.Capture().SetCurrentVideoFileName(name);
        ASSERT_TRUE(closing.Capture().BuildCaptureGraph());
        ASSERT_TRUE(waitUntil([&] { return closing.Capture().CapturedFrames() >= 40; }));
        captured = closing.Capture().CapturedFrames();
        closing.Capture().BeginFinishCapture();
    }
    const kadtest::Demuxed d = demuxRead(name, "avidemux", false);
    EXPECT_TRUE(d.error.empty()) << d.error;
    EXPECT_GE(d.frames, qint64(captured));
}

} // namespace
} // namespace kad::test
