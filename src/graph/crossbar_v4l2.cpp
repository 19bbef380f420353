#include "graph/crossbar_v4l2.h"

#include <algorithm>
#include <cctype>

namespace kad {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool has(const std::string& text, const char* word)
{
    return text.find(word) != std::string::npos;
}

} // namespace

V4l2Crossbar::V4l2Crossbar(std::unique_ptr<V4l2Device> device)
    : device_(std::move(device)), inputs_(device_ ? device_->Inputs() : std::vector<V4l2Input>{})
{
}

bool V4l2Crossbar::PinCounts(int& outputs, int& inputs)
{
    outputs = 1;
    inputs = static_cast<int>(inputs_.size());
    return true;
}

bool V4l2Crossbar::PinInfo(bool isInput, int index, int& related, long& physicalType)
{
    related = -1;
    if (!isInput) {
        if (index != 0) return false;
        physicalType = PhysConn_Video_VideoDecoder;
        return true;
    }
    if (index < 0 || index >= static_cast<int>(inputs_.size())) return false;
    physicalType = ConnectorTypeOf(inputs_[static_cast<size_t>(index)], device_->BusInfo());
    return true;
}

bool V4l2Crossbar::CanRoute(int output, int input)
{
    return output == 0 && input >= 0 && input < static_cast<int>(inputs_.size());
}

bool V4l2Crossbar::Route(int output, int input)
{
    return CanRoute(output, input) && device_->SetInput(inputs_[static_cast<size_t>(input)].Index);
}

CrossbarUpstream V4l2Crossbar::InputUpstream(int)
{
    return {};
}

std::optional<int> V4l2Crossbar::RoutedInput(int output)
{
    if (output != 0) return std::nullopt;
    const auto current = device_->CurrentInput();
    if (!current) return std::nullopt;
    // Pins are numbered in the order the device listed its inputs.
    for (size_t pin = 0; pin < inputs_.size(); ++pin)
        if (inputs_[pin].Index == *current) return static_cast<int>(pin);
    return std::nullopt;
}

long V4l2Crossbar::ConnectorTypeOf(const V4l2Input& input, const std::string& busInfo)
{
    if (input.IsTuner) return PhysConn_Video_Tuner;
    const std::string name = lower(input.Name);
    if (has(name, "s-video") || has(name, "svideo") || has(name, "s video"))
        return PhysConn_Video_SVideo;
    if (has(name, "composite") || has(name, "cvbs")) return PhysConn_Video_Composite;
    if (has(name, "component") || has(name, "ypbpr")) return PhysConn_Video_YRYBY;
    if (has(name, "scart")) return PhysConn_Video_SCART;
    if (has(name, "sdi")) return PhysConn_Video_SerialDigital;
    if (has(name, "hdmi") || has(name, "dvi")) return PhysConn_Video_ParallelDigital;
    if (has(name, "rgb") || has(name, "vga")) return PhysConn_Video_RGB;
    // A camera's own sensor: named after the bus that brings it.
    const std::string bus = lower(busInfo);
    if (has(bus, "usb")) return PhysConn_Video_USB;
    if (has(bus, "1394") || has(bus, "firewire")) return PhysConn_Video_1394;
    return PhysConn_Video_AUX;
}

CrossbarUpstream V4l2CaptureUpstream(const std::string& devicePath)
{
    auto device = V4l2Device::Open(devicePath);
    if (!device) return {};
    auto crossbar = std::make_shared<V4l2Crossbar>(std::move(device));
    int outputs = 0;
    int inputs = 0;
    crossbar->PinCounts(outputs, inputs);
    if (inputs == 0) return {};
    return CrossbarUpstream::OutputOf(std::move(crossbar), 0);
}

} // namespace kad
