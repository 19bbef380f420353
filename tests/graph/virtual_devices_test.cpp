// Every virtual device through the whole path the window takes: listed,
// connected, classified, previewed.

#include "elements/display_sink.h"
#include "elements/sample_grabber.h"
#include "graph/crossbar.h"
#include "graph_fixture.h"
#include "support/fake_dialogs.h"
#include "system/devices/video_sources.h"
#include "virtual/virtual_device_provider.h"

#include <gtest/gtest.h>

#include <atomic>

namespace kad {
namespace {

using test::waitUntil;

class VirtualDevices : public test::ListedDevicesTest {
protected:
    static void SetUpTestSuite()
    {
        qputenv("KADRILLO_VIRTUAL_DEVICES", "1");
        qputenv("KADRILLO_VIRTUAL_LIVE", "0");
    }
    static void TearDownTestSuite()
    {
        qunsetenv("KADRILLO_VIRTUAL_DEVICES");
        qunsetenv("KADRILLO_VIRTUAL_LIVE");
    }

    const TvideoSource* find(const char* friendlyName)
    {
        for (int i = 0; i < sources.Count(); ++i)
            if (sources.At(i)->FriendlyName == friendlyName) return sources.At(i);
        ADD_FAILURE() << friendlyName << " is not listed";
        return nullptr;
    }

    // Frames of width x height reached the grabber as 24-bit RGB and the
    // window got some.
    bool previewed(int width, int height)
    {
        KadGrabbedFrameInfo info{};
        return shown > 2 && kad_sample_grabber_peek(cam.FilterGraph().sg.Element(), &info) &&
               info.width == width && info.height == height && info.stride >= 3 * width;
    }
};

TEST_F(VirtualDevices, DvCamcordersPreviewAndReadTheirStandard)
{
    struct Case {
        const char* name;
        bool vcr;
        int height;
        gint64 duration;
    };
    for (const Case& c : {Case{"Virtual DV Camcorder (PAL)", true, 576, 400000},
                          Case{"Virtual DV Camcorder (NTSC)", false, 480, 333667}}) {
        SCOPED_TRACE(c.name);
        const TvideoSource* source = find(c.name);
        ASSERT_NE(source, nullptr);
        ASSERT_TRUE(cam.Source().ConnectSource(*source));
        EXPECT_EQ(cam.Source().Kind(), SourceKind::skDV);
        EXPECT_EQ(cam.Source().Facts().IsVCR, c.vcr);
        EXPECT_EQ(cam.Source().Facts().IsCamera, !c.vcr);
        ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
        shown = 0;
        ASSERT_TRUE(cam.FilterGraph().RunGraph());
        EXPECT_TRUE(waitUntil([&] { return previewed(720, c.height); }));
        EXPECT_TRUE(waitUntil([&] { return cam.Preview().Format().FrameDuration == c.duration; }));
        EXPECT_EQ(cam.Preview().Format().VideoWidth, 720);
        EXPECT_EQ(cam.Preview().Format().VideoHeight, c.height);
        cam.FilterGraph().StopGraph();
    }
}

TEST_F(VirtualDevices, WebcamIsAnalogAndPreviews)
{
    const TvideoSource* source = find("Virtual Webcam");
    ASSERT_NE(source, nullptr);
    ASSERT_TRUE(cam.Source().ConnectSource(*source));
    EXPECT_EQ(cam.Source().Kind(), SourceKind::skAnalog);
    EXPECT_FALSE(cam.Source().Facts().HasExtTransport);
    ASSERT_NE(cam.Source().VideoCrossbar(), nullptr); // tuner, composite, S-Video
    EXPECT_EQ(cam.Source().Facts().VideoInputCount, 3);
    EXPECT_EQ(cam.Source().VideoCrossbar()->RouteCount(), 3);
    ASSERT_TRUE(cam.Preview().BuildPreviewGraph());
    ASSERT_TRUE(cam.FilterGraph().RunGraph());
    EXPECT_TRUE(waitUntil([&] {
        return cam.Preview().Format().VideoWidth > 0 &&
               previewed(cam.Preview().Format().VideoWidth, cam.Preview().Format().VideoHeight);
    }));
    EXPECT_GT(cam.Preview().Format().FrameDuration, 0);
    cam.FilterGraph().StopGraph();
}

TEST_F(VirtualDevices, ProgramStreamSourcesAreMpeg2AndTheMovieBoxIsKnownByItsClassId)
{
    const TvideoSource* encoder = find("Virtual MPEG-2 Encoder");
    ASSERT_NE(encoder, nullptr);
    ASSERT_TRUE(cam.Source().ConnectSource(*encoder));
    EXPECT_EQ(cam.Source().Kind(), SourceKind::skMpeg2);
    EXPECT_TRUE(cam.FilterGraph().demux.Bound());

    const TvideoSource* box = find(kMovieBoxFriendlyName);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->Name, kMovieBoxDisplayName);
    EXPECT_TRUE(cam.FilterGraph().Presence().MovieBoxDevicePresent);
    ASSERT_TRUE(cam.Source().ConnectSource(*box));
    EXPECT_EQ(cam.Source().Kind(), SourceKind::skMovieBoxB);
    EXPECT_TRUE(cam.FilterGraph().demux.Bound());
    EXPECT_TRUE(boxes.shown.empty()); // the demultiplexer and "Dump" are installed
}

} // namespace
} // namespace kad
