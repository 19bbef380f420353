#pragma once

// The picture controls of the connected video source, whatever kind of
// device it is: a V4L2 camera's user controls, or the properties through
// which a virtual device offers the same controls.

#include "platform/media/v4l2_controls.h"

#include <gst/gst.h>

#include <memory>
#include <optional>
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

} // namespace kad
