#include <gtest/gtest.h>

#include <gst/gst.h>

#include "graph/crossbar.h"
#include "graph/crossbar_source.h"
#include "platform/media/gst_ptr.h"

using namespace kad;

namespace {

guint inputOf(GstElement* webcam)
{
    guint input = 99;
    g_object_get(webcam, "input", &input, nullptr);
    return input;
}

} // namespace

TEST(CrossbarWebcam, VirtualWebcamInputsAreRoutesThatSwitchTheInput)
{
    ElementRef webcam =
        ElementRef::sink(gst_element_factory_make("kadvirtualwebcamsrc", "VideoSource"));
    ASSERT_TRUE(webcam);
    TCrossbar crossbar(CaptureUpstreamOf(webcam.get()));

    ASSERT_EQ(crossbar.RouteCount(), 3);
    // The menu checks the tuner first.
    ASSERT_EQ(crossbar.RouteInputName(0), QString("Video Tuner"));
    ASSERT_EQ(crossbar.PreferredRoute(), 0);

    EXPECT_TRUE(crossbar.ApplyRoute(2));
    EXPECT_EQ(inputOf(webcam.get()), 2u);
    EXPECT_TRUE(crossbar.ApplyRoute(0));
    EXPECT_EQ(inputOf(webcam.get()), 0u);
    EXPECT_FALSE(crossbar.ApplyRoute(3));
    EXPECT_EQ(inputOf(webcam.get()), 0u);
}

TEST(CrossbarWebcam, SourcesWithoutInputsOfferNoRoutes)
{
    EXPECT_EQ(TCrossbar(CaptureUpstreamOf(nullptr)).RouteCount(), 0);
    ElementRef test = ElementRef::sink(gst_element_factory_make("videotestsrc", nullptr));
    EXPECT_EQ(TCrossbar(CaptureUpstreamOf(test.get())).RouteCount(), 0);

    // A V4L2 source whose node is no capture device, alone or inside a bin.
    ElementRef v4l2 = ElementRef::sink(gst_element_factory_make("v4l2src", nullptr));
    if (!v4l2) GTEST_SKIP() << "no v4l2src";
    g_object_set(v4l2.get(), "device", "/dev/null", nullptr);
    EXPECT_EQ(TCrossbar(CaptureUpstreamOf(v4l2.get())).RouteCount(), 0);
    ElementRef bin = ElementRef::sink(gst_bin_new("source-bin"));
    gst_bin_add(GST_BIN(bin.get()), v4l2.get());
    EXPECT_EQ(TCrossbar(CaptureUpstreamOf(bin.get())).RouteCount(), 0);
}
