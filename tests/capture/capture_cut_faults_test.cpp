// The cut into a new file while the graph runs, and captures that end by
// themselves.

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"
#include "support/edit_options.h"
#include "support/wait.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kad::test {
namespace {

class CaptureCut : public CaptureTest {
protected:
    // Captures `format` into two files cut after `before` frames.
    // `started` runs once the capture graph is built.
    void cutDuring(Source kind, int format, const char* first, const char* second,
                   guint64 before = 25, guint64 total = 50,
                   const std::function<void()>& beforeStart = {})
    {
        ASSERT_TRUE(preview(kind, listen));
        if (beforeStart) beforeStart();
        ASSERT_NO_FATAL_FAILURE(beginCapture(format, file(first), before));
        QString switchedFrom, switchedTo;
        QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFileSwitched,
                         [&](const QString& a, const QString& b) {
                             switchedFrom = a;
                             switchedTo = b;
                         });
        ASSERT_TRUE(cam.Capture().SwitchCaptureFile(file(second)));
        EXPECT_EQ(cam.Capture().CaptureFileName(), file(second));
        ASSERT_TRUE(waitUntil([&] { return !switchedTo.isEmpty(); }));
        EXPECT_EQ(switchedFrom, file(first));
        EXPECT_EQ(switchedTo, file(second));
        ASSERT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= total; }));
        ASSERT_TRUE(cam.Capture().FinishCapture());
    }

    // The camcorder's own sound goes into the files too.
    bool listen = false;

    using CaptureTest::videoFrames;
    qint64 videoFrames(const char* name) { return videoFrames(file(name)); }
};

TEST_F(CaptureCut, EveryAviWriterGoesOnIntoTheNextFileWithoutLosingAFrame)
{
    cutDuring(Source::DvPal, 1, "t2-a.avi", "t2-b.avi");
    EXPECT_EQ(videoFrames("t2-a.avi") + videoFrames("t2-b.avi"),
              qint64(cam.Capture().CapturedFrames()));
    EXPECT_GT(videoFrames("t2-b.avi"), 0);

    cutDuring(Source::DvPal, 0, "t1-a.avi", "t1-b.avi");
    EXPECT_EQ(videoFrames("t1-a.avi") + videoFrames("t1-b.avi"),
              qint64(cam.Capture().CapturedFrames()));
    EXPECT_GT(videoFrames("t1-a.avi"), 0);
}

// What enters the inputs of one muxer: the audio buffers, and the time of
// each video frame.
struct MuxCount {
    std::mutex lock;
    std::vector<std::pair<GstClockTime, GstClockTime>> video; // time, duration
    std::atomic<int> audio{0};
};

GstPadProbeReturn countVideo(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto* count = static_cast<MuxCount*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard guard(count->lock);
    count->video.emplace_back(GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer));
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn countAudio(GstPad*, GstPadProbeInfo*, gpointer data)
{
    ++static_cast<MuxCount*>(data)->audio;
    return GST_PAD_PROBE_OK;
}

bool firstVideoPacketIsKey(const QString& name)
{
    return kadtest::runTool("ffprobe",
                            {"-v", "error", "-select_streams", "v:0", "-read_intervals", "%+#1",
                             "-show_entries", "packet=flags", "-of", "csv=p=0", name})
        .trimmed()
        .startsWith("K");
}

void countMuxInput(GstPad* pad, MuxCount* count)
{
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SINK) return;
    const bool video = g_str_has_prefix(GST_PAD_NAME(pad), "video");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, video ? countVideo : countAudio, count,
                      nullptr);
}

// The first file's muxer, then the next file's.
struct MuxCounts {
    MuxCount* before;
    MuxCount* after;
    int muxers = 0;
};

// Counts a muxer's inputs from the moment it joins the graph, before any data
// flows: those it already has and those it gets later.
void countNewMuxer(GstBin*, GstBin*, GstElement* e, gpointer data)
{
    GstElementFactory* f = gst_element_get_factory(e);
    if (!f || g_strcmp0(GST_OBJECT_NAME(f), "asfmux") != 0) return;
    auto* counts = static_cast<MuxCounts*>(data);
    MuxCount* count = counts->muxers++ == 0 ? counts->before : counts->after;
    GstIterator* it = gst_element_iterate_sink_pads(e);
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        countMuxInput(GST_PAD(g_value_get_object(&item)), count);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    g_signal_connect(e, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer m) {
                         countMuxInput(pad, static_cast<MuxCount*>(m));
                     }),
                     count);
}

