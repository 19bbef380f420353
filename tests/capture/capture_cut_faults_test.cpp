// The cut into a new file while the graph runs, and captures that end by
// themselves: a full disk and an unplugged device.

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"

#include <QDir>
#include <QFile>

#include <sys/mount.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
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
        ASSERT_TRUE(preview(kind));
        if (beforeStart) beforeStart();
        cam.Capture.FormatIndex = format;
        cam.CurrentVideoFileName = file(first);
        ASSERT_TRUE(cam.BuildCaptureGraph());
        ASSERT_TRUE(waitUntil([&] { return cam.CapturedFrames() >= before; }));
        QString switchedFrom, switchedTo;
        QObject::connect(&cam, &TdmCam::CaptureFileSwitched,
                         [&](const QString& a, const QString& b) {
                             switchedFrom = a;
                             switchedTo = b;
                         });
        ASSERT_TRUE(cam.SwitchCaptureFile(file(second)));
        EXPECT_EQ(cam.CaptureFileName, file(second));
        ASSERT_TRUE(waitUntil([&] { return !switchedTo.isEmpty(); }));
        EXPECT_EQ(switchedFrom, file(first));
        EXPECT_EQ(switchedTo, file(second));
        ASSERT_TRUE(waitUntil([&] { return cam.CapturedFrames() >= total; }));
        ASSERT_TRUE(cam.FinishCapture());
    }

    qint64 videoFrames(const char* name)
    {
        const Probed p = probe(file(name));
        EXPECT_TRUE(p.ok) << name << ": " << p.error.toStdString();
        return p.first("video") ? p.first("video")->frames : -1;
    }
};

TEST_F(CaptureCut, EveryAviWriterGoesOnIntoTheNextFileWithoutLosingAFrame)
{
    cutDuring(Source::DvPal, 1, "t2-a.avi", "t2-b.avi");
    EXPECT_EQ(videoFrames("t2-a.avi") + videoFrames("t2-b.avi"), qint64(cam.CapturedFrames()));
    EXPECT_GT(videoFrames("t2-b.avi"), 0);

    cutDuring(Source::DvPal, 0, "t1-a.avi", "t1-b.avi");
    EXPECT_EQ(videoFrames("t1-a.avi") + videoFrames("t1-b.avi"), qint64(cam.CapturedFrames()));
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
    if (!cam.WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    // The frames are followed where they enter each file's muxer, and
    // ffprobe must read back every one of them.
    MuxCount before, after;
    MuxCounts counts{&before, &after};
    gulong added = 0;
    cutDuring(Source::Webcam, 2, "a.wmv", "b.wmv", 20, 40, [&] {
        added =
            g_signal_connect(cam.Graph(), "deep-element-added", G_CALLBACK(countNewMuxer), &counts);
    });
    g_signal_handler_disconnect(cam.Graph(), added);
    ASSERT_EQ(counts.muxers, 2);
    ASSERT_GE(before.video.size(), 20u);
    ASSERT_FALSE(after.video.empty());
    // The next file begins with the frame after the old file's last one:
    // none lost at the cut, none in both files.
    const auto [lastTime, lastDuration] = before.video.back();
    ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(lastTime) && GST_CLOCK_TIME_IS_VALID(lastDuration));
    const GstClockTime next = after.video.front().first;
    ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(next));
    EXPECT_LE(std::max(next, lastTime + lastDuration) - std::min(next, lastTime + lastDuration),
              GST_MSECOND)
        << "old file ends at " << lastTime + lastDuration << ", new begins at " << next;
    EXPECT_GE(before.video.size() + after.video.size(), cam.CapturedFrames());
    EXPECT_EQ(videoFrames("a.wmv"), qint64(before.video.size()));
    EXPECT_EQ(videoFrames("b.wmv"), qint64(after.video.size()));
    for (const char* name : {"a.wmv", "b.wmv"}) {
        const Probed p = probe(file(name));
        EXPECT_TRUE(p.ok) << name << ": " << p.error.toStdString();
        EXPECT_EQ(p.format, "asf") << name;
        EXPECT_EQ(p.count("video"), 1) << name;
        // The webcam has no sound of its own here.
        EXPECT_EQ(p.count("audio"), before.audio + after.audio > 0 ? 1 : 0) << name;
        // Each file must play from its first frame on.
        EXPECT_TRUE(firstVideoPacketIsKey(file(name))) << name;
    }
}

