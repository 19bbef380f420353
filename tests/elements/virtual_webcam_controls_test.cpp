// The virtual webcam's picture controls, judged on the frames it sends.

#include <gtest/gtest.h>

#include <gst/video/video.h>

#include <gst/app/gstappsink.h>

#include <cstdlib>
#include <functional>

#include "platform/media/gst_ptr.h"

namespace {

struct Means {
    double luma = 0;
    double chromaSpread = 0; // mean distance of U and V from grey
};

// Reads the frame through GStreamer's own converter, whatever the format.
Means measure(GstSample* sample)
{
    GstVideoInfo info;
    EXPECT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
    GstVideoFrame frame;
    Means m;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return m;
    GstVideoInfo grey;
    // Convert the frame to planar 4:4:4 so each pixel has its own Y, U, V.
    gst_video_info_set_format(&grey, GST_VIDEO_FORMAT_AYUV, GST_VIDEO_INFO_WIDTH(&info),
                              GST_VIDEO_INFO_HEIGHT(&info));
    GST_VIDEO_INFO_FPS_N(&grey) = GST_VIDEO_INFO_FPS_N(&info);
    GST_VIDEO_INFO_FPS_D(&grey) = GST_VIDEO_INFO_FPS_D(&info);
    GstVideoConverter* convert = gst_video_converter_new(&info, &grey, nullptr);
    GstBuffer* out = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&grey), nullptr);
    GstVideoFrame ayuv;
    gst_video_frame_map(&ayuv, &grey, out, GST_MAP_WRITE);
    gst_video_converter_frame(convert, &frame, &ayuv);
    double y = 0, c = 0;
    const int w = GST_VIDEO_INFO_WIDTH(&grey), h = GST_VIDEO_INFO_HEIGHT(&grey);
    for (int row = 0; row < h; ++row) {
        const auto* p = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&ayuv, 0)) +
                        row * GST_VIDEO_FRAME_PLANE_STRIDE(&ayuv, 0);
        for (int x = 0; x < w; ++x) {
            y += p[4 * x + 1];
            c += std::abs(p[4 * x + 2] - 128) + std::abs(p[4 * x + 3] - 128);
        }
    }
    m.luma = y / (w * h);
    m.chromaSpread = c / (2.0 * w * h);
    gst_video_frame_unmap(&ayuv);
    gst_buffer_unref(out);
    gst_video_converter_free(convert);
    gst_video_frame_unmap(&frame);
    return m;
}

Means framesWith(const char* format, const std::function<void(GstElement*)>& set)
{
    kad::ElementRef pipeline = kad::ElementRef::sink(gst_pipeline_new("test"));
    GstElement* webcam = gst_element_factory_make("kadvirtualwebcamsrc", nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    kad::CapsRef caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, nullptr));
    g_object_set(filter, "caps", caps.get(), nullptr);
    g_object_set(webcam, "is-live", FALSE, nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    set(webcam);
    gst_bin_add_many(GST_BIN(pipeline.get()), webcam, filter, sink, nullptr);
    EXPECT_TRUE(gst_element_link_many(webcam, filter, sink, nullptr));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    kad::SampleRef sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND));
    Means m;
    if (sample) m = measure(sample.get());
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    EXPECT_TRUE(sample) << "no frame within 10 s";
    return m;
}

} // namespace

TEST(VirtualWebcamControls, ControlsChangeThePictureInEveryFormat)
{
    for (const char* format : {"I420", "YUY2"}) {
        SCOPED_TRACE(format);
        const Means plain = framesWith(format, [](GstElement*) {});
        const Means bright =
            framesWith(format, [](GstElement* e) { g_object_set(e, "brightness", 200, nullptr); });
        const Means flat =
            framesWith(format, [](GstElement* e) { g_object_set(e, "contrast", 0, nullptr); });
        const Means grey =
            framesWith(format, [](GstElement* e) { g_object_set(e, "monochrome", TRUE, nullptr); });
        const Means pale =
            framesWith(format, [](GstElement* e) { g_object_set(e, "saturation", 32, nullptr); });
        const Means mains = framesWith(format, [](GstElement* e) {
            gst_util_set_object_arg(G_OBJECT(e), "power-line-frequency", "60 Hz");
        });

        ASSERT_GT(plain.chromaSpread, 4);
        EXPECT_GT(bright.luma, plain.luma + 40);
        EXPECT_NEAR(flat.luma, 16, 2);
        EXPECT_NEAR(grey.chromaSpread, 0, 1);
        EXPECT_NEAR(grey.luma, plain.luma, 1);
        EXPECT_LT(pale.chromaSpread, plain.chromaSpread / 2);
        // The mains frequency only matters to exposure under flickering light.
        EXPECT_NEAR(mains.luma, plain.luma, 0.5);
    }
}
