#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <linux/videodev2.h>
#include <map>
#include <utility>

#include "platform/media/v4l2_controls.h"
#include "support/fake_tv_card.h"

using namespace kad;

namespace {

// A camera driver as the kernel presents it: answers the control, menu and
// format ioctls from its tables and can be told to refuse.
class FakeCamera : public V4l2Ioctl {
public:
    struct Control {
        v4l2_queryctrl Query{};
        int Value = 0;
        // For menus: the names by index; an empty name is a gap the driver skips.
        std::vector<std::string> Menu;
        int RefuseOnce = 0; // errno for the next S_CTRL only
        int RefuseAlways = 0;
    };
    struct Size {
        uint32_t Width, Height;
        std::vector<v4l2_fract> Intervals;
    };
    struct Format {
        uint32_t FourCC;
        std::vector<Size> Sizes;
        bool Stepwise = false;
    };

    std::map<uint32_t, Control> Controls;
    std::vector<Format> Formats;
    bool Walks = true;           // understands V4L2_CTRL_FLAG_NEXT_CTRL
    bool RepeatsForever = false; // a broken driver that answers the same control again and again
    int SetCalls = 0;

    void Add(uint32_t id, uint32_t type, const char* name, int min, int max, int def,
             std::vector<std::string> menu = {}, uint32_t flags = 0)
    {
        Control c;
        c.Query.id = id;
        c.Query.type = type;
        std::strncpy(reinterpret_cast<char*>(c.Query.name), name, sizeof c.Query.name - 1);
        c.Query.minimum = min;
        c.Query.maximum = max;
        c.Query.step = 1;
        c.Query.default_value = def;
        c.Query.flags = flags;
        c.Value = def;
        c.Menu = std::move(menu);
        Controls[id] = c;
    }

    int Call(unsigned long request, void* arg) override
    {
        switch (request) {
        case VIDIOC_QUERYCTRL:
            return queryControl(*static_cast<v4l2_queryctrl*>(arg));
        case VIDIOC_QUERYMENU: {
            auto* item = static_cast<v4l2_querymenu*>(arg);
            auto it = Controls.find(item->id);
            if (it == Controls.end() || item->index >= it->second.Menu.size() ||
                it->second.Menu[item->index].empty())
                return EINVAL;
            std::strncpy(reinterpret_cast<char*>(item->name), it->second.Menu[item->index].c_str(),
                         sizeof item->name - 1);
            return 0;
        }
        case VIDIOC_G_CTRL: {
            auto* value = static_cast<v4l2_control*>(arg);
            auto it = Controls.find(value->id);
            if (it == Controls.end()) return EINVAL;
            value->value = it->second.Value;
            return 0;
        }
        case VIDIOC_S_CTRL: {
            ++SetCalls;
            auto* value = static_cast<v4l2_control*>(arg);
            auto it = Controls.find(value->id);
            if (it == Controls.end()) return EINVAL;
            Control& c = it->second;
            if (c.RefuseAlways) return c.RefuseAlways;
            if (c.RefuseOnce) return std::exchange(c.RefuseOnce, 0);
            if (value->value < c.Query.minimum || value->value > c.Query.maximum) return ERANGE;
            c.Value = value->value;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* d = static_cast<v4l2_fmtdesc*>(arg);
            if (RepeatsForever) {
                d->pixelformat = V4L2_PIX_FMT_YUYV;
                return 0;
            }
            if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= Formats.size()) return EINVAL;
            d->pixelformat = Formats[d->index].FourCC;
            std::strcpy(reinterpret_cast<char*>(d->description), "format");
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            const Format* f = find(s->pixel_format);
            if (!f) return EINVAL;
            if (f->Stepwise) {
                if (s->index > 0) return EINVAL;
                s->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                s->stepwise = {f->Sizes[1].Width,  f->Sizes[0].Width,  16,
                               f->Sizes[1].Height, f->Sizes[0].Height, 16};
                return 0;
            }
            if (s->index >= f->Sizes.size()) return EINVAL;
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete = {f->Sizes[s->index].Width, f->Sizes[s->index].Height};
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* i = static_cast<v4l2_frmivalenum*>(arg);
            const Format* f = find(i->pixel_format);
            if (!f) return EINVAL;
            for (const Size& size : f->Sizes) {
                if (size.Width != i->width || size.Height != i->height) continue;
                if (i->index >= size.Intervals.size()) return EINVAL;
                i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                i->discrete = size.Intervals[i->index];
                return 0;
            }
            return EINVAL;
        }
        default:
            return ENOTTY;
        }
    }

private:
    const Format* find(uint32_t fourCC) const
    {
        for (const Format& f : Formats)
            if (f.FourCC == fourCC) return &f;
        return nullptr;
    }

