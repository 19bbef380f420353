#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <QFile>

#include <map>
#include <tuple>

#include "elements/dv_avi_writer_helpers.h"
#include "elements/file_writer.h"
#include "support/readers.h"
#include "support/scratch_folder.h"

using namespace kadtest;

namespace {

constexpr int kPalFrame = 144000;

class DvAviWriterTest : public kadtest::ScratchFolder<> {
protected:
    // A raw PAL or NTSC DV file made once per test.
    std::string rawDv(bool pal, int frames)
    {
        const std::string p = path(pal ? "in-pal.dv" : "in-ntsc.dv");
        EXPECT_TRUE(makeRawDv(p, pal, frames));
        return p;
    }

    static std::string fileSource(const std::string& raw, bool pal)
    {
        return "filesrc location=" + raw + " blocksize=" + (pal ? "144000" : "120000") +
               " ! video/x-dv,systemstream=true";
    }
};

quint32 le32(const QByteArray& b, int at)
{
    const auto* d = reinterpret_cast<const unsigned char*>(b.constData()) + at;
    return quint32(d[0]) | quint32(d[1]) << 8 | quint32(d[2]) << 16 | quint32(d[3]) << 24;
}

guint64 uintProperty(GstElement* e, const char* name)
{
    guint64 v = 0;
    g_object_get(e, name, &v, nullptr);
    return v;
}

} // namespace

TEST_F(DvAviWriterTest, PalType1FileReadsAsOneInterleavedStreamWithEveryFrame)
{
    const std::string raw = rawDv(true, 40);
    const std::string out = path("pal.avi");
    const RunResult r = runLaunch(fileSource(raw, true) + " ! kaddvaviwriter location=" + out);
    ASSERT_TRUE(r.eos) << r.message;

    const Probe probe = ffprobe(out, true);
    EXPECT_EQ(probe.format, "avi");
    const ProbeStream* v = probe.first("video");
    const ProbeStream* a = probe.first("audio");
    ASSERT_NE(v, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::tie(v->codec, v->width, v->height, v->frameRate, v->frames),
              std::make_tuple("dvvideo", 720, 576, "25/1", 40));
    EXPECT_EQ(std::tie(a->codec, a->sampleRate, a->channels),
              std::make_tuple("pcm_s16le", 48000, 2));

    // The frames are stored unchanged and in order.
    EXPECT_EQ(packetMd5s(out), packetMd5s(raw, "v", "dv"));

    // One 'iavs'/'dvsd' stream whose DVINFO carries the first frame's packs.
    const QByteArray file = readAll(out);
    const QByteArray in = readAll(raw);
    const int strh = file.indexOf("strh");
    ASSERT_GT(strh, 0);
    EXPECT_EQ(file.mid(strh + 8, 4), "iavs");
    EXPECT_EQ(file.mid(strh + 12, 4), "dvsd");
    EXPECT_EQ(le32(file, strh + 8 + 32), 40u); // length; its rate ffprobe read above
    EXPECT_EQ(file.count("strh"), 1);
    const int strf = file.indexOf("strf");
    ASSERT_GT(strf, 0);
    EXPECT_EQ(le32(file, strf + 4), 32u);
    // AAUX source pack of channel 1: sequence 0, audio block 3; VAUX source
    // and source control: sequence 0, VAUX block 2, packs 9 and 10.
    const int aauxSrc = 6 * 80 + 3 * 16 * 80 + 3;
    ASSERT_EQ(static_cast<unsigned char>(in[aauxSrc]), 0x50);
    EXPECT_EQ(le32(file, strf + 8), le32(in, aauxSrc + 1));
    const int vauxSrc = 5 * 80 + 48;
    ASSERT_EQ(static_cast<unsigned char>(in[vauxSrc]), 0x60);
    EXPECT_EQ(le32(file, strf + 8 + 16), le32(in, vauxSrc + 1));
    EXPECT_EQ(le32(file, strf + 8 + 20), le32(in, vauxSrc + 6));
    EXPECT_GT(file.indexOf("idx1"), 0);
    EXPECT_EQ(readerWarnings(out), "");
}