TEST_F(CaptureCut, WindowsMediaGoesOnIntoTheNextFile)
{
    if (!cam.FilterGraph().Presence().WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    // The picture and sound are followed where they enter each file's
    // muxer, and ffprobe must read back every frame and sound packet.
    MuxCount before, after;
    MuxCounts counts{&before, &after};
    gulong added = 0;
    listen = true;
    cutDuring(Source::DvPal, 3, "a.wmv", "b.wmv", 20, 40, [&] {
        added = g_signal_connect(cam.FilterGraph().Graph(), "deep-element-added",
                                 G_CALLBACK(countNewMuxer), &counts);
    });
    g_signal_handler_disconnect(cam.FilterGraph().Graph(), added);
    ASSERT_EQ(counts.muxers, 2);
    ASSERT_GE(before.video.size(), 20u);
    ASSERT_FALSE(after.video.empty());
    ASSERT_GT(after.audio, 0);
    // The next file begins with the frame after the old file's last one:
    // none lost at the cut, none in both files.
    const auto [lastTime, lastDuration] = before.video.back();
    ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(lastTime) && GST_CLOCK_TIME_IS_VALID(lastDuration));
    const GstClockTime next = after.video.front().first;
    ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(next));
    EXPECT_LE(std::max(next, lastTime + lastDuration) - std::min(next, lastTime + lastDuration),
              GST_MSECOND)
        << "old file ends at " << lastTime + lastDuration << ", new begins at " << next;
    EXPECT_GE(before.video.size() + after.video.size(), cam.Capture().CapturedFrames());
    EXPECT_EQ(videoFrames("a.wmv"), qint64(before.video.size()));
    EXPECT_EQ(videoFrames("b.wmv"), qint64(after.video.size()));
    for (const char* name : {"a.wmv", "b.wmv"}) {
        const Probed p = probe(file(name));
        EXPECT_TRUE(p.ok) << name << ": " << p.error;
        EXPECT_EQ(p.format, "asf") << name;
        EXPECT_EQ(p.count("video"), 1) << name;
        const kadtest::Probe packets = kadtest::ffprobe(file(name).toStdString());
        ASSERT_NE(packets.first("audio"), nullptr) << name;
        EXPECT_EQ(packets.first("audio")->frames,
                  (name == std::string("a.wmv") ? before : after).audio.load())
            << name;
        // Each file must play from its first frame on.
        EXPECT_TRUE(firstVideoPacketIsKey(file(name))) << name;
    }
}

TEST_F(CaptureCut, TheProgramStreamIsCutBetweenPacksAndLosesNoByte)
{
    sentLocation = file("sent.mpg");
    cutDuring(Source::Mpeg2, 0, "a.mpg", "b.mpg", 10, 25);
    cam.FilterGraph().FreeAllFilters();
    QFile a(file("a.mpg")), b(file("b.mpg")), sent(file("sent.mpg"));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) &&
                sent.open(QIODevice::ReadOnly));
    const QByteArray first = a.readAll(), second = b.readAll();
    ASSERT_GT(second.size(), 0);
    EXPECT_TRUE(second.startsWith(QByteArray::fromHex("000001ba")));
    EXPECT_TRUE(sent.readAll().contains(first + second));
}

// The pad feeding the queue in front of the muxer input named `prefix`.
PadRef feederOf(GstElement* mux, const char* prefix)
{
    const PadRef input = sinkPadNamed(mux, prefix);
    PadRef queueOut(input ? gst_pad_get_peer(input.get()) : nullptr);
    ElementRef queue(queueOut ? gst_pad_get_parent_element(queueOut.get()) : nullptr);
    PadRef queueIn(queue ? gst_element_get_static_pad(queue.get(), "sink") : nullptr);
    return PadRef(queueIn ? gst_pad_get_peer(queueIn.get()) : nullptr);
}

GstPadProbeReturn dropWhileStalled(GstPad*, GstPadProbeInfo*, gpointer stalled)
{
    return static_cast<std::atomic<bool>*>(stalled)->load() ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// The video frames GStreamer's own AVI reader finds in `name`, or -1 when it
// cannot read the file. It runs in a process of its own, where assertions
// are not fatal: avidemux trips over one of its own on a stream that holds
// no chunk (sound that stopped coming), yet reads the file.
qint64 avidemuxFrames(const QString& name)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("G_DEBUG");
    p.setProcessEnvironment(env);
    p.start("gst-launch-1.0", {"-v", "filesrc", "location=" + name, "!", "avidemux", "name=d",
                               "d.video_0", "!", "fakesink", "silent=false"});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return -1;
    qint64 frames = 0;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        frames += line.contains("last-message = chain");
    return frames;
}

