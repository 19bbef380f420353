// The grabber and the display take the decoder's own formats: the stream
// passes the grabber unconverted, a still is converted when asked for, and
// the display scales and converts to the size it is given. The
// reference pictures come from GStreamer's own videoconvert and videoscale.

#include <gtest/gtest.h>

#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "elements/display_sink.h"
#include "elements/sample_grabber.h"
#include "platform/media/gst_ptr.h"
#include "support/pipeline.h"
#include "support/wait.h"

using kad::ElementRef;
using kadtest::byName;
using kadtest::lastPixels;
using kadtest::launch;

namespace {

double meanDifference(const guint8* a, int aStep, const guint8* b, int bStep, int width, int height,
                      int aStride, int bStride)
{
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                sum += std::abs(int(a[y * aStride + x * aStep + c]) -
                                int(b[y * bStride + x * bStep + c]));
    return sum / (3.0 * width * height);
}

struct Shown {
    std::mutex lock;
    std::vector<guint8> pixels;
    KadDisplayFrame frame{};
    int count = 0;
};

void keepFrame(const KadDisplayFrame* frame, gpointer data)
{
    auto* shown = static_cast<Shown*>(data);
    std::lock_guard<std::mutex> hold(shown->lock);
    shown->frame = *frame;
    shown->frame.data = nullptr;
    shown->frame.buffer = nullptr;
    shown->pixels.assign(frame->data, frame->data + frame->stride * frame->height);
    ++shown->count;
}

// Plays `pipeline` to its end with its display sink "d" handing its frames
// to `shown`; true once a frame was shown.
bool playShowing(GstElement* pipeline, Shown& shown)
{
    ElementRef display = byName(pipeline, "d");
    kad_display_sink_set_callback(display.get(), keepFrame, &shown, nullptr);
    std::string why;
    const bool ended = kadtest::playToEnd(pipeline, &why);
    EXPECT_TRUE(ended) << why;
    const bool seen = ended && kadtest::waitUntil(
                                   [&] {
                                       std::lock_guard<std::mutex> hold(shown.lock);
                                       return shown.count > 0;
                                   },
                                   10000);
    kad_display_sink_set_callback(display.get(), nullptr, nullptr, nullptr);
    return seen;
}

} // namespace

TEST(NativeFormatPreview, GrabberPassesYuvUntouchedAndConvertsOnlyForAStill)
{
    // RGB beside the decoders' formats: the grabber copies it row by row.
    for (const char* format : {"I420", "YUY2", "UYVY", "RGB"}) {
        SCOPED_TRACE(format);
        // The same picture beside: converted to RGB by videoconvert.
        ElementRef pipeline = launch(
            std::string("videotestsrc num-buffers=2 pattern=smpte ! video/x-raw,format=") + format +
            ",width=320,height=240,pixel-aspect-ratio=16/15 ! tee name=t "
            "t. ! queue ! kadsamplegrabber name=sg ! fakesink name=yuv "
            "enable-last-sample=true "
            "t. ! queue ! videoconvert ! video/x-raw,format=RGB ! fakesink name=rgb "
            "enable-last-sample=true");
        ASSERT_TRUE(pipeline);
        std::string why;
        ASSERT_TRUE(kadtest::playToEnd(pipeline.get(), &why)) << why;
        ElementRef sg = byName(pipeline.get(), "sg");

        // Downstream of the grabber the stream is still the source's format.
        GstSample* passed = nullptr;
        g_object_get(byName(pipeline.get(), "yuv").get(), "last-sample", &passed, nullptr);
        kad::SampleRef passedSample(passed);
        ASSERT_TRUE(passedSample);
        EXPECT_STREQ(gst_structure_get_string(
                         gst_caps_get_structure(gst_sample_get_caps(passed), 0), "format"),
                     format);

        // A still as the program takes it: the frame as it came, converted
        // afterwards, a first call with no room telling the size.
        kad::SampleRef taken(kad_sample_grabber_take_frame(sg.get()));
        ASSERT_TRUE(taken);
        EXPECT_STREQ(gst_structure_get_string(
                         gst_caps_get_structure(gst_sample_get_caps(taken.get()), 0), "format"),
                     format);
        KadGrabbedFrameInfo info{};
        EXPECT_FALSE(kad_sample_grabber_frame_to_rgb(taken.get(), nullptr, 0, &info));
        EXPECT_EQ(std::tie(info.width, info.height), std::make_tuple(320, 240));
        std::vector<guint8> bitmap(info.size, 0xEE);
        ASSERT_TRUE(
            kad_sample_grabber_frame_to_rgb(taken.get(), bitmap.data(), bitmap.size(), &info));
        int width = 0, height = 0;
        const std::vector<guint8> rgb =
            lastPixels(byName(pipeline.get(), "rgb").get(), &width, &height, 3);
        ASSERT_EQ(width, 320);
        // Nothing to convert for RGB: the copy is exact.
        const double allowed = std::strcmp(format, "RGB") == 0 ? 0.0 : 2.0;
        EXPECT_LE(meanDifference(bitmap.data(), 3, rgb.data(), 3, 320, 240, info.stride, 960),
                  allowed);

        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    }
}