    int queryControl(v4l2_queryctrl& query)
    {
        const bool next = (query.id & V4L2_CTRL_FLAG_NEXT_CTRL) != 0;
        const uint32_t id = query.id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        if (next && !Walks) return EINVAL;
        std::map<uint32_t, Control>::iterator it;
        if (RepeatsForever && !Controls.empty())
            it = Controls.begin();
        else
            it = next ? Controls.upper_bound(id) : Controls.find(id);
        if (it == Controls.end()) return EINVAL;
        query = it->second.Query;
        return 0;
    }
};

constexpr uint32_t kVendorMode = V4L2_CID_PRIVATE_BASE;

void addUsualControls(FakeCamera& camera)
{
    camera.Add(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255, 128);
    camera.Add(V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 255, 32);
    camera.Add(V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Auto", 0, 1, 1);
    camera.Add(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 2,
               {"Disabled", "", "60 Hz"});
    camera.Add(V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -180, 180, 0, {},
               V4L2_CTRL_FLAG_DISABLED);
    camera.Add(V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER64, "Gain", 0, 100, 0);
    camera.Add(V4L2_CID_SATURATION, V4L2_CTRL_TYPE_INTEGER, "Saturation", 0, 100, 50, {},
               V4L2_CTRL_FLAG_READ_ONLY);
    camera.Add(kVendorMode, V4L2_CTRL_TYPE_BOOLEAN, "Vendor Mode", 0, 1, 0);
}

const V4l2Control* named(const std::vector<V4l2Control>& controls, const std::string& name)
{
    for (const auto& c : controls)
        if (c.Name == name) return &c;
    return nullptr;
}

} // namespace

TEST(V4l2Controls, EnumeratesWhatTheDriverOffersWithOrWithoutTheWalk)
{
    for (bool walks : {true, false}) {
        SCOPED_TRACE(walks ? "walking driver" : "old driver");
        FakeCamera camera;
        camera.Walks = walks;
        addUsualControls(camera);
        const auto controls = V4l2Controls(camera).Controls();

        // Disabled and 64-bit controls are left out; the private one is kept.
        EXPECT_EQ(named(controls, "Hue"), nullptr);
        EXPECT_EQ(named(controls, "Gain"), nullptr);
        ASSERT_EQ(controls.size(), 6u);
        ASSERT_NE(named(controls, "Vendor Mode"), nullptr);

        const V4l2Control* brightness = named(controls, "Brightness");
        ASSERT_NE(brightness, nullptr);
        EXPECT_EQ(brightness->Kind, V4l2ControlKind::Integer);
        EXPECT_EQ(brightness->Maximum, 255);
        EXPECT_EQ(brightness->Default, 128);

        const V4l2Control* menu = named(controls, "Power Line Frequency");
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->Kind, V4l2ControlKind::Menu);
        // The gap at index 1 is skipped and the indexes stay the driver's.
        ASSERT_EQ(menu->Items.size(), 2u);
        EXPECT_EQ(menu->Items[0].Index, 0);
        EXPECT_EQ(menu->Items[1].Index, 2);
        EXPECT_EQ(menu->Items[1].Name, "60 Hz");

        EXPECT_EQ(named(controls, "White Balance, Auto")->Kind, V4l2ControlKind::Boolean);
        EXPECT_TRUE(named(controls, "Saturation")->ReadOnly);
    }
}