class CaptureCutOnStall : public CaptureCut {
protected:
    // A type-2 capture whose sound stops coming (a source that stalls):
    // avimux then keeps its video input waiting inside it, under that
    // input's stream lock, for sound to interleave with.
    void captureThenStallSound()
    {
        ASSERT_TRUE(preview(Source::DvPal));
        ASSERT_NO_FATAL_FAILURE(beginCapture(1, file("a.avi"), 20));
        soundIn = feederOf(cam.Capture().CaptureMux(), "audio");
        ASSERT_TRUE(soundIn);
        gst_pad_add_probe(soundIn.get(), GST_PAD_PROBE_TYPE_BUFFER, dropWhileStalled, &stalled,
                          nullptr);
        QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFileSwitched,
                         [this](const QString&, const QString& to) { switchedTo = to; });
        kadtest::pump(300);
    }

    void expectFinished(const char* name)
    {
        const Probed p = probe(file(name));
        ASSERT_TRUE(p.ok) << name << ": " << p.error;
        ASSERT_NE(p.first("video"), nullptr) << name;
        EXPECT_GT(p.first("video")->frames, 0) << name;
        // avidemux reads a file by its index only: a file left without one
        // reads as nothing.
        EXPECT_EQ(avidemuxFrames(file(name)), p.first("video")->frames) << name;
    }

    PadRef soundIn;
    std::atomic<bool> stalled{true};
    QString switchedTo;
};

TEST_F(CaptureCutOnStall, TheCutAndTheStopCompleteAndFinishBothFiles)
{
    captureThenStallSound();
    {
        kadtest::StuckGuard guard("the cut on a stalled input", 30000);
        ASSERT_TRUE(cam.Capture().SwitchCaptureFile(file("b.avi")));
        EXPECT_TRUE(kadtest::waitUntil([&] { return !cam.Capture().CaptureSwitchBusy(); }))
            << "the cut never completed";
    }
    EXPECT_EQ(switchedTo, file("b.avi"));
    // The video now waits inside the new muxer for sound that never comes:
    // the stop must still finish the new file.
    {
        kadtest::StuckGuard guard("stopping after the cut", 30000);
        EXPECT_TRUE(cam.Capture().FinishCapture());
    }
    expectFinished("a.avi");
    expectFinished("b.avi");
}

TEST_F(CaptureCutOnStall, AStopWhileTheCutWaitsFinishesTheFileAndMakesNoOther)
{
    captureThenStallSound();
    bool finished = false;
    {
        kadtest::StuckGuard guard("stopping while the cut waits", 30000);
        ASSERT_TRUE(cam.Capture().SwitchCaptureFile(file("b.avi")));
        finished = cam.Capture().FinishCapture();
    }
    EXPECT_TRUE(finished);
    EXPECT_FALSE(cam.Capture().CaptureSwitchBusy());
    // The window must not offer a file that was never made.
    EXPECT_EQ(cam.Capture().CaptureFileName(), file("a.avi"));
    kadtest::pump(300);
    EXPECT_TRUE(switchedTo.isEmpty());
    EXPECT_FALSE(QFile::exists(file("b.avi")));
    expectFinished("a.avi");
}

// A cut asked for while the tape stands still waits for a frame that never
// comes; a stop then ends the capture in the file it was writing, and the
// cut's name, never written, is not given as the capture's file.
TEST_F(CaptureCut, AStopBeforeAnyFrameReachedTheCutEndsInTheCurrentFile)
{
    for (const int format : {0, 1}) {
        SCOPED_TRACE(format == 0 ? "DV type 1" : "DV type 2");
        const QString first = file(format == 0 ? "t1-a.avi" : "t2-a.avi");
        const QString second = file(format == 0 ? "t1-b.avi" : "t2-b.avi");
        ASSERT_TRUE(preview(Source::DvPal));
        ASSERT_NO_FATAL_FAILURE(beginCapture(format, first, 10));
        std::atomic<bool> stalled{true};
        PadRef out(gst_element_get_static_pad(source, "src"));
        gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, dropWhileStalled, &stalled,
                          nullptr);
        kadtest::pump(300);
        ASSERT_TRUE(cam.Capture().SwitchCaptureFile(second));
        kadtest::pump(300);
        {
            kadtest::StuckGuard guard("stopping while the cut waits for a frame", 30000);
            EXPECT_TRUE(cam.Capture().FinishCapture());
        }
        EXPECT_FALSE(cam.Capture().CaptureSwitchBusy());
        EXPECT_EQ(cam.Capture().CaptureFileName(), first);
        EXPECT_FALSE(QFile::exists(second));
        EXPECT_EQ(videoFrames(first), qint64(cam.Capture().CapturedFrames()));
        cam.FilterGraph().FreeAllFilters();
    }
}

