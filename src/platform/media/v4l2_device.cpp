#include "platform/media/v4l2_device.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kad {

namespace {

int xioctl(int fd, unsigned long request, void* arg)
{
    int r;
    do {
        r = ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

std::string fixedString(const __u8* text, size_t size)
{
    const auto* chars = reinterpret_cast<const char*>(text);
    return std::string(chars, strnlen(chars, size));
}

} // namespace

std::unique_ptr<V4l2Device> V4l2Device::Open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    v4l2_capability caps{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &caps) < 0) {
        ::close(fd);
        return nullptr;
    }
    const __u32 capabilities =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    if (!(capabilities & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE))) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<V4l2Device>(OpenedNode{fd}, path,
                                        fixedString(caps.bus_info, sizeof caps.bus_info));
}

V4l2Device::V4l2Device(OpenedNode node, std::string path, std::string busInfo)
    : fd_(node.fd), path_(std::move(path)), busInfo_(std::move(busInfo))
{
}

V4l2Device::~V4l2Device()
{
    ::close(fd_);
}

std::vector<V4l2Input> V4l2Device::Inputs() const
{
    std::vector<V4l2Input> inputs;
    for (__u32 index = 0;; ++index) {
        v4l2_input input{};
        input.index = index;
        if (xioctl(fd_, VIDIOC_ENUMINPUT, &input) < 0) break;
        V4l2Input found;
        found.Index = static_cast<int>(index);
        found.Name = fixedString(input.name, sizeof input.name);
        found.IsTuner = input.type == V4L2_INPUT_TYPE_TUNER;
        inputs.push_back(std::move(found));
    }
    return inputs;
}

std::optional<int> V4l2Device::CurrentInput() const
{
    int index = 0;
    if (xioctl(fd_, VIDIOC_G_INPUT, &index) < 0) return std::nullopt;
    return index;
}

bool V4l2Device::SetInput(int index)
{
    return xioctl(fd_, VIDIOC_S_INPUT, &index) == 0;
}

} // namespace kad