TEST(V4l2Controls, ABrokenDriverNeverHangsTheEnumeration)
{
    FakeCamera camera;
    addUsualControls(camera);
    camera.RepeatsForever = true;
    V4l2Controls controls(camera);
    EXPECT_LE(controls.Controls().size(), 1u);
    EXPECT_LE(controls.Formats().size(), 1000u);
}

TEST(V4l2Controls, SetsAndReadsBackAndExplainsRefusals)
{
    FakeCamera camera;
    addUsualControls(camera);
    V4l2Controls device(camera);
    const auto controls = device.Controls();
    const V4l2Control& brightness = *named(controls, "Brightness");

    EXPECT_EQ(device.SetValue(brightness, 200), std::nullopt);
    EXPECT_EQ(device.Value(V4L2_CID_BRIGHTNESS), 200);

    // Out of range and read-only are refused before the driver is bothered.
    const int calls = camera.SetCalls;
    const auto outside = device.SetValue(brightness, 999);
    ASSERT_TRUE(outside.has_value());
    EXPECT_NE(outside->find("999"), std::string::npos);
    EXPECT_TRUE(device.SetValue(*named(controls, "Saturation"), 10).has_value());
    EXPECT_EQ(camera.SetCalls, calls);
    EXPECT_EQ(device.Value(V4L2_CID_BRIGHTNESS), 200);

    camera.Controls[V4L2_CID_BRIGHTNESS].RefuseOnce = EBUSY;
    const auto busy = device.SetValue(brightness, 10);
    ASSERT_TRUE(busy.has_value());
    EXPECT_NE(busy->find("busy"), std::string::npos);
    EXPECT_NE(busy->find("Brightness"), std::string::npos);
    EXPECT_EQ(device.Value(V4L2_CID_BRIGHTNESS), 200);

    camera.Controls[V4L2_CID_BRIGHTNESS].RefuseOnce = EINVAL;
    const auto invalid = device.SetValue(brightness, 11);
    ASSERT_TRUE(invalid.has_value());
    EXPECT_NE(invalid->find("11"), std::string::npos);
    EXPECT_NE(*invalid, *busy);

    // A control that vanished between the listing and the change.
    V4l2Control gone = brightness;
    gone.Id = V4L2_CID_BLACK_LEVEL;
    EXPECT_TRUE(device.SetValue(gone, 1).has_value());
    EXPECT_EQ(device.Value(V4L2_CID_BLACK_LEVEL), std::nullopt);
}

TEST(V4l2Controls, ResetPutsEveryWritableControlBackAndRetriesTheGoverned)
{
    FakeCamera camera;
    addUsualControls(camera);
    V4l2Controls device(camera);
    const auto controls = device.Controls();
    ASSERT_EQ(device.SetValue(*named(controls, "Brightness"), 3), std::nullopt);
    ASSERT_EQ(device.SetValue(*named(controls, "Contrast"), 4), std::nullopt);
    ASSERT_EQ(device.SetValue(*named(controls, "Power Line Frequency"), 0), std::nullopt);
    camera.Controls[V4L2_CID_SATURATION].Value = 77;

    // Brightness is locked until the automatic mode after it is back.
    camera.Controls[V4L2_CID_BRIGHTNESS].RefuseOnce = EBUSY;
    EXPECT_EQ(device.ResetToDefaults(), std::nullopt);
    EXPECT_EQ(device.Value(V4L2_CID_BRIGHTNESS), 128);
    EXPECT_EQ(device.Value(V4L2_CID_CONTRAST), 32);
    EXPECT_EQ(device.Value(V4L2_CID_POWER_LINE_FREQUENCY), 2);
    EXPECT_EQ(device.Value(V4L2_CID_SATURATION), 77);

    // One control that never yields: the others are still reset and the
    // refusal names it.
    ASSERT_EQ(device.SetValue(*named(controls, "Brightness"), 3), std::nullopt);
    ASSERT_EQ(device.SetValue(*named(controls, "Contrast"), 4), std::nullopt);
    camera.Controls[V4L2_CID_BRIGHTNESS].RefuseAlways = EBUSY;
    const auto refusal = device.ResetToDefaults();
    ASSERT_TRUE(refusal.has_value());
    EXPECT_NE(refusal->find("Brightness"), std::string::npos);
    EXPECT_EQ(refusal->find("Contrast"), std::string::npos);
    EXPECT_EQ(device.Value(V4L2_CID_CONTRAST), 32);
    EXPECT_EQ(device.Value(V4L2_CID_BRIGHTNESS), 3);
}

