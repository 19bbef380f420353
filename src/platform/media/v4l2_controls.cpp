#include "platform/media/v4l2_controls.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kad {

namespace {

// A driver that answers every index (or keeps returning the same control)
// must not hold the menu forever: no real device comes near these counts.
constexpr int kMaxControls = 512;
constexpr uint32_t kMaxMenuItems = 256;
constexpr uint32_t kMaxFormats = 128;
constexpr uint32_t kMaxSizes = 256;
constexpr uint32_t kMaxRates = 64;

std::string fixedString(const __u8* text, size_t size)
{
    const auto* chars = reinterpret_cast<const char*>(text);
    return std::string(chars, strnlen(chars, size));
}

std::optional<V4l2Control> describe(V4l2Ioctl& port, const v4l2_queryctrl& query)
{
    if (query.flags & V4L2_CTRL_FLAG_DISABLED) return std::nullopt;
    V4l2Control control;
    switch (query.type) {
    case V4L2_CTRL_TYPE_INTEGER:
        control.Kind = V4l2ControlKind::Integer;
        break;
    case V4L2_CTRL_TYPE_BOOLEAN:
        control.Kind = V4l2ControlKind::Boolean;
        break;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU:
        control.Kind = V4l2ControlKind::Menu;
        break;
    case V4L2_CTRL_TYPE_BUTTON:
        control.Kind = V4l2ControlKind::Button;
        break;
    default:
        return std::nullopt;
    }
    control.Id = query.id;
    control.Name = fixedString(query.name, sizeof query.name);
    control.Minimum = query.minimum;
    control.Maximum = std::max(query.minimum, query.maximum);
    control.Step = query.step > 0 ? query.step : 1;
    control.Default = std::clamp(query.default_value, control.Minimum, control.Maximum);
    control.ReadOnly = (query.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED)) != 0;
    control.Inactive = (query.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
    if (control.Kind == V4l2ControlKind::Menu) {
        const auto first = static_cast<uint32_t>(std::max(control.Minimum, 0));
        const auto last =
            std::min(static_cast<uint32_t>(std::max(control.Maximum, 0)), first + kMaxMenuItems);
        for (uint32_t index = first; index <= last; ++index) {
            v4l2_querymenu item{};
            item.id = query.id;
            item.index = index;
            if (port.Call(VIDIOC_QUERYMENU, &item) != 0) continue;
            const std::string name = query.type == V4L2_CTRL_TYPE_INTEGER_MENU
                                         ? std::to_string(item.value)
                                         : fixedString(item.name, sizeof item.name);
            control.Items.push_back({static_cast<int>(index), name});
        }
        // A menu with nothing to choose is no control at all.
        if (control.Items.empty()) return std::nullopt;
    }
    return control;
}

std::string refusalText(const V4l2Control& control, int value, int error)
{
    switch (error) {
    case EBUSY:
        return "The device is busy: \"" + control.Name + "\" cannot be changed now.";
    case EACCES:
    case EPERM:
        return "The device does not let \"" + control.Name + "\" be changed.";
    case EINVAL:
    case ERANGE:
        return "The device refused the value " + std::to_string(value) + " for \"" + control.Name +
               "\".";
    default:
        return "\"" + control.Name + "\" could not be changed: " + std::strerror(error) + ".";
    }
}

std::vector<V4l2FrameRate> ratesOf(V4l2Ioctl& port, uint32_t fourCC, int width, int height)
{
    std::vector<V4l2FrameRate> rates;
    // Frame intervals are seconds per frame; a rate is their inverse.
    auto add = [&rates](const v4l2_fract& interval) {
        if (interval.numerator == 0 || interval.denominator == 0) return;
        rates.push_back(
            {static_cast<int>(interval.denominator), static_cast<int>(interval.numerator)});
    };
    for (uint32_t index = 0; index < kMaxRates; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = fourCC;
        interval.width = static_cast<__u32>(width);
        interval.height = static_cast<__u32>(height);
        if (port.Call(VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) break;
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            add(interval.discrete);
            continue;
        }
        // The fastest rate is the shortest interval.
        add(interval.stepwise.min);
        add(interval.stepwise.max);
        break;
    }
    return rates;
}

std::vector<V4l2FrameSize> sizesOf(V4l2Ioctl& port, uint32_t fourCC)
{
    std::vector<V4l2FrameSize> sizes;
    auto add = [&](uint32_t width, uint32_t height) {
        if (width == 0 || height == 0) return;
        const int w = static_cast<int>(width), h = static_cast<int>(height);
        sizes.push_back({w, h, ratesOf(port, fourCC, w, h)});
    };
    for (uint32_t index = 0; index < kMaxSizes; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = fourCC;
        if (port.Call(VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            add(size.discrete.width, size.discrete.height);
            continue;
        }
        add(size.stepwise.max_width, size.stepwise.max_height);
        if (size.stepwise.min_width != size.stepwise.max_width ||
            size.stepwise.min_height != size.stepwise.max_height)
            add(size.stepwise.min_width, size.stepwise.min_height);
        break;
    }
    return sizes;
}

// The tuner settings' refusals name the setting and the value asked.
std::string tunerRefusal(const std::string& what, const std::string& value, int error)
{
    switch (error) {
    case EBUSY:
        return "The device is busy: the " + what + " cannot be changed now.";
    case EINVAL:
    case ERANGE:
        return "The device refused the " + what + " " + value + ".";
    case ENOTTY:
        return "The device has no " + what + " to set.";
    default:
        return "The " + what + " could not be changed: " + std::strerror(error) + ".";
    }
}

// The size in Hz of one step of the tuner's frequency.
double unitHz(uint32_t capability)
{
    if (capability & V4L2_TUNER_CAP_1HZ) return 1.0;
    if (capability & V4L2_TUNER_CAP_LOW) return 62.5;
    return 62500.0;
}

std::string mhzText(double mhz)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MHz", mhz);
    return text;
}

V4l2PortOpener& portOpener()
{
    static V4l2PortOpener opener;
    return opener;
}

} // namespace

