#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "system/devices/element_device.h"
#include "system/devices/video_sources.h"
#include "virtual/virtual_device_provider.h"

using namespace kad;

namespace {

// A device of the test's making: binding it makes a videotestsrc whose
// foreground colour tells which device was bound.
TdeviceEntry fakeDevice(const char* name, const char* path, guint colour,
                        const char* factory = "videotestsrc")
{
    GstStructurePtr props(gst_structure_new_empty("properties"));
    if (path) gst_structure_set(props.get(), "device.path", G_TYPE_STRING, path, nullptr);
    GstStructurePtr elementProps(
        gst_structure_new("videotestsrc", "foreground-color", G_TYPE_UINT, colour, nullptr));
    TdeviceEntry entry;
    entry.FriendlyName = QString::fromUtf8(name);
    entry.DevicePath = path ? QString::fromUtf8(path) : QString();
    entry.Description = QStringLiteral("test device");
    entry.Device = DeviceRef::sink(kad_element_device_new(
        name, "Video/Source", nullptr, props.get(), factory, elementProps.get()));
    return entry;
}

class VideoSources : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDeviceEnumerator(
            [this](DeviceCategory category) -> std::optional<std::vector<TdeviceEntry>> {
                if (failing) return std::nullopt;
                return category == DeviceCategory::Video ? video : audio;
            });
    }
    void TearDown() override { SetDeviceEnumerator({}); }

    QStringList load()
    {
        TvideoItems items;
        EXPECT_TRUE(LoadVideoSources(list, items));
        QStringList names;
        for (const TvideoItem& item : items) {
            EXPECT_EQ(item.Name, item.Source->Name);
            names << item.Name;
        }
        return names;
    }

    static guint boundColour(const TvideoSource& source)
    {
        TboundSource bound = BindVideoSource(source, "VideoSource");
        if (!bound) return 0;
        EXPECT_STREQ(GST_OBJECT_NAME(bound.Element.get()), "VideoSource");
        EXPECT_FALSE(g_object_is_floating(bound.Element.get()));
        guint colour = 0;
        g_object_get(bound.Element.get(), "foreground-color", &colour, nullptr);
        return colour;
    }

    std::vector<TdeviceEntry> video;
    std::vector<TdeviceEntry> audio;
    bool failing = false;
    TvideoSourceList list;
};

} // namespace

TEST_F(VideoSources, IdenticalDevicesGetNumberedNamesAndBindInEnumerationOrder)
{
    video = {fakeDevice("USB Camera", "/sys/cam/1", 1), fakeDevice("Tuner Card", "/sys/tv", 2),
             fakeDevice("USB Camera", "/sys/cam/2", 3), fakeDevice("USB Camera", "/sys/cam/3", 4)};
    EXPECT_EQ(load(), QStringList({"USB Camera", "Tuner Card", "USB Camera #2", "USB Camera #3"}));
    ASSERT_EQ(list.Count(), 4);
    const TvideoSource* second = list.FindByName("USB Camera #2");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Occurrence, 2);
    EXPECT_EQ(second->FriendlyName, "USB Camera");
    EXPECT_EQ(second->DevicePath, "/sys/cam/2");
    EXPECT_EQ(second->Description, "test device");

    EXPECT_EQ(boundColour(*list.FindByName("USB Camera")), 1u);
    EXPECT_EQ(boundColour(*second), 3u);
    EXPECT_EQ(boundColour(*list.FindByName("USB Camera #3")), 4u);
    EXPECT_EQ(boundColour(*list.FindByName("Tuner Card")), 2u);

    // Names are compared exactly.
    EXPECT_FALSE(IsNameFree(list, "USB Camera #2"));
    EXPECT_TRUE(IsNameFree(list, "usb camera"));
    EXPECT_TRUE(IsNameFree(list, "USB Camera #4"));
}

