#pragma once

// The settings the connected sources offer, whatever kind of device they
// are: a V4L2 camera's user controls, capture formats and tuner, the
// properties through which a virtual device offers the same, and a sound
// source's volume, mute and format.

#include "platform/media/gst_ptr.h"
#include "platform/media/v4l2_controls.h"

#include <gst/gst.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kad {

class DeviceControls {
public:
    virtual ~DeviceControls() = default;
    virtual std::vector<V4l2Control> Controls() = 0;
    virtual std::optional<int> Value(uint32_t id) = 0;
    virtual V4l2Refusal SetValue(const V4l2Control& control, int value) = 0;
    virtual V4l2Refusal ResetToDefaults() = 0;
};

// The controls of source (a v4l2src, a bin holding one, or a virtual
// device); nullptr when it offers none.
std::unique_ptr<DeviceControls> DeviceControlsOf(GstElement* source);

// The ioctl port of source's V4L2 node (a v4l2src or a bin holding one);
// nullptr for any other source or a node that cannot be opened.
std::unique_ptr<V4l2Ioctl> V4l2PortOf(GstElement* source);

// One format a source can be asked to deliver.
struct FormatChoice {
    std::string Label; // "YUY2 640 x 480, 30 fps", "48000 Hz, 2 channels"
    CapsRef Caps;      // fixed
};

// The capture formats of a video source: a V4L2 node's own list
// (VIDIOC_ENUM_FMT and its sizes and intervals) or else what its output
// pad's caps allow; ranges are offered by their two ends.
std::vector<FormatChoice> VideoFormatsOf(GstElement* source);
// The sample rates and channel counts a sound source offers.
std::vector<FormatChoice> AudioFormatsOf(GstElement* source);
// Whether source has a video output besides its capture output.
bool HasSeparatePreviewOutput(GstElement* source);

// Makes every output pad of source offer only what caps allows, for as long
// as the element lives; null caps lift it. The source negotiates again at
// its next start, so this is for a stopped graph.
void RestrictSourceFormat(GstElement* source, GstCaps* caps);
// The restriction in force, null when none.
CapsRef SourceFormatRestriction(GstElement* source);

// What the user set on a sound source, for the elements made later for the
// same device (each preview build makes a new one).
struct SoundSettings {
    std::optional<int> VolumePercent;
    std::optional<bool> Mute;
    CapsRef Format;
};
// The volume (0 to 100 %) and mute of a sound source, through its stream
// volume or its own "volume" and "mute" properties; nullptr when it has
// neither. What is set is also written to memory when given.
std::unique_ptr<DeviceControls> AudioControlsOf(GstElement* source,
                                                std::shared_ptr<SoundSettings> memory = {});
void ApplySoundSettings(GstElement* source, const SoundSettings& settings);

} // namespace kad