TEST_F(CaptureCut, TheProgramStreamIsCutBetweenPacksAndLosesNoByte)
{
    sentLocation = file("sent.mpg");
    cutDuring(Source::Mpeg2, 0, "a.mpg", "b.mpg", 10, 25);
    cam.FreeAllFilters();
    QFile a(file("a.mpg")), b(file("b.mpg")), sent(file("sent.mpg"));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) &&
                sent.open(QIODevice::ReadOnly));
    const QByteArray first = a.readAll(), second = b.readAll();
    ASSERT_GT(second.size(), 0);
    EXPECT_TRUE(second.startsWith(QByteArray::fromHex("000001ba")));
    EXPECT_TRUE(sent.readAll().contains(first + second));
}

TEST_F(CaptureCut, NoFileWriterNoCut)
{
    ASSERT_TRUE(preview(Source::Webcam));
    EXPECT_FALSE(cam.SetCaptureFileName(file("none.avi")));
    EXPECT_FALSE(cam.SwitchCaptureFile(file("none.avi")));
}

TEST_F(CaptureCut, AnUnpluggedDeviceLeavesAReadableFile)
{
    ASSERT_TRUE(preview(Source::DvPal));
    cam.Capture.FormatIndex = 1;
    cam.CurrentVideoFileName = file("unplugged.avi");
    ASSERT_TRUE(cam.BuildCaptureGraph());
    ASSERT_TRUE(waitUntil([&] { return cam.CapturedFrames() >= 20; }));
    g_object_set(source, "unplug", TRUE, NULL);
    ASSERT_TRUE(waitUntil([&] { return !cam.Capturing(); }));
    const Probed p = probe(file("unplugged.avi"));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    ASSERT_NE(p.first("video"), nullptr);
    EXPECT_EQ(p.first("video")->frames, qint64(cam.CapturedFrames()));
}

TEST_F(CaptureCut, ASourceThatEndsByItselfLeavesAFinishedFile)
{
    // A tape that runs out: the stream ends before the user stops. Stopping
    // afterwards finds the file finished, not a writer that never answers.
    ASSERT_TRUE(preview(Source::DvPal, true));
    g_object_set(source, "num-buffers", 90, NULL);
    int ends = 0;
    QObject::connect(&cam, &TdmCam::EndOfStream, [&] { ++ends; });
    cam.Capture.FormatIndex = 1;
    cam.CurrentVideoFileName = file("ended.avi");
    ASSERT_TRUE(cam.BuildCaptureGraph());
    ASSERT_TRUE(waitUntil([&] { return ends > 0; }));
    EXPECT_TRUE(cam.FinishCapture());
    const Probed p = probe(file("ended.avi"));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    ASSERT_NE(p.first("video"), nullptr);
    EXPECT_GT(p.first("video")->frames, 0);
    EXPECT_EQ(p.first("video")->frames, qint64(cam.CapturedFrames()));
}

TEST_F(CaptureCut, AFullDiskStopsTheCaptureWithAMessageAndAReadableFile)
{
    const QString disk = dir.filePath("disk");
    QDir().mkpath(disk);
    if (mount("tmpfs", disk.toUtf8().constData(), "tmpfs", 0, "size=24m") != 0)
        GTEST_SKIP() << "cannot mount a small disk here";
    cam.DiskReserveBytes = 12 * 1024 * 1024;
    int stopped = 0;
    QObject::connect(&cam, &TdmCam::CaptureStopped, [&] { ++stopped; });
    ASSERT_TRUE(preview(Source::DvPal));
    cam.Capture.FormatIndex = 1;
    cam.CurrentVideoFileName = disk + "/full.avi";
    ASSERT_TRUE(cam.BuildCaptureGraph());
    EXPECT_TRUE(waitUntil([&] { return stopped > 0; }));
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_EQ(boxes.shown.back().kind, "error");
    EXPECT_TRUE(boxes.shown.back().text.contains("full"));
    const Probed p = probe(disk + "/full.avi");
    EXPECT_TRUE(p.ok) << p.error.toStdString();
    if (p.first("video")) {
        EXPECT_EQ(p.first("video")->frames, qint64(cam.CapturedFrames()));
    }
    // The program goes on: a new preview runs.
    cam.FreeAllFilters();
    umount2(disk.toUtf8().constData(), MNT_DETACH);
    EXPECT_TRUE(preview(Source::DvPal));
}

} // namespace
} // namespace kad::test