// Tape noise over the sound of the first frames: the header describes the
// stream by the first frame whose sound is whole, not by the noise.
TEST_F(DvAviWriterTest, DamagedSoundInTheFirstFramesLeavesTheStreamInfoRight)
{
    const std::string clean = rawDv(true, 12);
    QByteArray in = readAll(clean);
    // Frame 0: AAUX packs that name the other system; frame 1: rates DV
    // does not have. Every audio block of both (section type 3).
    for (int f = 0; f < 2; ++f) {
        for (int b = 0; b < kPalFrame / 80; ++b) {
            char* block = in.data() + f * kPalFrame + b * 80;
            if ((static_cast<unsigned char>(block[0]) >> 5) != 3) continue;
            for (int i = 3; i < 80; ++i)
                block[i] = f == 0 ? '\x50' : static_cast<char>(i % 5 == 3 ? 0x50 : 0x3F);
        }
    }
    const std::string raw = path("noisy-sound.dv");
    {
        QFile f(QString::fromStdString(raw));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(in), in.size());
    }
    const std::string out = path("noisy-sound.avi");
    const RunResult r = runLaunch(fileSource(raw, true) + " ! kaddvaviwriter location=" + out);
    ASSERT_TRUE(r.eos) << r.message;
    const QByteArray file = readAll(out);
    const int strf = file.indexOf("strf");
    ASSERT_GT(strf, 0);
    const int aauxSrc = 2 * kPalFrame + 6 * 80 + 3 * 16 * 80 + 3;
    ASSERT_EQ(static_cast<unsigned char>(in[aauxSrc]), 0x50);
    EXPECT_EQ(le32(file, strf + 8), le32(in, aauxSrc + 1));
    const Probe probe = ffprobe(out, true);
    ASSERT_NE(probe.first("video"), nullptr);
    EXPECT_EQ(probe.first("video")->frames, 12);
    ASSERT_NE(probe.first("audio"), nullptr);
    EXPECT_EQ(probe.first("audio")->sampleRate, 48000);
}

TEST_F(DvAviWriterTest, NtscFramesGiveTheNtscRateAndSize)
{
    const std::string raw = rawDv(false, 30);
    const std::string out = path("ntsc.avi");
    const RunResult r = runLaunch(fileSource(raw, false) + " ! kaddvaviwriter location=" + out);
    ASSERT_TRUE(r.eos) << r.message;
    const Probe probe = ffprobe(out, true);
    const ProbeStream* v = probe.first("video");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::tie(v->height, v->frameRate, v->frames), std::make_tuple(480, "30000/1001", 30));
    ASSERT_NE(probe.first("audio"), nullptr);
    EXPECT_EQ(probe.first("audio")->sampleRate, 48000);
}

TEST_F(DvAviWriterTest, CaptureAcrossSeveralRiffChunksIsReadWhole)
{
    const std::string raw = rawDv(true, 75);
    const std::string out = path("riffs.avi");
    // 1 MiB chunks: seven frames each, eleven chunks; no syncs in between,
    // so every chunk holds exactly one index.
    const RunResult r =
        runLaunch(fileSource(raw, true) +
                  " ! kaddvaviwriter riff-limit=1048576 sync-interval=0 location=" + out);
    ASSERT_TRUE(r.eos) << r.message;
    const QByteArray file = readAll(out);
    EXPECT_GE(file.count("AVIX"), 9);
    EXPECT_EQ(file.count("ix00"), file.count("AVIX") + 1);
    EXPECT_EQ(file.count("idx1"), 1);
    EXPECT_EQ(ffprobe(out, true).first("video")->frames, 75);
    EXPECT_EQ(readerWarnings(out), "");
    EXPECT_EQ(packetMd5s(out), packetMd5s(raw, "v", "dv"));
    const Demuxed back = demuxRead(out, "avidemux", false);
    EXPECT_EQ(back.frames, 75) << back.error;
}