std::unique_ptr<V4l2Ioctl> OpenV4l2Port(const std::string& path)
{
    if (portOpener()) return portOpener()(path);
    return V4l2NodeIoctl::Open(path);
}

void SetV4l2PortOpener(V4l2PortOpener opener)
{
    portOpener() = std::move(opener);
}

std::unique_ptr<V4l2NodeIoctl> V4l2NodeIoctl::Open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<V4l2NodeIoctl>(OpenedNode{fd});
}

V4l2NodeIoctl::V4l2NodeIoctl(OpenedNode node) : fd_(node.fd) {}

V4l2NodeIoctl::~V4l2NodeIoctl()
{
    ::close(fd_);
}

int V4l2NodeIoctl::Call(unsigned long request, void* arg)
{
    int r;
    do {
        r = ::ioctl(fd_, request, arg);
    } while (r == -1 && errno == EINTR);
    return r == -1 ? errno : 0;
}

V4l2Controls::V4l2Controls(V4l2Ioctl& port) : port_(port) {}

std::vector<V4l2Control> V4l2Controls::Controls() const
{
    std::vector<V4l2Control> controls;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    const int first = port_.Call(VIDIOC_QUERYCTRL, &query);
    if (first == 0) {
        uint32_t previous = 0;
        for (int count = 0; count < kMaxControls; ++count) {
            // The walk goes up by id; a driver that goes back would loop.
            if (query.id <= previous && count > 0) break;
            previous = query.id;
            if (auto control = describe(port_, query)) controls.push_back(std::move(*control));
            const uint32_t next = query.id | V4L2_CTRL_FLAG_NEXT_CTRL;
            query = v4l2_queryctrl{};
            query.id = next;
            if (port_.Call(VIDIOC_QUERYCTRL, &query) != 0) break;
        }
        return controls;
    }
    // Older drivers do not walk: ask each user control id, then the private
    // ones until the first that is missing.
    for (uint32_t id = V4L2_CID_BASE; id < V4L2_CID_LASTP1; ++id) {
        query = v4l2_queryctrl{};
        query.id = id;
        if (port_.Call(VIDIOC_QUERYCTRL, &query) != 0) continue;
        if (auto control = describe(port_, query)) controls.push_back(std::move(*control));
    }
    for (uint32_t id = V4L2_CID_PRIVATE_BASE; id < V4L2_CID_PRIVATE_BASE + kMaxControls; ++id) {
        query = v4l2_queryctrl{};
        query.id = id;
        if (port_.Call(VIDIOC_QUERYCTRL, &query) != 0) break;
        if (auto control = describe(port_, query)) controls.push_back(std::move(*control));
    }
    return controls;
}

