#pragma once

// The video inputs of a V4L2 capture device (VIDIOC_ENUMINPUT,
// VIDIOC_G_INPUT, VIDIOC_S_INPUT) on its device node.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kad {

struct V4l2Input {
    int Index = 0;
    std::string Name;
    bool IsTuner = false;
};

class V4l2Device {
public:
    // Opens the device node; nullptr when it cannot be opened or is not a
    // V4L2 video capture device.
    static std::unique_ptr<V4l2Device> Open(const std::string& path);
    ~V4l2Device();
    V4l2Device(const V4l2Device&) = delete;
    V4l2Device& operator=(const V4l2Device&) = delete;

    const std::string& Path() const { return path_; }
    // The driver's bus information ("usb-0000:00:14.0-1", "PCI:..."), may be empty.
    const std::string& BusInfo() const { return busInfo_; }
    std::vector<V4l2Input> Inputs() const;
    std::optional<int> CurrentInput() const;
    // Selects an input. Fails when the driver refuses (an input it does not
    // have, or one it cannot switch to while streaming).
    bool SetInput(int index);

    // Only Open makes one.
    struct OpenedNode {
        int fd;
    };
    V4l2Device(OpenedNode node, std::string path, std::string busInfo);

private:
    int fd_;
    std::string path_;
    std::string busInfo_;
};

} // namespace kad