// A cut mid-stream loses and repeats no frame; the syncs go on in the file
// the cut continues into, each naming its own file with no more frames than
// that file ends up holding.
TEST_F(DvAviWriterTest, NextLocationCutsAtAFrameWithoutLosingOrRepeatingOne)
{
    const std::string raw = rawDv(true, 60);
    const std::string first = path("cut1.avi");
    const std::string second = path("cut2.avi");
    // Held back a little, the stream lets the cut land mid-stream.
    kad::ElementRef p = launch("filesrc location=" + raw +
                               " blocksize=144000 ! video/x-dv,systemstream=true ! identity "
                               "sleep-time=20000 ! kaddvaviwriter name=w sync-interval=50000000 "
                               "location=" +
                               first);
    kad::ElementRef w(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    bool asked = false;
    const RunResult r = runPipeline(p.get(), [&] {
        if (!asked && uintProperty(w.get(), "frames-written") >= 25) {
            g_object_set(w.get(), "next-location", second.c_str(), nullptr);
            asked = true;
        }
    });
    ASSERT_TRUE(r.eos) << r.message;
    ASSERT_TRUE(asked);

    std::vector<std::string> joined = packetMd5s(first);
    const std::vector<std::string> tail = packetMd5s(second);
    EXPECT_GE(joined.size(), 25u);
    EXPECT_FALSE(tail.empty());
    joined.insert(joined.end(), tail.begin(), tail.end());
    EXPECT_EQ(joined, packetMd5s(raw, "v", "dv"));
    std::map<std::string, long long> frames;
    for (const std::string& file : {first, second}) {
        frames[file] = ffprobe(file, true).first("video")->frames;
        EXPECT_EQ(demuxRead(file, "avidemux", false).frames, frames[file]) << file;
    }

    int switched = 0;
    std::map<std::string, guint64> lastSynced;
    for (const kad::GstStructurePtr& m : r.elementMessages) {
        const GstStructure* s = m.get();
        guint64 count = 0;
        if (gst_structure_has_name(s, kad::filewriter::kFileSwitched)) {
            ++switched;
            EXPECT_STREQ(gst_structure_get_string(s, "old-location"), first.c_str());
            EXPECT_STREQ(gst_structure_get_string(s, "new-location"), second.c_str());
            gst_structure_get_uint64(s, "frames", &count);
            EXPECT_EQ(count, guint64(frames[first]));
        } else if (gst_structure_has_name(s, "kad-file-synced")) {
            const std::string location = gst_structure_get_string(s, "location");
            ASSERT_TRUE(gst_structure_get_uint64(s, "frames", &count));
            ASSERT_TRUE(location == first || location == second) << location;
            EXPECT_GE(count, lastSynced[location]) << "synced frames went back in " << location;
            lastSynced[location] = count;
        }
    }
    EXPECT_EQ(switched, 1);
    for (const std::string& file : {first, second}) {
        EXPECT_GT(lastSynced[file], 0u) << file;
        EXPECT_LE(lastSynced[file], guint64(frames[file])) << file;
    }
}

TEST_F(DvAviWriterTest, DamagedBuffersAreSkippedAndTheCaptureGoesOn)
{
    const std::string raw = rawDv(true, 10);
    const QByteArray in = readAll(raw);
    const std::string out = path("damaged.avi");
    kad::ElementRef p = launch("appsrc name=src format=time caps=video/x-dv,systemstream=true "
                               "! kaddvaviwriter name=w location=" +
                               out);
    GstElement* src = gst_bin_get_by_name(GST_BIN(p.get()), "src");
    GstElement* w = gst_bin_get_by_name(GST_BIN(p.get()), "w");
    auto push = [&](const QByteArray& bytes) {
        GstBuffer* b = gst_buffer_new_memdup(bytes.constData(), gsize(bytes.size()));
        gst_app_src_push_buffer(GST_APP_SRC(src), b);
    };
    for (int i = 0; i < 10; ++i) {
        push(in.mid(i * kPalFrame, kPalFrame));
        if (i == 4) push(in.mid(i * kPalFrame, 5000));   // a torn frame
        if (i == 6) push(QByteArray(kPalFrame, '\x7f')); // garbage of a frame's size
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    const RunResult r = runPipeline(p.get());
    EXPECT_TRUE(r.eos) << r.message;
    EXPECT_EQ(uintProperty(w, "frames-rejected"), 2u);
    EXPECT_EQ(uintProperty(w, "frames-written"), 10u);
    gst_object_unref(src);
    gst_object_unref(w);
    EXPECT_EQ(ffprobe(out, true).first("video")->frames, 10);
}

TEST_F(DvAviWriterTest, NoFrameAtAllLeavesNoBrokenHeader)
{
    const std::string out = path("empty.avi");
    kad::ElementRef p = launch("fakesrc num-buffers=0 ! video/x-dv,systemstream=true ! "
                               "kaddvaviwriter location=" +
                               out);
    const RunResult r = runPipeline(p.get());
    EXPECT_TRUE(r.eos) << r.message;
    EXPECT_EQ(readAll(out).size(), 0);
}

TEST_F(DvAviWriterTest, DiskFullPostsTheErrorAndLeavesAReadableFile)
{
    const std::string raw = rawDv(true, 60);
    const std::string out = path("full.avi");
    const RunResult r = runLaunchOnAFullDisk(
        fileSource(raw, true) + " ! kaddvaviwriter location=" + out, 3 * 1024 * 1024 + 5000);

    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.domain, GST_RESOURCE_ERROR);
    EXPECT_EQ(r.code, GST_RESOURCE_ERROR_NO_SPACE_LEFT);
    EXPECT_NE(r.message.find("The disk is full"), std::string::npos);

    const Probe probe = ffprobe(out, true);
    ASSERT_NE(probe.first("video"), nullptr);
    const long long frames = probe.first("video")->frames;
    EXPECT_GE(frames, 18);
    EXPECT_LE(frames, 21);
    const QByteArray file = readAll(out);
    EXPECT_LE(file.size(), 3 * 1024 * 1024 + 5000);
    EXPECT_EQ(le32(file, 4) + 8u, quint32(file.size()));
    const std::vector<std::string> all = packetMd5s(raw, "v", "dv");
    const std::vector<std::string> kept = packetMd5s(out);
    ASSERT_EQ(kept.size(), size_t(frames));
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), all.begin()));
    EXPECT_EQ(readerWarnings(out), "");
}
