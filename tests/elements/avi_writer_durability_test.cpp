// A capture of picture and sound killed while it runs reads back, in
// readers Kadrillo did not write, up to its last sync. The killed capture
// runs in a child process: this test program started again with
// KAD_AVIW_CHILD_OUT set runs only AviWriterKillChild.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <string>

#include "elements/dv_avi_writer_helpers.h"
#include "support/kill_child.h"
#include "support/readers.h"

using namespace kadtest;

namespace {

constexpr const char* kChildTest = "AviWriterKillChild.CapturesUntilKilled";

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
    playUntilKilled(p.get(), "frames", 60);
}

TEST(AviWriterKillTest, PictureAndSoundBeforeTheLastSyncReadBack)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string out = dir.filePath("killed.avi").toStdString();
    // Killed past the first RIFFs (three frames each), inside an open one.
    constexpr long long kUntil = 40;
    const KilledChild k = killChildWhen(
        kChildTest, {{"KAD_AVIW_CHILD_OUT", QString::fromStdString(out)}},
        [](const KilledChild& told) { return told.last("synced") >= kUntil; }, 60);
    ASSERT_TRUE(k.started);
    ASSERT_TRUE(k.runningAtKill) << k.errors;
    const long long synced = k.last("synced");
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
    const Demuxed demuxed = demuxRead(out, "avidemux", true);
    EXPECT_GE(demuxed.frames, synced) << demuxed.error;
    EXPECT_GE(demuxed.soundBytes, (synced - 1) * 1920 * 4);
}
