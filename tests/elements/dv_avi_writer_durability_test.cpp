// A capture killed at any moment reads back, in readers Kadrillo did not
// write, up to its last sync; its super index has room for tens of hours.
//
// The killed capture runs in a child process: this test program started
// again with KAD_AVI_CHILD_OUT set runs only DvAviWriterKillChild, which
// captures until it is killed and prints each sync it hears of.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QFile>

#include <cstdlib>
#include <string>

#include "elements/dv_avi_writer_helpers.h"
#include "support/kill_child.h"
#include "support/readers.h"
#include "support/scratch_folder.h"

using namespace kadtest;

namespace {

constexpr int kPalFrame = 144000;
constexpr const char* kChildTest = "DvAviWriterKillChild.CapturesUntilKilled";

// Frames GStreamer's avidemux gives out of `file`; -1 when it does not read
// to the end.
long long avidemuxFrames(const std::string& file)
{
    const Demuxed d = demuxRead(file, "avidemux", false);
    if (d.frames < 0) ADD_FAILURE() << "avidemux did not read " << file << ": " << d.error;
    return d.frames;
}

long long ffprobeFrames(const std::string& file)
{
    const Probe probe = ffprobe(file);
    const ProbeStream* v = probe.first("video");
    return v ? v->frames : -1;
}

struct KillCase {
    const char* name;
    guint64 riffLimit;
    int syncMs;
    int frames;      // frames the source sends, -1: until killed
    long long until; // kill once this many frames are synced
};

void PrintTo(const KillCase& c, std::ostream* os)
{
    *os << c.name;
}

class DvAviWriterKillTest : public ScratchFolder<::testing::TestWithParam<KillCase>> {
protected:
    // Runs the child capture and kills it (SIGKILL) once it reports `until`
    // frames synced. Returns the frames of its last reported sync, -1 when
    // it never got there.
    long long captureAndKill(const KillCase& c, const std::string& out, const std::string& sent)
    {
        const KilledChild k = killChildWhen(
            kChildTest,
            {{"KAD_AVI_CHILD_OUT", QString::fromStdString(out)},
             {"KAD_AVI_CHILD_SENT", QString::fromStdString(sent)},
             {"KAD_AVI_CHILD_RIFF", QString::number(c.riffLimit)},
             {"KAD_AVI_CHILD_SYNC_MS", QString::number(c.syncMs)},
             {"KAD_AVI_CHILD_FRAMES", QString::number(c.frames)}},
            [&c](const KilledChild& told) { return told.last("synced") >= c.until; }, 90);
        if (!k.started) {
            ADD_FAILURE() << "the child capture did not start";
            return -1;
        }
        EXPECT_TRUE(k.runningAtKill) << "the child capture ended before it was killed:\n"
                                     << k.errors;
        EXPECT_GE(k.last("synced"), c.until) << "the child never synced enough frames in 90 s";
        return k.last("synced");
    }
};

} // namespace

// Run only as the child of DvAviWriterKillTest.
TEST(DvAviWriterKillChild, CapturesUntilKilled)
{
    const char* out = std::getenv("KAD_AVI_CHILD_OUT");
    if (!out) GTEST_SKIP() << "runs only as the child of the kill tests";
    const std::string sent = std::getenv("KAD_AVI_CHILD_SENT");
    const std::string riff = std::getenv("KAD_AVI_CHILD_RIFF");
    const guint64 syncNs =
        std::strtoull(std::getenv("KAD_AVI_CHILD_SYNC_MS"), nullptr, 10) * GST_MSECOND;
    const int frames = std::atoi(std::getenv("KAD_AVI_CHILD_FRAMES"));
    kad::ElementRef p =
        launch("kadvirtualdvsrc is-live=false num-buffers=" + std::to_string(frames) +
               " sent-location=" + sent + " ! kaddvaviwriter name=w riff-limit=" + riff +
               " sync-interval=" + std::to_string(syncNs) + " location=" + out);
    ASSERT_TRUE(p);
    // A source that ends stands for a tape that stops: the writer must not
    // see the end of the stream, which would finish the file.
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    kad::PadRef pad(gst_element_get_static_pad(writer.get(), "sink"));
    holdBackEndOfStream(pad.get());
    playUntilKilled(p.get(), "frames", 80);
}

