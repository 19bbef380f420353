#pragma once

// Shared pieces of the graph tests: stand-in sources built from ordinary
// GStreamer elements, and waiting on the Qt event loop (which runs the bus
// watch).

#include "elements/display_sink.h"
#include "graph/dm_cam.h"
#include "platform/media/gst_ptr.h"
#include "support/fake_dialogs.h"
#include "support/wait.h"
#include "system/devices/video_sources.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>

namespace kad::test {

// A bin made from a gst-launch description with its unlinked pads ghosted.
inline GstElement* makeBin(const std::string& description)
{
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
    if (error) {
        ADD_FAILURE() << "cannot build " << description << ": " << error->message;
        g_error_free(error);
    }
    return bin;
}

// The virtual DV camcorder: DV system stream with 48 kHz stereo audio.
// frames < 0 runs for ever.
inline GstElement* makeDvSource(bool pal, bool live, int frames = -1)
{
    return gst_element_factory_make_full("kadvirtualdvsrc", "ntsc", !pal, "camera", !pal, "is-live",
                                         live, "num-buffers", frames, NULL);
}

// A webcam stand-in: raw video.
inline GstElement* makeRawSource(int width, int height, const char* rate, bool live)
{
    return makeBin(std::string("videotestsrc") + (live ? " is-live=true" : "") +
                   " ! capsfilter caps=\"video/x-raw,format=YUY2,width=" + std::to_string(width) +
                   ",height=" + std::to_string(height) + ",framerate=" + rate + "\"");
}

using kadtest::waitUntil;

// A display stand-in that runs as fast as data comes.
inline GstElement* makeDisplay()
{
    GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
    g_object_set(display, "sync", FALSE, NULL);
    return display;
}

// A data module whose display counts the frames it is shown.
class ShownFramesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cam.FilterGraph().CheckOptionalFilters();
        GstElement* display = makeDisplay();
        kad_display_sink_set_callback(
            display,
            [](const KadDisplayFrame*, gpointer n) { ++*static_cast<std::atomic<int>*>(n); },
            &shown, nullptr);
        cam.FilterGraph().SetVideoWindow(display);
    }
    void TearDown() override
    {
        kad_display_sink_set_callback(cam.FilterGraph().VideoWindowFilter(), nullptr, nullptr,
                                      nullptr);
    }

    FakeDialogs boxes;
    std::atomic<int> shown{0};
    TdmCam cam;
};

// The video devices listed as the window lists them (the suite chooses the
// virtual ones through KADRILLO_VIRTUAL_DEVICES).
class ListedDevicesTest : public ShownFramesTest {
protected:
    void SetUp() override
    {
        ShownFramesTest::SetUp();
        ASSERT_TRUE(LoadVideoSources(sources, items));
    }

    TvideoSourceList sources;
    TvideoItems items;
};

} // namespace kad::test
