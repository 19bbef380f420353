#include <gtest/gtest.h>

#include <gst/gst.h>

#include <string>
#include <tuple>
#include <vector>

#include "elements/kad_transport.h"
#include "virtual/virtual_device_provider.h"
#include "virtual/virtual_src.h"
#include "virtual_devices_support.h"

using vtest::deviceProperty;
using vtest::DevicesEnv;
using vtest::listDevices;

namespace {

std::string deviceClass(GstDevice* device)
{
    kad::GCharPtr cls(gst_device_get_device_class(device));
    return cls.get();
}

} // namespace

TEST(VirtualDevices, ListedOnlyWhenAskedFor)
{
    {
        DevicesEnv env(nullptr);
        EXPECT_TRUE(listDevices().empty());
    }
    {
        // Every kind, video and sound alike, in one listing.
        DevicesEnv env("1");
        auto devices = listDevices();
        ASSERT_EQ(devices.size(), 6u);
        EXPECT_EQ(deviceProperty(devices[5].get(), "device.path"), "/virtual/kadrillo/mic/0");
        EXPECT_EQ(deviceClass(devices[5].get()), "Audio/Source");
    }
    // Repeats are numbered, unknown ids skipped.
    DevicesEnv env("webcam, mic,nonsense,webcam");
    auto devices = listDevices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(deviceProperty(devices[1].get(), "kadrillo.virtual-id"), "mic");
    EXPECT_EQ(deviceProperty(devices[2].get(), "device.path"), "/virtual/kadrillo/webcam/1");
}

TEST(VirtualDevices, NotLiveAndDroppingFromTheEnvironment)
{
    setenv("KADRILLO_VIRTUAL_LIVE", "0", 1);
    setenv("KADRILLO_VIRTUAL_DROP_FRAMES", "7:2", 1);
    kad::ElementRef webcam =
        kad::ElementRef::sink(gst_element_factory_make("kadvirtualwebcamsrc", nullptr));
    unsetenv("KADRILLO_VIRTUAL_LIVE");
    unsetenv("KADRILLO_VIRTUAL_DROP_FRAMES");
    gboolean live = TRUE;
    guint period = 0, count = 0;
    g_object_get(webcam.get(), "is-live", &live, "drop-frames", &period, "drop-count", &count,
                 nullptr);
    EXPECT_FALSE(live);
    EXPECT_EQ(period, 7u);
    EXPECT_EQ(count, 2u);
}

TEST(VirtualDevices, LiveDevicesDeliverTimeStampedFrames)
{
    for (const char* id : {"webcam", "dv-pal-vcr", "moviebox", "mic"}) {
        SCOPED_TRACE(id);
        DevicesEnv env(id);
        auto devices = listDevices();
        ASSERT_EQ(devices.size(), 1u);
        kad::ElementRef source =
            kad::ElementRef::sink(gst_device_create_element(devices[0].get(), "device"));
        g_object_set(source.get(), "num-buffers", 3, nullptr);
        const vtest::Run run = vtest::runDevice(source.get());
        EXPECT_TRUE(run.eos) << run.error;
        ASSERT_GE(run.buffers.size(), 2u);
        const GstClockTime first = GST_BUFFER_PTS(run.buffers.front().get());
        const GstClockTime last = GST_BUFFER_PTS(run.buffers.back().get());
        if (std::string(id) != "moviebox") {
            ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(first));
            EXPECT_LT(first, last);
        }
    }
}

TEST(VirtualDevices, DroppedFramesLeaveOffsetGaps)
{
    struct Case {
        const char* id;
        guint count;
        std::vector<guint64> offsets;
    };
    // The last frames of every five are dropped; the microphone's offsets
    // count samples (960 a buffer).
    for (const Case& c : {Case{"webcam", 2, {0, 1, 2, 5, 6, 7, 10, 11, 12, 15, 16, 17}},
                          Case{"dv-pal-vcr", 2, {0, 1, 2, 5, 6, 7, 10, 11, 12, 15, 16, 17}},
                          Case{"mic",
                               1,
                               {0, 960, 1920, 2880, 4800, 5760, 6720, 7680, 9600, 10560, 11520,
                                12480, 14400, 15360, 16320, 17280}}}) {
        SCOPED_TRACE(c.id);
        kad::ElementRef source = vtest::makeDevice(c.id, 20);
        g_object_set(source.get(), "drop-frames", 5u, "drop-count", c.count, nullptr);
        const vtest::Run run = vtest::runDevice(source.get());
        EXPECT_TRUE(run.eos) << run.error;
        std::vector<guint64> offsets;
        for (const auto& b : run.buffers)
            offsets.push_back(GST_BUFFER_OFFSET(b.get()));
        EXPECT_EQ(offsets, c.offsets);
        guint64 sent = 0;
        g_object_get(source.get(), "frames-sent", &sent, nullptr);
        EXPECT_EQ(sent, c.offsets.size());
    }
}

