#pragma once

// A V4L2 device's video inputs presented as one crossbar: one input pin per
// device input, one output pin towards the capture. Routing an input selects
// it on the device (VIDIOC_S_INPUT).

#include "graph/crossbar.h"
#include "platform/media/v4l2_device.h"

#include <memory>
#include <string>

namespace kad {

class V4l2Crossbar : public ICrossbar {
public:
    explicit V4l2Crossbar(std::unique_ptr<V4l2Device> device);

    bool PinCounts(int& outputs, int& inputs) override;
    bool PinInfo(bool isInput, int index, int& related, long& physicalType) override;
    bool CanRoute(int output, int input) override;
    bool Route(int output, int input) override;
    CrossbarUpstream InputUpstream(int input) override;
    std::optional<int> RoutedInput(int output) override;

    // The physical type of a V4L2 input, from its kind and name.
    static long ConnectorTypeOf(const V4l2Input& input, const std::string& busInfo);

private:
    std::unique_ptr<V4l2Device> device_;
    std::vector<V4l2Input> inputs_;
};

// What the capture of the V4L2 device at devicePath sees upstream: the
// device's crossbar, or nothing when the node cannot be opened or has no
// input to choose.
CrossbarUpstream V4l2CaptureUpstream(const std::string& devicePath);

} // namespace kad