TEST_P(DvAviWriterKillTest, EveryFrameBeforeTheLastSyncReadsBack)
{
    const KillCase& c = GetParam();
    const std::string out = path("killed.avi");
    const std::string sent = path("sent.dv");
    const long long synced = captureAndKill(c, out, sent);
    ASSERT_GT(synced, 0);
    const long long sentFrames =
        (QFile(QString::fromStdString(sent)).size() + kPalFrame - 1) / kPalFrame;

    // Frames after the last sync may or may not be read (a kill keeps what
    // was written), never more than were sent.
    const long long byFfprobe = ffprobeFrames(out);
    const long long byAvidemux = avidemuxFrames(out);
    EXPECT_GE(byFfprobe, synced);
    EXPECT_LE(byFfprobe, sentFrames);
    EXPECT_GE(byAvidemux, synced);
    EXPECT_LE(byAvidemux, sentFrames);
    if (c.frames > 0) {
        // The source stopped: nothing came after the last sync.
        EXPECT_EQ(synced, c.frames);
        EXPECT_EQ(byFfprobe, c.frames);
        EXPECT_EQ(byAvidemux, c.frames);
    }

    // The frames read are the frames sent, in order. The source appends to
    // its record through a stdio buffer, so the kill may cut off the end of
    // the record's last frame: only whole frames of it are compared.
    const long long whole =
        std::min(synced, QFile(QString::fromStdString(sent)).size() / kPalFrame);
    EXPECT_GE(whole, synced - 1);
    const std::vector<std::string> read = packetMd5s(out);
    const std::vector<std::string> source = packetMd5s(sent, "v", "dv");
    ASSERT_GE(read.size(), size_t(whole));
    ASSERT_GE(source.size(), size_t(whole));
    const auto differ = std::mismatch(read.begin(), read.begin() + whole, source.begin());
    EXPECT_EQ(differ.first - read.begin(), whole)
        << "a frame read differs from the frame sent; synced " << synced << ", read " << read.size()
        << ", sent " << source.size();
}

INSTANTIATE_TEST_SUITE_P(Kills, DvAviWriterKillTest,
                         ::testing::Values(
                             // Syncs inside chunks of thirty frames, the first one included.
                             KillCase{"SyncsInsideChunks", 4 * 1024 * 1024, 30, -1, 45},
                             // The tape stops inside the first chunk: the frames before it are
                             // synced without another frame coming.
                             KillCase{"StoppedSource", 4 * 1024 * 1024, 100, 20, 20}),
                         [](const ::testing::TestParamInfo<KillCase>& info) {
                             return std::string(info.param.name);
                         });

using DvAviWriterSyncTest = ScratchFolder<>;

// A ten-hour PAL capture is 900 000 frames, some 130 chunks of 1 GiB: the
// super index must hold them all, and more, from the first frame on.
TEST_F(DvAviWriterSyncTest, SuperIndexHoldsTensOfHoursAtTheDefaultChunkSize)
{
    const std::string raw = path("in.dv");
    ASSERT_TRUE(makeRawDv(raw, true, 5));
    const std::string out = path("short.avi");
    const RunResult r = runLaunch("filesrc location=" + raw +
                                  " blocksize=144000 ! video/x-dv,systemstream=true ! "
                                  "kaddvaviwriter location=" +
                                  out);
    ASSERT_TRUE(r.eos) << r.message;
    const QByteArray file = readAll(out);
    const int indx = file.indexOf("indx");
    ASSERT_GT(indx, 0);
    const auto* d = reinterpret_cast<const unsigned char*>(file.constData()) + indx + 4;
    const quint32 bytes =
        quint32(d[0]) | quint32(d[1]) << 8 | quint32(d[2]) << 16 | quint32(d[3]) << 24;
    const quint32 entries = (bytes - 24) / 16;
    // 100 hours of DV at 1 GiB a chunk.
    EXPECT_GE(entries, 100ull * 3600 * 25 * kPalFrame / (1ull << 30) + 1);
    EXPECT_EQ(ffprobeFrames(out), 5);
    EXPECT_EQ(avidemuxFrames(out), 5);
}

// A target that cannot be synced (a device, some network file systems) must
// not stop the capture.
TEST_F(DvAviWriterSyncTest, TargetThatCannotSyncStillCaptures)
{
    const std::string raw = path("in.dv");
    ASSERT_TRUE(makeRawDv(raw, true, 12));
    const RunResult r = runLaunch("filesrc location=" + raw +
                                  " blocksize=144000 ! video/x-dv,systemstream=true ! identity "
                                  "sleep-time=20000 ! kaddvaviwriter name=w riff-limit=524288 "
                                  "sync-interval=10000000 location=/dev/null");
    EXPECT_TRUE(r.eos) << r.message;
    EXPECT_FALSE(r.error);
}
