#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "elements/dv_avi_writer_helpers.h"
#include "support/scratch_folder.h"

using namespace kadtest;

namespace {

class DumpWriterTest : public kadtest::ScratchFolder<> {
protected:
    // An MPEG-2 program stream like an encoder box sends: 2048-byte packs,
    // a sequence header every GOP. Made once by ffmpeg for the whole suite.
    static std::string programStream()
    {
        static QTemporaryDir shared;
        static const std::string file = [] {
            const QString p = shared.filePath("in.mpg");
            runTool("ffmpeg",
                    QString("-v error -y -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi "
                            "-i sine=frequency=440:sample_rate=48000 -t 3 -c:v mpeg2video "
                            "-b:v 2M -g 12 -c:a mp2 -f vob")
                            .split(u' ')
                        << p);
            return p.toStdString();
        }();
        return file;
    }

    static std::string source(const std::string& file, int blocksize)
    {
        return "filesrc location=" + file + " blocksize=" + std::to_string(blocksize) +
               " ! video/mpeg,mpegversion=2,systemstream=true";
    }
};

guint64 bytesWritten(GstElement* e)
{
    guint64 v = 0;
    g_object_get(e, "bytes-written", &v, nullptr);
    return v;
}

} // namespace

TEST_F(DumpWriterTest, IsFoundByItsLongNameAndWritesTheStreamByteForByte)
{
    kad::GRef<GstElementFactory> factory(gst_element_factory_find("kaddump"));
    ASSERT_TRUE(factory);
    EXPECT_STREQ(gst_element_factory_get_metadata(factory.get(), GST_ELEMENT_METADATA_LONGNAME),
                 "Dump");

    const std::string in = programStream();
    const std::string out = path("out.mpg");
    // An odd block size: buffers do not line up with the packs.
    const RunResult r = runLaunch(source(in, 1013) + " ! kaddump location=" + out);
    ASSERT_TRUE(r.eos) << r.message;
    const QByteArray original = readAll(in);
    ASSERT_GT(original.size(), 10000);
    EXPECT_TRUE(readAll(out) == original);
    const Probe probe = ffprobe(out);
    EXPECT_EQ(probe.format, "mpeg");
    EXPECT_EQ(probe.count("video"), 1);
}

// A cut while the stream runs loses and repeats no byte: in a program stream
// the new file starts at a pack header wherever the buffers fall, in any
// other stream at a buffer boundary.
TEST_F(DumpWriterTest, CutInAProgramStreamStartsTheNewFileAtAPackHeader)
{
    const std::string in = programStream();
    for (const bool packs : {true, false}) {
        SCOPED_TRACE(packs ? "program stream" : "other stream");
        const std::string first = path(packs ? "cut1.mpg" : "raw1.bin");
        const std::string second = path(packs ? "cut2.mpg" : "raw2.bin");
        kad::ElementRef p = launch(
            (packs ? source(in, 1013)
                   : "filesrc location=" + in + " blocksize=1000 ! application/octet-stream") +
            " ! identity sleep-time=300 ! kaddump name=d location=" + first);
        kad::ElementRef d(gst_bin_get_by_name(GST_BIN(p.get()), "d"));
        bool asked = false;
        const RunResult r = runPipeline(p.get(), [&] {
            if (!asked && bytesWritten(d.get()) > 120000) {
                g_object_set(d.get(), "next-location", second.c_str(), nullptr);
                asked = true;
            }
        });
        ASSERT_TRUE(r.eos) << r.message;
        ASSERT_TRUE(asked);

        const QByteArray a = readAll(first);
        const QByteArray b = readAll(second);
        EXPECT_TRUE(a + b == readAll(in));
        ASSERT_EQ(r.elementMessages.size(), 1u);
        guint64 bytes = 0;
        gst_structure_get_uint64(r.elementMessages.front().get(), "bytes", &bytes);
        EXPECT_EQ(bytes, guint64(a.size()));
        if (!packs) {
            EXPECT_EQ(a.size() % 1000, 0);
            continue;
        }
        EXPECT_TRUE(b.startsWith(QByteArray::fromHex("000001ba")));
        for (const std::string& half : {first, second}) {
            const Probe probe = ffprobe(half);
            ASSERT_NE(probe.first("video"), nullptr) << half;
            EXPECT_GT(probe.first("video")->frames, 0) << half;
        }
    }
}

TEST_F(DumpWriterTest, DiskFullPostsTheErrorAndKeepsWhatWasWritten)
{
    const std::string in = programStream();
    const std::string out = path("full.mpg");
    const RunResult r =
        runLaunchOnAFullDisk(source(in, 4096) + " ! kaddump location=" + out, 30000);

    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.domain, GST_RESOURCE_ERROR);
    EXPECT_EQ(r.code, GST_RESOURCE_ERROR_NO_SPACE_LEFT);
    const QByteArray kept = readAll(out);
    EXPECT_EQ(kept.size(), 30000);
    EXPECT_TRUE(readAll(in).startsWith(kept));
}

TEST_F(DumpWriterTest, AMissingFolderIsAnOpenErrorNotACrash)
{
    const RunResult r =
        runLaunch("fakesrc num-buffers=3 ! kaddump location=" + path("no/such/dir/x.mpg"));
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.code, GST_RESOURCE_ERROR_OPEN_WRITE);
}
