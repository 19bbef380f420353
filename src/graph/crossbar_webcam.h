#pragma once

// The virtual webcam's inputs presented as one crossbar. The webcam element
// selects its input with the integer property "input" and names the
// physical type of each in "input-types" ("video-tuner", "composite",
// "svideo"); without that list its inputs are tuner, composite, S-Video.

#include "graph/crossbar.h"
#include "platform/media/gst_ptr.h"

#include <vector>

namespace kad {

class WebcamCrossbar : public ICrossbar {
public:
    // webcam must have a writable integer "input" property (Handles).
    explicit WebcamCrossbar(GstElement* webcam);

    bool PinCounts(int& outputs, int& inputs) override;
    bool PinInfo(bool isInput, int index, int& related, long& physicalType) override;
    bool CanRoute(int output, int input) override;
    bool Route(int output, int input) override;
    CrossbarUpstream InputUpstream(int input) override;
    std::optional<int> RoutedInput(int output) override;

    // Whether element selects its input the webcam's way.
    static bool Handles(GstElement* element);

private:
    ElementRef webcam_;
    std::vector<long> types_;
};

} // namespace kad