void displayMatchesReference(const std::string& format)
{
    ElementRef pipeline =
        launch("videotestsrc num-buffers=3 pattern=smpte ! video/x-raw," + format +
               ",width=720,height=576,pixel-aspect-ratio=16/15 ! "
               "tee name=t t. ! queue ! kaddisplaysink name=d sync=false "
               "display-width=192 display-height=144 "
               "t. ! queue ! videoscale ! videoconvert ! "
               "video/x-raw,format=RGBx,width=192,height=144 ! fakesink name=ref "
               "enable-last-sample=true");
    ASSERT_TRUE(pipeline);
    Shown shown;
    ASSERT_TRUE(playShowing(pipeline.get(), shown));

    int width = 0, height = 0;
    const std::vector<guint8> reference =
        lastPixels(byName(pipeline.get(), "ref").get(), &width, &height, 4);
    ASSERT_EQ(width, 192);
    std::lock_guard<std::mutex> hold(shown.lock);
    const KadDisplayFrame& f = shown.frame;
    EXPECT_EQ(std::tie(f.width, f.height, f.source_width, f.source_height),
              std::make_tuple(192, 144, 720, 576));
    // 720 x 576 of 16/15 pixels is 4:3; so is 192 x 144 of square ones.
    EXPECT_EQ(shown.frame.par_n, shown.frame.par_d);
    EXPECT_LT(meanDifference(shown.pixels.data(), 4, reference.data(), 4, 192, 144,
                             shown.frame.stride, 192 * 4),
              6.0);

    gint w = 0, h = 0;
    ASSERT_TRUE(
        kad_display_sink_get_aspect(byName(pipeline.get(), "d").get(), &w, &h, nullptr, nullptr));
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 576);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

TEST(NativeFormatPreview, DisplayScalesAndConvertsToTheGivenSize)
{
    // 720x576 with 16/15 pixels, shown at 192 x 144; beside it the same frame
    // scaled and converted by videoscale and videoconvert. The decoders' own
    // formats: planar 4:2:0 (libav's DV), packed 4:2:2 (libdv).
    for (const char* format : {"format=I420", "format=YUY2"}) {
        SCOPED_TRACE(format);
        displayMatchesReference(format);
    }
}

TEST(NativeFormatPreview, DisplayKeepsTheFieldsOfAnInterlacedPictureApart)
{
    // Interlaced 4:2:0 as libav decodes DV: one field red, the other blue,
    // each with its own colour lines (every other chroma line is a field's).
    const int width = 720, height = 576;
    GstVideoInfo info;
    gst_video_info_set_interlaced_format(&info, GST_VIDEO_FORMAT_I420,
                                         GST_VIDEO_INTERLACE_MODE_INTERLEAVED, width, height);
    const kad::BufferRef picture(
        gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr));
    GstBuffer* buffer = picture.get();
    GstVideoFrame frame;
    ASSERT_TRUE(gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE));
    const guint8 yuv[2][3] = {{81, 90, 240}, {41, 240, 110}}; // red, blue (BT.601)
    for (guint plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? height : height / 2;
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
        auto* data = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
        for (int row = 0; row < rows; ++row)
            std::memset(data + row * stride, yuv[row % 2][plane], stride);
    }
    gst_video_frame_unmap(&frame);
    GST_BUFFER_PTS(buffer) = 0;

    // Shown smaller than the source, and larger, as in a full-screen window.
    for (const auto& [shownWidth, shownHeight] : {std::pair{192, 144}, std::pair{1024, 768}}) {
        SCOPED_TRACE(shownHeight);
        ElementRef pipeline =
            launch("appsrc name=src format=time ! kaddisplaysink name=d sync=false display-width=" +
                   std::to_string(shownWidth) + " display-height=" + std::to_string(shownHeight));
        ASSERT_TRUE(pipeline);
        ElementRef src = byName(pipeline.get(), "src");
        GstCaps* caps = gst_video_info_to_caps(&info);
        g_object_set(src.get(), "caps", caps, NULL);
        gst_caps_unref(caps);
        GstFlowReturn flow = GST_FLOW_ERROR;
        g_signal_emit_by_name(src.get(), "push-buffer", buffer, &flow);
        EXPECT_EQ(flow, GST_FLOW_OK);
        g_signal_emit_by_name(src.get(), "end-of-stream", &flow);
        Shown shown;
        ASSERT_TRUE(playShowing(pipeline.get(), shown));
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);

        std::lock_guard<std::mutex> hold(shown.lock);
        ASSERT_EQ(shown.frame.height, shownHeight);
        // Shown lines take turns between the fields: red, blue, red...; a
        // field given the other's colour lines turns both purple.
        for (int row = 2; row < shownHeight - 2; ++row) {
            const guint8* p = shown.pixels.data() + row * shown.frame.stride + shownWidth / 2 * 4;
            const bool red = row % 2 == 0;
            EXPECT_GT(red ? p[0] : p[2], 200) << "row " << row;
            EXPECT_LT(red ? p[2] : p[0], 60) << "row " << row;
        }
    }
}

TEST(NativeFormatPreview, DisplaySizeIsBoundedAndZeroMeansTheSourceSize)
{
    ElementRef display = ElementRef::sink(gst_element_factory_make("kaddisplaysink", nullptr));
    ASSERT_TRUE(display);
    kad_display_sink_set_display_size(display.get(), -5, 1 << 20);
    gint width = -1, height = -1;
    g_object_get(display.get(), "display-width", &width, "display-height", &height, nullptr);
    EXPECT_EQ(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_LE(height, 16384);
    // At 0 the frame is shown at the source's size (display_sink_test.cpp).
}