TEST_F(VideoSources, ReloadKeepsNamesByDevicePathWhateverItsCase)
{
    video = {fakeDevice("USB Camera", "/Sys/Cam/A", 1), fakeDevice("USB Camera", "/sys/cam/b", 2)};
    EXPECT_EQ(load(), QStringList({"USB Camera", "USB Camera #2"}));

    // The first camera is unplugged: the second keeps its name, and the name
    // of the first stays reserved for it.
    video = {fakeDevice("USB Camera", "/SYS/CAM/B", 2)};
    EXPECT_EQ(load(), QStringList({"USB Camera #2"}));
    // It is still bound although it is now the only camera of that name.
    EXPECT_EQ(boundColour(*list.FindByName("USB Camera #2")), 2u);
    // The absent one's entry is bound by counting: the first camera of that
    // friendly name present.
    EXPECT_EQ(boundColour(*list.FindByName("USB Camera")), 2u);

    // A third camera arrives, then the first comes back (its path spelt
    // differently): it is "USB Camera" again, the newcomer gets the next number.
    video = {fakeDevice("USB Camera", "/sys/cam/c", 3), fakeDevice("USB Camera", "/sys/cam/b", 2),
             fakeDevice("USB Camera", "/sys/cam/a", 1)};
    EXPECT_EQ(load(), QStringList({"USB Camera #3", "USB Camera #2", "USB Camera"}));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(boundColour(*list.FindByName("USB Camera")), 1u);
    EXPECT_EQ(boundColour(*list.FindByName("USB Camera #3")), 3u);
}

TEST_F(VideoSources, MovieBoxIsListedUnderTheNameTheUserKnows)
{
    video = {fakeDevice("Cirrus Logic USB-DVR2 Source", "/sys/mb/1", 7),
             fakeDevice("Cirrus Logic USB-DVR2 Source", "/sys/mb/2", 8)};
    EXPECT_EQ(load(), QStringList({"Pinnacle Moviebox-B", "Pinnacle Moviebox-B #2"}));
    const TvideoSource* box = list.FindByName("Pinnacle Moviebox-B #2");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->FriendlyName, "Cirrus Logic USB-DVR2 Source");
    EXPECT_EQ(box->Occurrence, 2);
    EXPECT_EQ(boundColour(*box), 8u);

    // An entry that carries the shown name as its friendly name still finds
    // the box by counting.
    TvideoSource shown("Pinnacle Moviebox-B", "elsewhere", 1, "Pinnacle Moviebox-B");
    EXPECT_EQ(boundColour(shown), 7u);
}

TEST_F(VideoSources, FailuresAndEmptyListsAreToldApart)
{
    TvideoItems items{{"stale", nullptr}};
    EXPECT_TRUE(LoadVideoSources(list, items));
    EXPECT_TRUE(items.empty());
    QStringList names{"stale"};
    EXPECT_TRUE(LoadAudioSources(names));
    EXPECT_TRUE(names.isEmpty());

    video = {fakeDevice("USB Camera", "/sys/cam/1", 1)};
    load();
    failing = true;
    items = {{"stale", nullptr}};
    EXPECT_FALSE(LoadVideoSources(list, items));
    EXPECT_TRUE(items.empty());
    EXPECT_FALSE(LoadAudioSources(names));
    EXPECT_EQ(BindVideoSource(*list.At(0)).Status, BindStatus::DeviceNotFound);
    // The list itself survives a failed load.
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(VideoSources, DeviceThatCannotMakeItsElementIsReportedAsSuch)
{
    video = {fakeDevice("Broken Camera", "/sys/broken", 1, "no-such-element-factory")};
    load();
    TboundSource bound = BindVideoSource(*list.At(0));
    EXPECT_EQ(bound.Status, BindStatus::ElementFailed);
    EXPECT_FALSE(bound);
    EXPECT_FALSE(bound.Element);
}

TEST_F(VideoSources, DevicesWithoutPathGetDistinctMadeUpPaths)
{
    video = {fakeDevice("Old Camera", nullptr, 1), fakeDevice("Old Camera", nullptr, 2)};
    EXPECT_EQ(load(), QStringList({"Old Camera", "Old Camera #2"}));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.At(0)->DevicePath.startsWith("unknown"));
    EXPECT_TRUE(list.At(1)->DevicePath.startsWith("unknown"));
    EXPECT_NE(list.At(0)->DevicePath.toLower(), list.At(1)->DevicePath.toLower());
    EXPECT_EQ(boundColour(*list.At(1)), 2u);
}