std::optional<int> V4l2Controls::Value(uint32_t id) const
{
    v4l2_control value{};
    value.id = id;
    if (port_.Call(VIDIOC_G_CTRL, &value) != 0) return std::nullopt;
    return value.value;
}

V4l2Refusal V4l2Controls::SetValue(const V4l2Control& control, int value)
{
    if (control.ReadOnly) return "\"" + control.Name + "\" can only be read.";
    if (control.Kind != V4l2ControlKind::Button &&
        (value < control.Minimum || value > control.Maximum))
        return "The value " + std::to_string(value) + " is outside the range of \"" + control.Name +
               "\" (" + std::to_string(control.Minimum) + " to " + std::to_string(control.Maximum) +
               ").";
    v4l2_control request{};
    request.id = control.Id;
    request.value = value;
    const int error = port_.Call(VIDIOC_S_CTRL, &request);
    if (error != 0) return refusalText(control, value, error);
    return std::nullopt;
}

V4l2Refusal V4l2Controls::ResetToDefaults()
{
    std::vector<V4l2Control> pending;
    for (auto& control : Controls())
        if (!control.ReadOnly && control.Kind != V4l2ControlKind::Button)
            pending.push_back(std::move(control));
    // Putting an automatic mode back to its default can free (or lock) the
    // manual control it governs, whichever comes first: the refused ones get
    // a second try once the others are in place.
    std::vector<std::string> refusals;
    for (int pass = 0; pass < 2 && !pending.empty(); ++pass) {
        std::vector<V4l2Control> refused;
        refusals.clear();
        for (auto& control : pending) {
            if (auto refusal = SetValue(control, control.Default)) {
                refusals.push_back(std::move(*refusal));
                refused.push_back(std::move(control));
            }
        }
        pending = std::move(refused);
    }
    if (refusals.empty()) return std::nullopt;
    std::string text;
    for (const auto& refusal : refusals) {
        if (!text.empty()) text += '\n';
        text += refusal;
    }
    return text;
}

std::vector<V4l2Format> V4l2Controls::Formats() const
{
    std::vector<V4l2Format> formats;
    for (uint32_t index = 0; index < kMaxFormats; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (port_.Call(VIDIOC_ENUM_FMT, &description) != 0) break;
        V4l2Format format;
        format.FourCC = description.pixelformat;
        format.Description = fixedString(description.description, sizeof description.description);
        format.Sizes = sizesOf(port_, format.FourCC);
        formats.push_back(std::move(format));
    }
    return formats;
}

std::optional<V4l2Tuner> V4l2Controls::Tuner() const
{
    v4l2_tuner tuner{};
    tuner.index = 0;
    if (port_.Call(VIDIOC_G_TUNER, &tuner) != 0) return std::nullopt;
    V4l2Tuner result;
    result.Name = fixedString(tuner.name, sizeof tuner.name);
    result.Capability = tuner.capability;
    result.RangeLow = tuner.rangelow;
    result.RangeHigh = std::max(tuner.rangelow, tuner.rangehigh);
    result.AudioMode = tuner.audmode;
    return result;
}

std::vector<V4l2AudioMode> V4l2Controls::AudioModes() const
{
    const auto tuner = Tuner();
    if (!tuner) return {};
    const uint32_t caps = tuner->Capability;
    const bool lang1 = caps & V4L2_TUNER_CAP_LANG1;
    const bool lang2 = caps & (V4L2_TUNER_CAP_LANG2 | V4L2_TUNER_CAP_SAP);
    std::vector<V4l2AudioMode> modes{{V4L2_TUNER_MODE_MONO, "Mono"}};
    if (caps & V4L2_TUNER_CAP_STEREO) modes.push_back({V4L2_TUNER_MODE_STEREO, "Stereo"});
    if (lang1) modes.push_back({V4L2_TUNER_MODE_LANG1, "Language 1"});
    if (lang2) modes.push_back({V4L2_TUNER_MODE_LANG2, "Language 2"});
    if (lang1 && lang2) modes.push_back({V4L2_TUNER_MODE_LANG1_LANG2, "Language 1 and 2"});
    if (modes.size() < 2) return {};
    return modes;
}

