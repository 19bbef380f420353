#include <gtest/gtest.h>

#include <gst/gst.h>

#include <string>
#include <vector>

#include "elements/sample_grabber.h"
#include "platform/media/gst_ptr.h"
#include "support/pipeline.h"

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
    guint64 counted = 0;
    g_object_get(sg.get(), "frame-count", &counted, nullptr);
    EXPECT_EQ(counted, 4u);

    ASSERT_TRUE(kad_sample_grabber_peek(sg.get(), &info));
    EXPECT_EQ(info.width, 322);
    EXPECT_EQ(info.height, 240);
    EXPECT_EQ(info.stride, 968);
    EXPECT_EQ(info.size, 968u * 240u);
    EXPECT_EQ(info.frame_number, 4u);

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

    // The same frame as a sample: caps and buffer of the negotiated RGB.
    kad::SampleRef sample(kad_sample_grabber_get_last_sample(sg.get()));
    ASSERT_TRUE(sample);
    GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample.get()), 0);
    EXPECT_STREQ(gst_structure_get_string(s, "format"), "RGB");
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);

    // A new run counts from zero again.
    ASSERT_TRUE(playToEnd(pipeline.get(), &why)) << why;
    EXPECT_EQ(kad_sample_grabber_frame_count(sg.get()), 4u);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

TEST(SampleGrabber, ATakenFrameKeepsItsFormatAndConvertsLaterAsACopyWould)
{
    // The grabber sees I420: taking the frame must not convert it, and the
    // later conversion must give the very bitmap a direct copy gives.
    ElementRef pipeline = launch("videotestsrc num-buffers=3 pattern=smpte ! "
                                 "video/x-raw,format=I420,width=322,height=240 ! "
                                 "kadsamplegrabber name=sg ! fakesink");
    ASSERT_TRUE(pipeline);
    std::string why;
    ASSERT_TRUE(playToEnd(pipeline.get(), &why)) << why;
    ElementRef sg = byName(pipeline.get(), "sg");

    kad::SampleRef taken(kad_sample_grabber_take_frame(sg.get()));
    ASSERT_TRUE(taken);
    GstVideoInfo own;
    ASSERT_TRUE(gst_video_info_from_caps(&own, gst_sample_get_caps(taken.get())));
    EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&own), GST_VIDEO_FORMAT_I420);

    KadGrabbedFrameInfo direct{};
    ASSERT_TRUE(kad_sample_grabber_peek(sg.get(), &direct));
    std::vector<guint8> copied(direct.size);
    ASSERT_TRUE(kad_sample_grabber_copy_frame(sg.get(), copied.data(), copied.size(), &direct));

    KadGrabbedFrameInfo later{};
    std::vector<guint8> small(16);
    EXPECT_FALSE(kad_sample_grabber_frame_to_rgb(taken.get(), small.data(), small.size(), &later));
    EXPECT_EQ(later.width, 322);
    EXPECT_EQ(later.stride, 968);
    EXPECT_EQ(later.frame_number, direct.frame_number);
    std::vector<guint8> converted(later.size);
    ASSERT_TRUE(
        kad_sample_grabber_frame_to_rgb(taken.get(), converted.data(), converted.size(), &later));
    EXPECT_TRUE(converted == copied);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}
