#pragma once

// The user controls (brightness, contrast, gain, white balance, ...) and the
// capture formats of a V4L2 device. Every call goes through V4l2Ioctl so that
// the whole layer runs over a fake device in tests; the node's own driver is
// reached through V4l2NodeIoctl.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kad {

// The driver entry point: one ioctl on one open device. Returns 0 on success,
// else the driver's errno (EINVAL, EBUSY, ...).
class V4l2Ioctl {
public:
    virtual ~V4l2Ioctl() = default;
    virtual int Call(unsigned long request, void* arg) = 0;
};

// The ioctl port of a device node, opened for as long as the object lives.
class V4l2NodeIoctl final : public V4l2Ioctl {
public:
    // nullptr when the node cannot be opened.
    static std::unique_ptr<V4l2NodeIoctl> Open(const std::string& path);
    ~V4l2NodeIoctl() override;
    V4l2NodeIoctl(const V4l2NodeIoctl&) = delete;
    V4l2NodeIoctl& operator=(const V4l2NodeIoctl&) = delete;
    int Call(unsigned long request, void* arg) override;

    struct OpenedNode {
        int fd;
    };
    explicit V4l2NodeIoctl(OpenedNode node);

private:
    int fd_;
};

enum class V4l2ControlKind { Integer, Boolean, Menu, Button };

struct V4l2MenuItem {
    int Index = 0;
    std::string Name;
};

struct V4l2Control {
    uint32_t Id = 0;
    std::string Name;
    V4l2ControlKind Kind = V4l2ControlKind::Integer;
    int Minimum = 0;
    int Maximum = 0;
    int Step = 1;
    int Default = 0;
    // Only for menus: the entries the driver names; a menu may skip indexes.
    std::vector<V4l2MenuItem> Items;
    bool ReadOnly = false;
    // Another control (an automatic mode) governs it for now.
    bool Inactive = false;
};

struct V4l2FrameRate {
    // Frames per second as a fraction, 30000/1001 for NTSC.
    int Numerator = 0;
    int Denominator = 1;
};

struct V4l2FrameSize {
    int Width = 0;
    int Height = 0;
    std::vector<V4l2FrameRate> Rates;
};

struct V4l2Format {
    uint32_t FourCC = 0;
    std::string Description;
    std::vector<V4l2FrameSize> Sizes;
};

// nullopt when the driver took the change; else the text to show the user.
using V4l2Refusal = std::optional<std::string>;

// The first tuner of a TV card (VIDIOC_G_TUNER).
struct V4l2Tuner {
    std::string Name;
    // The V4L2_TUNER_CAP_* flags: frequency unit, standards, audio modes.
    uint32_t Capability = 0;
    // The frequency range in the tuner's own unit.
    uint32_t RangeLow = 0;
    uint32_t RangeHigh = 0;
    // The V4L2_TUNER_MODE_* sound mode in use.
    uint32_t AudioMode = 0;
};

// A sound mode of the tuner: mono, stereo, first or second language...
struct V4l2AudioMode {
    uint32_t Mode = 0;
    std::string Name;
};

// A video standard the device can take (VIDIOC_ENUMSTD).
struct V4l2Standard {
    uint64_t Id = 0;
    std::string Name;
};

class V4l2Controls {
public:
    explicit V4l2Controls(V4l2Ioctl& port);

    // The integer, boolean, menu and button controls the device offers, in
    // the driver's order; disabled controls and 64-bit or text controls
    // (which G_CTRL cannot reach) are left out.
    std::vector<V4l2Control> Controls() const;
    std::optional<int> Value(uint32_t id) const;
    V4l2Refusal SetValue(const V4l2Control& control, int value);
    // Every writable control back to the driver's default. A refusal of one
    // does not stop the others; the texts of all refusals are returned.
    V4l2Refusal ResetToDefaults();

    // The capture formats, each with its frame sizes and frame rates. A size
    // or rate range is given by its two ends.
    std::vector<V4l2Format> Formats() const;

    // The tuner and what it can be set to; nullopt for a device without one.
    std::optional<V4l2Tuner> Tuner() const;
    // The sound modes the tuner offers; empty when it offers mono only.
    std::vector<V4l2AudioMode> AudioModes() const;
    V4l2Refusal SetAudioMode(uint32_t mode);
    std::vector<V4l2Standard> Standards() const;
    std::optional<uint64_t> Standard() const;
    V4l2Refusal SetStandard(uint64_t id);
    // The tuned frequency in MHz, whatever unit the tuner counts in.
    std::optional<double> FrequencyMHz() const;
    // The tuner's range in MHz (low, high); nullopt without a tuner.
    std::optional<std::pair<double, double>> FrequencyRangeMHz() const;
    V4l2Refusal SetFrequencyMHz(double mhz);

private:
    V4l2Ioctl& port_;
};

// Opens the ioctl port of a device node: the node itself unless a test put
// a device of its own behind the path. nullptr when it cannot be opened.
using V4l2PortOpener = std::function<std::unique_ptr<V4l2Ioctl>(const std::string& path)>;
std::unique_ptr<V4l2Ioctl> OpenV4l2Port(const std::string& path);
// An empty opener gives the nodes back to the driver.
void SetV4l2PortOpener(V4l2PortOpener opener);

// "YUYV" for V4L2_PIX_FMT_YUYV.
std::string FourCCText(uint32_t fourCC);

} // namespace kad