TEST(V4l2Controls, ListsFormatsSizesAndRates)
{
    FakeCamera camera;
    camera.Formats.push_back(
        {V4L2_PIX_FMT_YUYV, {{640, 480, {{1, 30}, {1, 15}}}, {320, 240, {{1001, 30000}}}}});
    camera.Formats.push_back({V4L2_PIX_FMT_MJPEG, {{1280, 720, {}}, {160, 120, {}}}, true});
    // Each format, its sizes and their rates, as one line.
    std::string listed;
    for (const V4l2Format& format : V4l2Controls(camera).Formats()) {
        listed += FourCCText(format.FourCC);
        for (const V4l2FrameSize& size : format.Sizes) {
            listed += ' ' + std::to_string(size.Width) + 'x' + std::to_string(size.Height);
            for (const V4l2FrameRate& rate : size.Rates)
                listed +=
                    '@' + std::to_string(rate.Numerator) + '/' + std::to_string(rate.Denominator);
        }
        listed += ';';
    }
    // Intervals become rates (1/30 s is 30 frames per second); a size range
    // is offered by its two ends, largest first.
    EXPECT_EQ(listed, "YUYV 640x480@30/1@15/1 320x240@30000/1001;MJPG 1280x720 160x120;");
}

TEST(V4l2Controls, ANodeThatIsNoCameraGivesNothingAndNoCrash)
{
    EXPECT_EQ(V4l2NodeIoctl::Open("/nonexistent/video0"), nullptr);
    auto node = V4l2NodeIoctl::Open("/dev/null");
    ASSERT_NE(node, nullptr);
    V4l2Controls device(*node);
    EXPECT_TRUE(device.Controls().empty());
    EXPECT_TRUE(device.Formats().empty());
    EXPECT_EQ(device.Value(V4L2_CID_BRIGHTNESS), std::nullopt);
    V4l2Control brightness;
    brightness.Id = V4L2_CID_BRIGHTNESS;
    brightness.Name = "Brightness";
    brightness.Maximum = 255;
    EXPECT_TRUE(device.SetValue(brightness, 1).has_value());
    EXPECT_TRUE(device.ResetToDefaults() == std::nullopt);
}

TEST(V4l2Controls, TheTunerCountsInItsOwnUnitAndListsOnlyTheSoundModesItHas)
{
    kadtest::FakeTvCard card;
    auto port = card.Port();
    V4l2Controls device(*port);
    // A radio-grade tuner counts in 62.5 Hz steps: 100 MHz is 1 600 000.
    card.Capability = V4L2_TUNER_CAP_LOW | V4L2_TUNER_CAP_STEREO;
    card.RangeLow = 1'000'000;
    card.RangeHigh = 2'000'000;
    ASSERT_EQ(device.SetFrequencyMHz(100.0), std::nullopt);
    EXPECT_EQ(card.Frequency, 1'600'000u);
    EXPECT_DOUBLE_EQ(*device.FrequencyMHz(), 100.0);
    const auto range = device.FrequencyRangeMHz();
    ASSERT_TRUE(range.has_value());
    EXPECT_DOUBLE_EQ(range->first, 62.5);
    EXPECT_DOUBLE_EQ(range->second, 125.0);

    const auto modes = device.AudioModes();
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[1].Mode, uint32_t(V4L2_TUNER_MODE_STEREO));
    // The standard a device answers is read back as it is.
    card.Standard = V4L2_STD_SECAM_L;
    EXPECT_EQ(device.Standard(), V4L2_STD_SECAM_L);
    EXPECT_EQ(device.Standards().size(), 3u);

    card.HasTuner = false;
    EXPECT_EQ(device.Tuner(), std::nullopt);
    EXPECT_TRUE(device.AudioModes().empty());
    EXPECT_EQ(device.FrequencyMHz(), std::nullopt);
    EXPECT_TRUE(device.SetFrequencyMHz(100.0).has_value());
}
