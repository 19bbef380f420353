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
#include <vector>

#include "elements/display_sink.h"
#include "elements/sample_grabber.h"
#include "platform/media/gst_ptr.h"
#include "support/wait.h"

using kad::ElementRef;

namespace {

ElementRef launch(const std::string& description)
{
    GError* error = nullptr;
    ElementRef p = ElementRef::sink(gst_parse_launch(description.c_str(), &error));
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
    }
    return p;
}

ElementRef byName(GstElement* bin, const char* name)
{
    return ElementRef(gst_bin_get_by_name(GST_BIN(bin), name));
}

bool runToEos(GstElement* pipeline)
{
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    kad::BusRef bus(gst_element_get_bus(pipeline));
    kad::MessageRef msg(gst_bus_timed_pop_filtered(
        bus.get(), 30 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    return msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
}

// The last frame a fakesink kept, as rows of packed pixels of bpp bytes.
std::vector<guint8> lastPixels(GstElement* fakesink, int* width, int* height, int bpp)
{
    GstSample* raw = nullptr;
    g_object_get(fakesink, "last-sample", &raw, nullptr);
    kad::SampleRef sample(raw);
    std::vector<guint8> out;
    GstVideoInfo info;
    if (!sample || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get()))) return out;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ))
        return out;
    *width = GST_VIDEO_INFO_WIDTH(&info);
    *height = GST_VIDEO_INFO_HEIGHT(&info);
    const auto* data = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    for (int y = 0; y < *height; ++y)
        out.insert(out.end(), data + y * stride, data + y * stride + *width * bpp);
    gst_video_frame_unmap(&frame);
    return out;
}

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

} // namespace