V4l2Refusal V4l2Controls::SetAudioMode(uint32_t mode)
{
    std::string name = std::to_string(mode);
    for (const auto& offered : AudioModes())
        if (offered.Mode == mode) name = "\"" + offered.Name + "\"";
    v4l2_tuner tuner{};
    tuner.index = 0;
    if (const int error = port_.Call(VIDIOC_G_TUNER, &tuner))
        return tunerRefusal("sound mode", name, error);
    tuner.audmode = mode;
    if (const int error = port_.Call(VIDIOC_S_TUNER, &tuner))
        return tunerRefusal("sound mode", name, error);
    return std::nullopt;
}

std::vector<V4l2Standard> V4l2Controls::Standards() const
{
    std::vector<V4l2Standard> standards;
    for (uint32_t index = 0; index < kMaxFormats; ++index) {
        v4l2_standard standard{};
        standard.index = index;
        if (port_.Call(VIDIOC_ENUMSTD, &standard) != 0) break;
        // A driver answering the same entry for every index lists it once.
        if (!standards.empty() && standards.back().Id == standard.id) break;
        standards.push_back({standard.id, fixedString(standard.name, sizeof standard.name)});
    }
    return standards;
}

std::optional<uint64_t> V4l2Controls::Standard() const
{
    v4l2_std_id id = 0;
    if (port_.Call(VIDIOC_G_STD, &id) != 0) return std::nullopt;
    return id;
}

V4l2Refusal V4l2Controls::SetStandard(uint64_t id)
{
    std::string name = std::to_string(id);
    for (const auto& offered : Standards())
        if (offered.Id == id) name = offered.Name;
    v4l2_std_id value = id;
    if (const int error = port_.Call(VIDIOC_S_STD, &value))
        return tunerRefusal("video standard", name, error);
    return std::nullopt;
}

std::optional<double> V4l2Controls::FrequencyMHz() const
{
    const auto tuner = Tuner();
    if (!tuner) return std::nullopt;
    v4l2_frequency frequency{};
    frequency.tuner = 0;
    frequency.type = V4L2_TUNER_ANALOG_TV;
    if (port_.Call(VIDIOC_G_FREQUENCY, &frequency) != 0) return std::nullopt;
    return frequency.frequency * unitHz(tuner->Capability) / 1e6;
}

std::optional<std::pair<double, double>> V4l2Controls::FrequencyRangeMHz() const
{
    const auto tuner = Tuner();
    if (!tuner) return std::nullopt;
    const double unit = unitHz(tuner->Capability) / 1e6;
    return std::make_pair(tuner->RangeLow * unit, tuner->RangeHigh * unit);
}

V4l2Refusal V4l2Controls::SetFrequencyMHz(double mhz)
{
    const auto tuner = Tuner();
    if (!tuner) return "The device has no tuner.";
    const double steps = std::round(mhz * 1e6 / unitHz(tuner->Capability));
    if (!(steps >= tuner->RangeLow && steps <= tuner->RangeHigh)) {
        const auto range = FrequencyRangeMHz();
        return "The frequency " + mhzText(mhz) + " is outside the tuner's range (" +
               mhzText(range->first) + " to " + mhzText(range->second) + ").";
    }
    v4l2_frequency frequency{};
    frequency.tuner = 0;
    frequency.type = V4L2_TUNER_ANALOG_TV;
    frequency.frequency = static_cast<uint32_t>(steps);
    if (const int error = port_.Call(VIDIOC_S_FREQUENCY, &frequency))
        return tunerRefusal("frequency", mhzText(mhz), error);
    return std::nullopt;
}

std::string FourCCText(uint32_t fourCC)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((fourCC >> shift) & 0xff);
        text += (c >= 0x20 && c < 0x7f) ? c : '.';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

} // namespace kad
