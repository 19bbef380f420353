// The DV preview shows at the window's size what a full decode scaled down
// shows, and a still taken from it is the full picture. The reference
// pictures come from ffmpeg decoding the same DV file. While the window is at
// most half the picture's size the decoder works at half size; a larger
// window, and a capture that takes the decoded picture, get the full size.

#include "elements/display_sink.h"
#include "elements/sample_grabber.h"
#include "graph_fixture.h"
#include "support/probe.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsrc.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace kad {
namespace {

using test::waitUntil;

// The latest frame the display handed over, copied, and how many came.
struct ShownFrame {
    QImage image;
    int parN = 0;
    int parD = 0;
    int sourceWidth = 0;
    int count = 0;
};

struct Shown {
    std::mutex lock;
    ShownFrame last;
    ShownFrame now()
    {
        std::lock_guard<std::mutex> hold(lock);
        return last;
    }
};

void keepFrame(const KadDisplayFrame* frame, gpointer data)
{
    auto* shown = static_cast<Shown*>(data);
    const QImage view(frame->data, frame->width, frame->height, frame->stride,
                      QImage::Format_RGBX8888);
    std::lock_guard<std::mutex> hold(shown->lock);
    shown->last = {view.convertToFormat(QImage::Format_RGB888), frame->par_n, frame->par_d,
                   frame->source_width, shown->last.count + 1};
}

// One frame of path decoded by ffmpeg to RGB24 at width x height.
QImage ffmpegFrame(const QString& path, int width, int height)
{
    const QByteArray raw =
        kadtest::runTool("ffmpeg", {"-v", "error", "-i", path, "-frames:v", "1", "-vf",
                                    QStringLiteral("scale=%1:%2").arg(width).arg(height), "-f",
                                    "rawvideo", "-pix_fmt", "rgb24", "-"});
    if (raw.size() != width * height * 3) return {};
    return QImage(reinterpret_cast<const uchar*>(raw.constData()), width, height, width * 3,
                  QImage::Format_RGB888)
        .copy();
}

// Mean absolute difference per channel; mirrored compares a against b
// flipped left to right.
double meanDifference(const QImage& a, const QImage& b, bool mirrored = false)
{
    if (a.size() != b.size() || a.isNull()) return 1e9;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* ra = a.constScanLine(y);
        const uchar* rb = b.constScanLine(y);
        for (int x = 0; x < a.width(); ++x) {
            const int xb = mirrored ? a.width() - 1 - x : x;
            for (int c = 0; c < 3; ++c)
                sum += std::abs(int(ra[3 * x + c]) - int(rb[3 * xb + c]));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

class LightPreview : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        file_ = dir_->filePath("bars.dv");
        // A still picture rich in colours and edges, the same in every frame.
        kadtest::runTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                    "smptebars=size=720x576:rate=25", "-t", "2", "-target",
                                    "pal-dv", "-an", "-f", "dv", file_});
    }
    static void TearDownTestSuite() { dir_.reset(); }

    // Starts the preview of the DV file, the display at width x height, at
    // the file's own pace when sync.
    bool start(TdmCam& cam, Shown& shown, int width, int height, bool sync)
    {
        GstElement* display = test::makeDisplay();
        g_object_set(display, "display-width", width, "display-height", height, "sync", sync, NULL);
        kad_display_sink_set_callback(display, keepFrame, &shown, nullptr);
        cam.FilterGraph().CheckOptionalFilters();
        cam.FilterGraph().SetVideoWindow(display);
        const std::string description =
            "filesrc blocksize=144000 location=\"" + file_.toStdString() +
            "\" ! capsfilter caps=\"video/x-dv,systemstream=true,format=PAL\"";
        ended_ = false;
        QObject::connect(&cam.FilterGraph(), &TfilterGraph::EndOfStream, [this] { ended_ = true; });
        return cam.Source().ConnectSourceElement("DV file", test::makeBin(description)) &&
               cam.Preview().BuildPreviewGraph() && cam.FilterGraph().RunGraph();
    }

    // Previews the whole DV file as fast as it goes.
    bool preview(TdmCam& cam, Shown& shown, int width, int height)
    {
        if (!start(cam, shown, width, height, false)) return false;
        // Every frame of the file through the grabber, one on the display.
        return waitUntil(
                   [&] {
                       return kad_sample_grabber_frame_count(cam.FilterGraph().sg.Element()) >= 50;
                   },
                   30000) &&
               waitUntil([&] { return shown.now().count > 0; });
    }

    void finish(TdmCam& cam)
    {
        cam.FilterGraph().StopGraph();
        kad_display_sink_set_callback(cam.FilterGraph().VideoWindowFilter(), nullptr, nullptr,
                                      nullptr);
    }

    bool ended_ = false;
    static inline std::unique_ptr<QTemporaryDir> dir_;
    static QString file_;
};

QString LightPreview::file_;