TEST(NativeFormatPreview, GrabberPassesYuvUntouchedAndConvertsOnlyForAStill)
{
    for (const char* format : {"I420", "YUY2", "UYVY"}) {
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
        ASSERT_TRUE(runToEos(pipeline.get()));
        ElementRef sg = byName(pipeline.get(), "sg");

        // Downstream of the grabber the stream is still the source's format.
        GstSample* passed = nullptr;
        g_object_get(byName(pipeline.get(), "yuv").get(), "last-sample", &passed, nullptr);
        kad::SampleRef passedSample(passed);
        ASSERT_TRUE(passedSample);
        EXPECT_STREQ(gst_structure_get_string(
                         gst_caps_get_structure(gst_sample_get_caps(passed), 0), "format"),
                     format);

        KadGrabbedFrameInfo info{};
        ASSERT_TRUE(kad_sample_grabber_peek(sg.get(), &info));
        EXPECT_EQ(info.width, 320);
        EXPECT_EQ(info.height, 240);
        std::vector<guint8> bitmap(info.size, 0xEE);
        ASSERT_TRUE(kad_sample_grabber_copy_frame(sg.get(), bitmap.data(), bitmap.size(), &info));
        int width = 0, height = 0;
        const std::vector<guint8> rgb =
            lastPixels(byName(pipeline.get(), "rgb").get(), &width, &height, 3);
        ASSERT_EQ(width, 320);
        EXPECT_LT(meanDifference(bitmap.data(), 3, rgb.data(), 3, 320, 240, info.stride, 960), 2.0);

        // As a sample: RGB of the full size, the source's aspect kept.
        kad::SampleRef sample(kad_sample_grabber_get_last_sample(sg.get()));
        ASSERT_TRUE(sample);
        GstVideoInfo vinfo;
        ASSERT_TRUE(gst_video_info_from_caps(&vinfo, gst_sample_get_caps(sample.get())));
        EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&vinfo), GST_VIDEO_FORMAT_RGB);
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&vinfo), 320);
        EXPECT_EQ(GST_VIDEO_INFO_PAR_N(&vinfo), 16);
        EXPECT_EQ(GST_VIDEO_INFO_PAR_D(&vinfo), 15);
        kad::BufferMap map(gst_sample_get_buffer(sample.get()), GST_MAP_READ);
        ASSERT_TRUE(map);
        EXPECT_LT(meanDifference(map.data(), 3, rgb.data(), 3, 320, 240,
                                 GST_VIDEO_INFO_PLANE_STRIDE(&vinfo, 0), 960),
                  2.0);
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
    ElementRef display = byName(pipeline.get(), "d");
    Shown shown;
    kad_display_sink_set_callback(display.get(), keepFrame, &shown, nullptr);
    ASSERT_TRUE(runToEos(pipeline.get()));
    ASSERT_TRUE(kadtest::waitUntil(
        [&] {
            std::lock_guard<std::mutex> hold(shown.lock);
            return shown.count > 0;
        },
        10000));
    kad_display_sink_set_callback(display.get(), nullptr, nullptr, nullptr);

    int width = 0, height = 0;
    const std::vector<guint8> reference =
        lastPixels(byName(pipeline.get(), "ref").get(), &width, &height, 4);
    ASSERT_EQ(width, 192);
    std::lock_guard<std::mutex> hold(shown.lock);
    EXPECT_EQ(shown.frame.width, 192);
    EXPECT_EQ(shown.frame.height, 144);
    EXPECT_EQ(shown.frame.source_width, 720);
    EXPECT_EQ(shown.frame.source_height, 576);
    // 720 x 576 of 16/15 pixels is 4:3; so is 192 x 144 of square ones.
    EXPECT_EQ(shown.frame.par_n, shown.frame.par_d);
    EXPECT_LT(meanDifference(shown.pixels.data(), 4, reference.data(), 4, 192, 144,
                             shown.frame.stride, 192 * 4),
              6.0);

    gint w = 0, h = 0;
    ASSERT_TRUE(kad_display_sink_get_aspect(display.get(), &w, &h, nullptr, nullptr));
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
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
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

    ElementRef pipeline = launch("appsrc name=src format=time ! kaddisplaysink name=d sync=false "
                                 "display-width=192 display-height=144");
    ASSERT_TRUE(pipeline);
    ElementRef src = byName(pipeline.get(), "src");
    GstCaps* caps = gst_video_info_to_caps(&info);
    g_object_set(src.get(), "caps", caps, NULL);
    gst_caps_unref(caps);
    ElementRef display = byName(pipeline.get(), "d");
    Shown shown;
    kad_display_sink_set_callback(display.get(), keepFrame, &shown, nullptr);
    GST_BUFFER_PTS(buffer) = 0;
    GstFlowReturn flow = GST_FLOW_ERROR;
    g_signal_emit_by_name(src.get(), "push-buffer", buffer, &flow);
    gst_buffer_unref(buffer);
    EXPECT_EQ(flow, GST_FLOW_OK);
    g_signal_emit_by_name(src.get(), "end-of-stream", &flow);
    ASSERT_TRUE(runToEos(pipeline.get()));
    ASSERT_TRUE(kadtest::waitUntil(
        [&] {
            std::lock_guard<std::mutex> hold(shown.lock);
            return shown.count > 0;
        },
        10000));
    kad_display_sink_set_callback(display.get(), nullptr, nullptr, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);

    std::lock_guard<std::mutex> hold(shown.lock);
    ASSERT_EQ(shown.frame.height, 144);
    // Shown lines take turns between the fields: red, blue, red...; a field
    // given the other's colour lines turns both purple.
    for (int row = 2; row < 142; ++row) {
        const guint8* p = shown.pixels.data() + row * shown.frame.stride + 96 * 4;
        const bool red = row % 2 == 0;
        EXPECT_GT(red ? p[0] : p[2], 200) << "row " << row;
        EXPECT_LT(red ? p[2] : p[0], 60) << "row " << row;
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

    // Unset: the frame comes at the source's size, in RGBx.
    ElementRef pipeline = launch("videotestsrc num-buffers=1 pattern=white ! "
                                 "video/x-raw,format=YUY2,width=64,height=48 ! "
                                 "kaddisplaysink name=d sync=false");
    ASSERT_TRUE(pipeline);
    ElementRef d = byName(pipeline.get(), "d");
    Shown shown;
    kad_display_sink_set_callback(d.get(), keepFrame, &shown, nullptr);
    ASSERT_TRUE(runToEos(pipeline.get()));
    ASSERT_TRUE(kadtest::waitUntil(
        [&] {
            std::lock_guard<std::mutex> hold(shown.lock);
            return shown.count > 0;
        },
        10000));
    kad_display_sink_set_callback(d.get(), nullptr, nullptr, nullptr);
    std::lock_guard<std::mutex> hold(shown.lock);
    EXPECT_EQ(shown.frame.width, 64);
    EXPECT_EQ(shown.frame.height, 48);
    EXPECT_GT(shown.pixels[0], 230);
    EXPECT_GT(shown.pixels[shown.frame.stride * 47 + 63 * 4 + 2], 230);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}