// The names as found, in their order, equal names kept.
TEST_F(VideoSources, AudioDevicesAreNamesInOrderFoundAgainIgnoringCase)
{
    const auto audioDevice = [](const char* name) {
        TdeviceEntry e;
        e.FriendlyName = name;
        return e;
    };
    audio = {audioDevice("Line In"), audioDevice("Microphone"), audioDevice("line in")};
    QStringList names;
    ASSERT_TRUE(LoadAudioSources(names));
    EXPECT_EQ(names, QStringList({"Line In", "Microphone", "line in"}));
}

// The virtual devices, through GStreamer's device monitor.
class VirtualVideoSources : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDeviceEnumerator({});
        setenv("KADRILLO_VIRTUAL_DEVICES", "webcam,moviebox,webcam,dv-pal-vcr,mic", 1);
    }
    void TearDown() override
    {
        replugVirtualDevice("/virtual/kadrillo/webcam/0");
        unsetenv("KADRILLO_VIRTUAL_DEVICES");
    }

    // The virtual items only: the machine may have real devices too.
    QStringList virtualNames(const TvideoItems& items)
    {
        QStringList names;
        for (const TvideoItem& item : items) {
            if (item.Source->DevicePath.startsWith("/virtual/kadrillo/")) names << item.Name;
        }
        return names;
    }

    static std::string boundPath(const TvideoSource& source)
    {
        TboundSource bound = BindVideoSource(source);
        if (!bound) return {};
        gchar* path = nullptr;
        g_object_get(bound.Element.get(), "device-path", &path, nullptr);
        GCharPtr owned(path);
        return path ? path : "";
    }

    TvideoSourceList list;
};

TEST_F(VirtualVideoSources, AreListedNamedAndBound)
{
    TvideoItems items;
    ASSERT_TRUE(LoadVideoSources(list, items));
    EXPECT_EQ(virtualNames(items),
              QStringList({"Virtual Webcam", "Pinnacle Moviebox-B", "Virtual Webcam #2",
                           "Virtual DV Camcorder (PAL)"}));

    const TvideoSource* box = list.FindByName("Pinnacle Moviebox-B");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->FriendlyName, "Cirrus Logic USB-DVR2 Source");
    ASSERT_TRUE(box->Device);
    GstStructurePtr props(gst_device_get_properties(box->Device.get()));
    EXPECT_STREQ(gst_structure_get_string(props.get(), "kadrillo.clsid"),
                 "{45722E7E-7A80-4985-9333-7788B27B126F}");

    EXPECT_EQ(boundPath(*list.FindByName("Virtual Webcam #2")), "/virtual/kadrillo/webcam/1");
    EXPECT_EQ(boundPath(*box), "/virtual/kadrillo/moviebox/0");
    EXPECT_EQ(boundPath(*list.FindByName("Virtual DV Camcorder (PAL)")),
              "/virtual/kadrillo/dv-pal-vcr/0");

    QStringList audioNames;
    ASSERT_TRUE(LoadAudioSources(audioNames));
    EXPECT_TRUE(audioNames.contains("Virtual Microphone"));
    EXPECT_FALSE(audioNames.contains("Virtual Webcam"));
}

TEST_F(VirtualVideoSources, UnpluggedDeviceKeepsItsNameAndTheOtherStillBinds)
{
    TvideoItems items;
    ASSERT_TRUE(LoadVideoSources(list, items));
    unplugVirtualDevice("/virtual/kadrillo/webcam/0");
    ASSERT_TRUE(LoadVideoSources(list, items));
    EXPECT_EQ(virtualNames(items), QStringList({"Pinnacle Moviebox-B", "Virtual Webcam #2",
                                                "Virtual DV Camcorder (PAL)"}));
    EXPECT_EQ(boundPath(*list.FindByName("Virtual Webcam #2")), "/virtual/kadrillo/webcam/1");

    replugVirtualDevice("/virtual/kadrillo/webcam/0");
    ASSERT_TRUE(LoadVideoSources(list, items));
    EXPECT_EQ(virtualNames(items).first(), "Virtual Webcam");
    EXPECT_EQ(boundPath(*list.FindByName("Virtual Webcam")), "/virtual/kadrillo/webcam/0");
}