TEST_F(CaptureCut, StoppingWritesWhatTheSmartTeeStillHolds)
{
    ASSERT_TRUE(preview(Source::DvPal));
    // In real time, so what piles up while the writer is held stays small.
    g_object_set(source, "is-live", TRUE, NULL);
    GstIterator* tees =
        gst_bin_iterate_all_by_element_factory_name(cam.FilterGraph().Graph(), "kadsmarttee");
    GValue item = G_VALUE_INIT;
    ASSERT_EQ(gst_iterator_next(tees, &item), GST_ITERATOR_OK);
    ElementRef tee = ElementRef::ref(GST_ELEMENT(g_value_get_object(&item)));
    g_value_unset(&item);
    gst_iterator_free(tees);
    ElementRef queue(gst_bin_get_by_name(GST_BIN(tee.get()), "capture-queue"));
    ASSERT_TRUE(queue);
    PadRef queueIn(gst_element_get_static_pad(queue.get(), "sink"));
    std::atomic<int> entered{0};
    gst_pad_add_probe(
        queueIn.get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        countSinceStart, &entered, nullptr);

    ASSERT_NO_FATAL_FAILURE(beginCapture(0, file("held.avi"), 10));
    // The writer falls behind: frames wait in the Smart Tee's capture queue.
    Gate gate;
    PadRef writerIn(gst_element_get_static_pad(cam.Capture().CaptureFileSink(), "sink"));
    ASSERT_TRUE(writerIn);
    const gulong held =
        gst_pad_add_probe(writerIn.get(), GST_PAD_PROBE_TYPE_BUFFER, Gate::hold, &gate, nullptr);
    ASSERT_TRUE(waitUntil([&] {
        guint level = 0;
        g_object_get(queue.get(), "current-level-buffers", &level, NULL);
        return level >= 10;
    }));
    // The writer catches up only once the stop has begun.
    std::thread release([&gate] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gate.open();
    });
    const bool finished = cam.Capture().FinishCapture();
    {
        kadtest::StuckGuard guard("letting the writer go", 30000);
        release.join();
    }
    gst_pad_remove_probe(writerIn.get(), held);
    EXPECT_TRUE(finished);
    cam.FilterGraph().StopGraph();
    EXPECT_EQ(videoFrames("held.avi"), qint64(entered.load()))
        << "frames that reached the capture queue are missing from the file";
}

TEST_F(CaptureCut, NoFileWriterNoCut)
{
    ASSERT_TRUE(preview(Source::Webcam));
    EXPECT_FALSE(cam.Capture().SetCaptureFileName(file("none.avi")));
    EXPECT_FALSE(cam.Capture().SwitchCaptureFile(file("none.avi")));
}

TEST_F(CaptureCut, ASourceThatEndsByItselfLeavesAFinishedFile)
{
    // A tape that runs out: the stream ends before the user stops. Stopping
    // afterwards finds the file finished, not a writer that never answers.
    ASSERT_TRUE(preview(Source::DvPal, true));
    g_object_set(source, "num-buffers", 90, NULL);
    int ends = 0;
    QObject::connect(&cam.FilterGraph(), &TfilterGraph::EndOfStream, [&] { ++ends; });
    ASSERT_NO_FATAL_FAILURE(beginCapture(1, file("ended.avi")));
    ASSERT_TRUE(waitUntil([&] { return ends > 0; }));
    EXPECT_TRUE(cam.Capture().FinishCapture());
    EXPECT_GT(cam.Capture().CapturedFrames(), 0u);
    EXPECT_EQ(videoFrames("ended.avi"), qint64(cam.Capture().CapturedFrames()));
}

} // namespace
} // namespace kad::test