TEST(VirtualDevices, WebcamInputsChangeThePicture)
{
    // The inputs themselves are the crossbar's routes (graph tests).
    kad::ElementRef source = vtest::makeDevice("webcam", 1);

    std::vector<std::vector<std::uint8_t>> pictures;
    for (guint i = 0; i < 3; ++i) {
        g_object_set(source.get(), "input", i, nullptr);
        const vtest::Run run = vtest::runDevice(source.get());
        ASSERT_EQ(run.buffers.size(), 1u) << run.error;
        pictures.push_back(run.bytes());
    }
    EXPECT_NE(pictures[0], pictures[1]);
    EXPECT_NE(pictures[1], pictures[2]);
    EXPECT_NE(pictures[0], pictures[2]);
}

TEST(VirtualDevices, UnplugFailsTheStreamAndRemovesTheDevice)
{
    DevicesEnv env("webcam,dv-pal-vcr");
    kad::GRef<GstDeviceProvider> provider(
        gst_device_provider_factory_get_by_name("kadvirtualdeviceprovider"));
    ASSERT_TRUE(provider);
    ASSERT_TRUE(gst_device_provider_start(provider.get()));
    kad::BusRef providerBus(gst_device_provider_get_bus(provider.get()));
    GList* devices = gst_device_provider_get_devices(provider.get());
    ASSERT_EQ(g_list_length(devices), 2u);
    GstDevice* dv = GST_DEVICE(g_list_nth_data(devices, 1));
    kad::ElementRef source = kad::ElementRef::sink(gst_device_create_element(dv, "dv"));
    g_list_free_full(devices, gst_object_unref);
    g_object_set(source.get(), "is-live", FALSE, nullptr);

    GstElement* element = source.get();
    const vtest::Run run = vtest::runDevice(element, [element](std::size_t i) {
        if (i == 4) g_object_set(element, "unplug", TRUE, nullptr);
    });
    EXPECT_FALSE(run.eos);
    EXPECT_EQ(std::tie(run.errorDomain, run.errorCode, run.errorSource),
              std::make_tuple(GST_RESOURCE_ERROR, int(GST_RESOURCE_ERROR_NOT_FOUND),
                              GST_OBJECT(element)));
    EXPECT_NE(run.error.find("Virtual DV Camcorder (PAL)"), std::string::npos) << run.error;
    EXPECT_GE(run.buffers.size(), 5u);

    // The bus filter lets every extended message through (the devices added
    // at start too): look for the removal itself.
    auto popType = [&](GstMessageType type) {
        for (;;) {
            kad::MessageRef m(gst_bus_timed_pop(providerBus.get(), GST_SECOND));
            if (!m || GST_MESSAGE_TYPE(m.get()) == type) return m;
        }
    };
    kad::MessageRef removed = popType(GST_MESSAGE_DEVICE_REMOVED);
    ASSERT_TRUE(removed);
    GstDevice* gone = nullptr;
    gst_message_parse_device_removed(removed.get(), &gone);
    EXPECT_EQ(deviceProperty(gone, "device.path"), "/virtual/kadrillo/dv-pal-vcr/0");
    gst_object_unref(gone);

    // Gone from every listing until it is plugged back in, and a new element
    // of the lost device refuses to start.
    EXPECT_EQ(listDevices().size(), 1u);
    EXPECT_TRUE(kad::virtualDeviceUnplugged("/virtual/kadrillo/dv-pal-vcr/0"));
    const vtest::Run again = vtest::runDevice(element);
    EXPECT_EQ(again.errorCode, GST_RESOURCE_ERROR_NOT_FOUND);

    kad::replugVirtualDevice("/virtual/kadrillo/dv-pal-vcr/0");
    kad::MessageRef added = popType(GST_MESSAGE_DEVICE_ADDED);
    EXPECT_TRUE(added);
    EXPECT_EQ(listDevices().size(), 2u);
    gst_device_provider_stop(provider.get());
}

TEST(KadTransportValues, TimecodeBcdAsCamcorderControlReportsIt)
{
    const KadTimecode tc{1, 23, 45, 12};
    EXPECT_EQ(kad_timecode_to_bcd(&tc), 0x01234512u);
    const KadTimecode back = kad_timecode_from_bcd(0x10595924u);
    EXPECT_EQ(std::tie(back.hours, back.minutes, back.seconds, back.frames),
              std::make_tuple(10u, 59u, 59u, 24u));
}
