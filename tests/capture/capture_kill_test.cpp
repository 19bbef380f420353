// What a capture killed outright (SIGKILL) leaves: the Windows Media file
// and the Dump's program stream read back in ffprobe up to shortly before
// the kill. The capture runs in a child process: this test program started
// again with KAD_KILL_CHILD set runs only CaptureKillChild.

#include "capture_graph_fixture.h"
#include "support/edit_options.h"
#include "support/kill_child.h"
#include "support/readers.h"

#include <chrono>
#include <cstdio>

namespace kad::test {
namespace {

constexpr const char* kChildTest = "CaptureKillChild.CapturesUntilKilled";

// Run only as the child of CaptureKill: KAD_KILL_CHILD is "wmv" or "dump",
// KAD_KILL_OUT the file. Says how many frames reached the writer, and each
// sync of the Dump, until it is killed.
class CaptureKillChild : public CaptureTest {};

TEST_F(CaptureKillChild, CapturesUntilKilled)
{
    const QString kind = qEnvironmentVariable("KAD_KILL_CHILD");
    const QString out = qEnvironmentVariable("KAD_KILL_OUT");
    if (kind.isEmpty() || out.isEmpty()) GTEST_SKIP() << "runs only as the child of CaptureKill";
    const bool wmv = kind == QLatin1String("wmv");
    ASSERT_TRUE(preview(wmv ? Source::DvPal : Source::Mpeg2, true));
    ASSERT_NO_FATAL_FAILURE(beginCapture(wmv ? 3 : 0, out));
    if (!wmv) {
        // What the Dump has synced, as it says it.
        g_object_set(cam.Capture().CaptureFileSink(), "sync-interval", guint64(200 * GST_MSECOND),
                     NULL);
        BusRef bus(gst_pipeline_get_bus(cam.FilterGraph().fg()));
        kadtest::tellSyncs(bus.get(), "bytes");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline) {
        kadtest::pump(50);
        kadtest::tellParent("captured", cam.Capture().CapturedFrames());
    }
    ADD_FAILURE() << "the child capture was not killed";
}

class CaptureKill : public ::testing::Test {
protected:
    // Starts the child capturing `kind` into `out` and kills it once
    // `frames` frames have reached the writer (and, when asked, the Dump
    // has synced). Gives the frames counted at the kill and the last sync.
    std::pair<long long, long long> killAfter(const char* kind, const QString& out,
                                              long long frames, bool waitForSync)
    {
        const kadtest::KilledChild k = kadtest::killChildWhen(
            kChildTest, {{"KAD_KILL_CHILD", kind}, {"KAD_KILL_OUT", out}},
            [&](const kadtest::KilledChild& told) {
                return told.last("captured") >= frames && (!waitForSync || told.last("synced") > 0);
            },
            60);
        EXPECT_TRUE(k.started);
        EXPECT_TRUE(k.runningAtKill) << k.errors;
        return {k.last("captured"), k.last("synced")};
    }

    QTemporaryDir dir;
};

TEST_F(CaptureKill, AWindowsMediaFileReadsUpToShortlyBeforeTheKill)
{
    {
        TdmCam cam;
        cam.FilterGraph().CheckOptionalFilters();
        if (!cam.FilterGraph().Presence().WmvAvailable) GTEST_SKIP() << "no Windows Media encoders";
    }
    const QString out = dir.filePath("killed.wmv");
    // Ten seconds of PAL pictures.
    const auto [captured, synced] = killAfter("wmv", out, 250, false);
    ASSERT_GE(captured, 250);
    const Probed p = probe(out);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.format, "asf");
    ASSERT_NE(p.first("video"), nullptr);
    ASSERT_NE(p.first("audio"), nullptr);
    const qint64 read = p.first("video")->frames;
    std::printf("Windows Media killed after %lld frames: ffprobe reads %lld\n", captured,
                static_cast<long long>(read));
    // What the muxer and the file sink still held at the kill is lost: well
    // under a second at this rate. The header still says the file holds no
    // packets and lasts nothing; both readers read on to the end anyway.
    EXPECT_GE(read, captured - 25);
    EXPECT_GE(kadtest::demuxRead(out, "asfdemux", false).frames, captured - 25);
}

TEST_F(CaptureKill, TheDumpReadsUpToTheKillAndSyncsOnItsOwn)
{
    const QString out = dir.filePath("killed.mpg");
    const auto [captured, synced] = killAfter("dump", out, 100, true);
    ASSERT_GE(captured, 100);
    ASSERT_GT(synced, 0) << "the Dump never said it synced";
    EXPECT_GE(QFileInfo(out).size(), synced);
    const Probed p = probe(out);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_NE(p.first("video"), nullptr);
    const qint64 read = p.first("video")->frames;
    std::printf("Dump killed after %lld frames (%lld bytes synced): ffprobe reads %lld\n", captured,
                synced, static_cast<long long>(read));
    // Every buffer is written as it comes: only the pack being received at
    // the kill may be short.
    EXPECT_GE(read, captured - 2);
}

} // namespace
} // namespace kad::test