TEST_F(LightPreview, ShownPictureIsTheFullDecodeScaledToTheWindow)
{
    ASSERT_TRUE(QFileInfo::exists(file_));
    // The normal window (384 x 288, half the 768 x 576 the PAL picture
    // shows at) gets the half-size decode; one a little larger the full one.
    struct Case {
        int width;
        int height;
        int decodedWidth;
    };
    for (const Case c : {Case{384, 288, 360}, Case{400, 300, 720}}) {
        SCOPED_TRACE(c.width);
        TdmCam cam;
        Shown shown;
        ASSERT_TRUE(preview(cam, shown, c.width, c.height));
        const ShownFrame last = shown.now();
        const QImage& image = last.image;
        // Square pixels at 4:3 show the 4:3 source at its aspect.
        EXPECT_EQ(last.parN, last.parD);
        EXPECT_EQ(last.sourceWidth, c.decodedWidth);
        finish(cam);
        ASSERT_EQ(image.size(), QSize(c.width, c.height));
        const QImage reference = ffmpegFrame(file_, c.width, c.height);
        ASSERT_FALSE(reference.isNull());
        // Different scalers and chroma filters differ at edges by a few
        // levels, and so does a half-size decode; a wrong colour matrix,
        // swapped channels or a shifted picture do not.
        EXPECT_LT(meanDifference(image, reference), 6.0);
        EXPECT_GT(meanDifference(image, reference, true), 30.0);
    }
}

TEST_F(LightPreview, WindowSizeChangesWhilePreviewing)
{
    TdmCam cam;
    Shown shown;
    ASSERT_TRUE(start(cam, shown, 200, 150, true));
    ASSERT_TRUE(waitUntil([&] { return shown.now().count > 0; }));
    EXPECT_EQ(shown.now().image.size(), QSize(200, 150));
    EXPECT_EQ(shown.now().sourceWidth, 360);
    // Stretched on a wide window: the pixels say how to get back to 4:3,
    // and a window wider than half the picture gets the full decode.
    kad_display_sink_set_display_size(cam.FilterGraph().VideoWindowFilter(), 640, 240);
    ShownFrame wide;
    ASSERT_TRUE(waitUntil([&] {
        wide = shown.now();
        return wide.image.width() == 640 && wide.sourceWidth == 720;
    }));
    EXPECT_EQ(wide.image.height(), 240);
    ASSERT_GT(wide.parN, 0);
    EXPECT_NEAR(640.0 * wide.parN / wide.parD / 240.0, 4.0 / 3.0, 0.01);
    // Small again: half size again, without the picture stopping.
    kad_display_sink_set_display_size(cam.FilterGraph().VideoWindowFilter(), 320, 240);
    int countThen = 0;
    ASSERT_TRUE(waitUntil([&] {
        const ShownFrame small = shown.now();
        countThen = small.count;
        return small.image.width() == 320 && small.sourceWidth == 360;
    }));
    EXPECT_TRUE(waitUntil([&] { return shown.now().count > countThen + 2; }));
    finish(cam);
}

TEST_F(LightPreview, StillIsTheFullPictureConvertedOnlyWhenTaken)
{
    TdmCam cam;
    Shown shown;
    ASSERT_TRUE(preview(cam, shown, 192, 144));
    EXPECT_EQ(shown.now().sourceWidth, 360) << "the preview should decode at half size";

    // The grabber keeps the DV frame, decoded at full size for the still.
    KadGrabbedFrameInfo info{};
    ASSERT_TRUE(kad_sample_grabber_peek(cam.FilterGraph().sg.Element(), &info));
    EXPECT_EQ(info.width, 720);
    EXPECT_EQ(info.height, 576);
    std::vector<guint8> bytes(info.size);
    ASSERT_TRUE(kad_sample_grabber_copy_frame(cam.FilterGraph().sg.Element(), bytes.data(),
                                              bytes.size(), &info));
    finish(cam);

    const QImage grabbed(bytes.data(), info.width, info.height, info.stride, QImage::Format_RGB888);
    const QImage reference = ffmpegFrame(file_, 720, 576);
    ASSERT_FALSE(reference.isNull());
    EXPECT_LT(meanDifference(grabbed, reference), 4.0);
    // Storing it as a file is the stills' tests' (session/stills_test.cpp).
}

// A file source prerolls the preview with whatever got through before it
// stopped at its allocation query, which the capture branch holds until the
// graph plays: the decoder must hand on a picture before the next one comes.
TEST_F(LightPreview, OneFrameFromTheSourceIsEnoughToShowAPicture)
{
    QFile dv(file_);
    ASSERT_TRUE(dv.open(QIODevice::ReadOnly));
    const QByteArray frame = dv.read(144000);
    ASSERT_EQ(frame.size(), 144000);

    GstElement* display = test::makeDisplay();
    Shown shown;
    g_object_set(display, "display-width", 384, "display-height", 288, NULL);
    kad_display_sink_set_callback(display, keepFrame, &shown, nullptr);
    TdmCam cam;
    cam.FilterGraph().CheckOptionalFilters();
    cam.FilterGraph().SetVideoWindow(display);
    GstElement* bin = test::makeBin("appsrc name=feed format=time ! capsfilter "
                                    "caps=\"video/x-dv,systemstream=true,format=PAL\"");
    ElementRef feed(gst_bin_get_by_name(GST_BIN(bin), "feed"));
    ASSERT_TRUE(feed);
    ASSERT_TRUE(cam.Source().ConnectSourceElement("DV feed", bin) &&
                cam.Preview().BuildPreviewGraph());
    cam.FilterGraph().RunGraph();
    GstBuffer* buffer = gst_buffer_new_memdup(frame.constData(), frame.size());
    GST_BUFFER_PTS(buffer) = 0;
    GST_BUFFER_DURATION(buffer) = GST_SECOND / 25;
    ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(feed.get()), buffer), GST_FLOW_OK);

    // No second frame and no end of stream: the one frame has to show.
    EXPECT_TRUE(waitUntil([&] { return shown.now().count > 0; }, 10000));
    EXPECT_EQ(shown.now().image.size(), QSize(384, 288));
    finish(cam);
}

} // namespace
} // namespace kad
