#include <gtest/gtest.h>

#include <gst/gst.h>

#include <string>
#include <vector>

#include "elements/sample_grabber.h"
#include "platform/media/gst_ptr.h"
#include "support/pipeline.h"
#include "support/probe.h"

#include <gst/app/gstappsrc.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>
#include <thread>
#include <tuple>

using kad::ElementRef;
using kadtest::byName;
using kadtest::launch;
using kadtest::playToEnd;

TEST(SampleGrabber, KeepsTheLatestFrameAndCopiesItRowByRowAsABitmap)
{
    // 322 pixels of 3 bytes make rows of 966 bytes: the copy pads them to 968.
    // The colour is given as 0xAARRGGBB.
    ElementRef pipeline =
        launch("videotestsrc num-buffers=4 pattern=solid-color foreground-color=0xff336699 ! "
               "video/x-raw,format=RGB,width=322,height=240,framerate=25/1 ! "
               "kadsamplegrabber name=sg ! fakesink");
    ASSERT_TRUE(pipeline);
    ElementRef sg = byName(pipeline.get(), "sg");

    KadGrabbedFrameInfo info{};
    EXPECT_FALSE(kad_sample_grabber_peek(sg.get(), &info));
    std::vector<guint8> tooEarly(16);
    EXPECT_FALSE(kad_sample_grabber_copy_frame(sg.get(), tooEarly.data(), tooEarly.size(), &info));

    std::string why;
    ASSERT_TRUE(playToEnd(pipeline.get(), &why)) << why;
    EXPECT_EQ(kad_sample_grabber_frame_count(sg.get()), 4u);

    ASSERT_TRUE(kad_sample_grabber_peek(sg.get(), &info));
    EXPECT_EQ(std::tie(info.width, info.height, info.stride, info.size, info.frame_number),
              std::make_tuple(322, 240, 968, 968u * 240u, 4u));

    // Too small a buffer: refused, but the needed size is told.
    std::vector<guint8> small(info.size - 1);
    KadGrabbedFrameInfo again{};
    EXPECT_FALSE(kad_sample_grabber_copy_frame(sg.get(), small.data(), small.size(), &again));
    EXPECT_EQ(again.size, info.size);

    std::vector<guint8> bitmap(info.size, 0xEE);
    ASSERT_TRUE(kad_sample_grabber_copy_frame(sg.get(), bitmap.data(), bitmap.size(), &info));
    int wrong = 0;
    for (int y = 0; y < info.height; ++y) {
        const guint8* row = bitmap.data() + y * info.stride;
        for (int x = 0; x < info.width; ++x)
            wrong += row[3 * x] != 0x33 || row[3 * x + 1] != 0x66 || row[3 * x + 2] != 0x99;
        wrong += row[966] != 0 || row[967] != 0;
    }
    EXPECT_EQ(wrong, 0);

    gst_element_set_state(pipeline.get(), GST_STATE_NULL);

    // A new run counts from zero again.
    ASSERT_TRUE(playToEnd(pipeline.get(), &why)) << why;
    EXPECT_EQ(kad_sample_grabber_frame_count(sg.get()), 4u);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

namespace {

// DV of ffmpeg's moving test picture: every frame differs from the others.
QString makeDvFile(const QTemporaryDir& dir, int frames)
{
    const QString path = dir.filePath("moving.dv");
    kadtest::runTool("ffmpeg",
                     {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25",
                      "-frames:v", QString::number(frames), "-target", "pal-dv", "-an", "-f", "dv",
                      path});
    return path;
}

// Frame `index` of a DV file decoded at full size by ffmpeg, as RGB24 rows
// of 3 * 720 bytes.
QByteArray ffmpegFrame(const QString& path, int index)
{
    return kadtest::runTool("ffmpeg", {"-v", "error", "-i", path, "-vf",
                                       QStringLiteral("select=eq(n\\,%1)").arg(index), "-frames:v",
                                       "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
}

// Mean absolute difference per channel between a bitmap of the grabber
// (rows stride bytes apart) and packed RGB24 rows of the same size.
double meanDifference(const std::vector<guint8>& bitmap, int stride, const QByteArray& packed,
                      int width, int height)
{
    if (packed.size() != width * height * 3) return 1e9;
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x)
            sum += std::abs(int(bitmap[std::size_t(y) * stride + x]) -
                            int(guint8(packed[y * 3 * width + x])));
    return sum / (3.0 * width * height);
}

} // namespace

// Ahead of a decoder working at half size, the grabber keeps the encoded DV
// frame and a still decodes it at full size: the very frame ffmpeg decodes.
TEST(SampleGrabberDv, StillsAreTheFullDecodeOfTheLatestFrame)
{
    QTemporaryDir dir;
    const QString path = makeDvFile(dir, 20);
    ASSERT_TRUE(QFile::exists(path));
    ElementRef pipeline = launch("filesrc location=\"" + path.toStdString() +
                                 "\" ! dvdemux ! kadsamplegrabber name=sg ! "
                                 "avdec_dvvideo lowres=1 ! fakesink name=out");
    ASSERT_TRUE(pipeline);
    std::string why;
    ASSERT_TRUE(playToEnd(pipeline.get(), &why)) << why;
    ElementRef sg = byName(pipeline.get(), "sg");

    // Taken as it came (the DV frame itself), converted later on another
    // thread, as the program takes a still.
    kad::SampleRef taken(kad_sample_grabber_take_frame(sg.get()));
    ASSERT_TRUE(taken);
    EXPECT_TRUE(gst_structure_has_name(gst_caps_get_structure(gst_sample_get_caps(taken.get()), 0),
                                       "video/x-dv"));
    KadGrabbedFrameInfo info{};
    std::vector<guint8> converted;
    bool convertedOk = false;
    std::thread([&] {
        kad_sample_grabber_frame_to_rgb(taken.get(), nullptr, 0, &info);
        converted.resize(info.size);
        convertedOk =
            kad_sample_grabber_frame_to_rgb(taken.get(), converted.data(), converted.size(), &info);
    }).join();
    ASSERT_TRUE(convertedOk);
    EXPECT_EQ(std::tie(info.width, info.height, info.frame_number), std::make_tuple(720, 576, 20u));
    // Decoders and colour conversions differ by a few levels; another frame
    // of the moving picture differs by far more.
    EXPECT_LT(meanDifference(converted, info.stride, ffmpegFrame(path, 19), 720, 576), 4.0);
    EXPECT_GT(meanDifference(converted, info.stride, ffmpegFrame(path, 10), 720, 576), 8.0);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

// A damaged DV frame passes the grabber like any other but gives no still,
// quickly and without harm; the next whole frame gives one again.
TEST(SampleGrabberDv, ADamagedFrameGivesNoStill)
{
    QTemporaryDir dir;
    const QString path = makeDvFile(dir, 2);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.read(144000);
    ASSERT_EQ(whole.size(), 144000);

    ElementRef pipeline =
        launch("appsrc name=feed format=time caps=\"video/x-dv,systemstream=false,width=720,"
               "height=576,framerate=25/1,pixel-aspect-ratio=16/15\" ! kadsamplegrabber name=sg ! "
               "fakesink sync=false");
    ASSERT_TRUE(pipeline);
    ElementRef feed = byName(pipeline.get(), "feed");
    ElementRef sg = byName(pipeline.get(), "sg");
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    guint64 pushed = 0;
    const auto push = [&](const QByteArray& bytes) {
        GstBuffer* buffer = gst_buffer_new_memdup(bytes.constData(), bytes.size());
        GST_BUFFER_PTS(buffer) = pushed * GST_SECOND / 25;
        ++pushed;
        if (gst_app_src_push_buffer(GST_APP_SRC(feed.get()), buffer) != GST_FLOW_OK) return false;
        for (int i = 0; i < 500 && kad_sample_grabber_frame_count(sg.get()) < pushed; ++i)
            g_usleep(10000);
        return kad_sample_grabber_frame_count(sg.get()) == pushed;
    };

    QByteArray noHeader = whole;
    noHeader[0] = char(0xff); // the first block is no header block
    QByteArray noise = whole;
    std::srand(7);
    for (int i = 80 * 6; i < noise.size(); ++i) // header, subcode and VAUX kept
        noise[i] = char(std::rand());
    const QByteArray shortFrame = whole.left(100000);
    struct Case {
        const char* what;
        QByteArray bytes;
        bool mayDecode; // the decoder may conceal it
    };
    for (const Case& c : {Case{"cut short", shortFrame, false}, Case{"no header", noHeader, false},
                          Case{"noise", noise, true}, Case{"whole", whole, true}}) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(push(c.bytes));
        QElapsedTimer took;
        took.start();
        KadGrabbedFrameInfo info{};
        std::vector<guint8> bitmap(720 * 3 * 576);
        const bool copied =
            kad_sample_grabber_copy_frame(sg.get(), bitmap.data(), bitmap.size(), &info);
        kad::SampleRef taken(kad_sample_grabber_take_frame(sg.get()));
        ASSERT_TRUE(taken);
        const bool converted =
            kad_sample_grabber_frame_to_rgb(taken.get(), bitmap.data(), bitmap.size(), &info);
        EXPECT_LT(took.elapsed(), 8000);
        EXPECT_EQ(copied, converted);
        EXPECT_TRUE(c.mayDecode || !copied);
        EXPECT_TRUE(c.bytes != whole || (copied && info.width == 720 && info.height == 576));
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}
