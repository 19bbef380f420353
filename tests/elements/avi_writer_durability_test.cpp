// A capture of picture and sound killed while it runs reads back, in
// readers Kadrillo did not write, up to its last sync. The killed capture
// runs in a child process: this test program started again with
// KAD_AVIW_CHILD_OUT set runs only AviWriterKillChild.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "elements/dv_avi_writer_helpers.h"

using namespace kadtest;

namespace {

constexpr const char* kChildFilter = "--gtest_filter=AviWriterKillChild.CapturesUntilKilled";

// Frames and sound bytes avidemux gives out of `file`; frames -1 when it does
// not read to the end.
std::pair<long long, long long> avidemuxRead(const std::string& file)
{
    kad::ElementRef p = launch("filesrc location=" + file +
                               " ! avidemux name=d d.video_0 ! queue ! fakesink name=v "
                               "d.audio_0 ! queue ! fakesink name=a");
    if (!p) return {-1, -1};
    std::atomic<long long> frames{0}, bytes{0};
    kad::ElementRef v(gst_bin_get_by_name(GST_BIN(p.get()), "v"));
    kad::PadRef vpad(gst_element_get_static_pad(v.get(), "sink"));
    gst_pad_add_probe(
        vpad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            ++*static_cast<std::atomic<long long>*>(data);
            return GST_PAD_PROBE_OK;
        },
        &frames, nullptr);
    kad::ElementRef a(gst_bin_get_by_name(GST_BIN(p.get()), "a"));
    kad::PadRef apad(gst_element_get_static_pad(a.get(), "sink"));
    gst_pad_add_probe(
        apad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            *static_cast<std::atomic<long long>*>(data) +=
                gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
            return GST_PAD_PROBE_OK;
        },
        &bytes, nullptr);
    const RunResult r = runPipeline(p.get(), {}, 60);
    if (!r.eos) return {-1, -1};
    return {frames.load(), bytes.load()};
}

} // namespace

// Run only as the child of AviWriterKillTest.
TEST(AviWriterKillChild, CapturesUntilKilled)
{
    const char* out = std::getenv("KAD_AVIW_CHILD_OUT");
    if (!out) GTEST_SKIP() << "runs only as the child of the kill test";
    kad::ElementRef p = launch(
        std::string("videotestsrc is-live=true pattern=ball ! "
                    "video/x-raw,width=720,height=576,framerate=25/1 ! videoconvert ! "
                    "avenc_dvvideo ! queue ! w.video audiotestsrc is-live=true "
                    "samplesperbuffer=960 ! audio/x-raw,rate=48000,channels=2,format=S16LE ! "
                    "queue ! w.audio kadaviwriter name=w riff-limit=524288 "
                    "sync-interval=100000000 location=") +
        out);
    ASSERT_TRUE(p);
    kad::BusRef bus(gst_element_get_bus(p.get()));
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        kad::MessageRef msg(gst_bus_timed_pop(bus.get(), 20 * GST_MSECOND));
        if (!msg) continue;
        if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
            ADD_FAILURE() << "child capture error";
            break;
        }
        const GstStructure* s = gst_message_get_structure(msg.get());
        guint64 frames = 0;
        if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ELEMENT &&
            gst_structure_has_name(s, "kad-file-synced") &&
            gst_structure_get_uint64(s, "frames", &frames)) {
            std::printf("kad-synced %llu\n", static_cast<unsigned long long>(frames));
            std::fflush(stdout);
        }
    }
    gst_element_set_state(p.get(), GST_STATE_NULL);
    ADD_FAILURE() << "the child capture was not killed";
}

TEST(AviWriterKillTest, PictureAndSoundBeforeTheLastSyncReadBack)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string out = dir.filePath("killed.avi").toStdString();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KAD_AVIW_CHILD_OUT", QString::fromStdString(out));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {kChildFilter});
    ASSERT_TRUE(child.waitForStarted(10000));
    // Killed past the first RIFFs (three frames each), inside an open one.
    constexpr long long kUntil = 40;
    long long synced = -1;
    QByteArray pending;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (synced < kUntil && std::chrono::steady_clock::now() < deadline &&
           child.state() == QProcess::Running) {
        child.waitForReadyRead(100);
        pending += child.readAllStandardOutput();
        int nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(nl).trimmed();
            pending.remove(0, nl + 1);
            if (line.startsWith("kad-synced ")) synced = line.mid(11).toLongLong();
        }
    }
    const bool running = child.state() == QProcess::Running;
    child.kill();
    child.waitForFinished(10000);
    ASSERT_TRUE(running) << child.readAllStandardError().toStdString();
    ASSERT_GE(synced, kUntil);

    const Probe probe = ffprobe(out);
    ASSERT_TRUE(probe.ok) << probe.error;
    ASSERT_NE(probe.first("video"), nullptr);
    ASSERT_NE(probe.first("audio"), nullptr);
    const long long frames = probe.first("video")->frames;
    EXPECT_GE(frames, synced);
    // The sound indexed reaches the end of the frames indexed with it.
    const long long soundBytes = audioSamples(out).size();
    EXPECT_GE(soundBytes, (synced - 1) * 1920 * 4);
    const auto [demuxedFrames, demuxedBytes] = avidemuxRead(out);
    EXPECT_GE(demuxedFrames, synced);
    EXPECT_GE(demuxedBytes, (synced - 1) * 1920 * 4);
}
