#pragma once

// Choosing the physical input of an analog source (tuner, composite,
// S-Video...). A source may put one or more crossbars in front of its
// capture: TCrossbar walks upstream from the capture's analog video input
// through every chain of crossbars, records each complete route from a
// physical video input, names it by the type of that input, and applies a
// chosen route by routing every crossbar of the chain, the related audio with
// the video.
//
// The walk is written against ICrossbar so that any device can present its
// inputs as crossbars: V4L2 devices (crossbar_v4l2) and the virtual webcam
// (crossbar_webcam) do.

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace kad {

// Physical connector types, numbered as the route names below know them.
enum PhysicalConnectorType : long {
    PhysConn_Video_Tuner = 1,
    PhysConn_Video_Composite = 2,
    PhysConn_Video_SVideo = 3,
    PhysConn_Video_RGB = 4,
    PhysConn_Video_YRYBY = 5,
    PhysConn_Video_SerialDigital = 6,
    PhysConn_Video_ParallelDigital = 7,
    PhysConn_Video_SCSI = 8,
    PhysConn_Video_AUX = 9,
    PhysConn_Video_1394 = 10,
    PhysConn_Video_USB = 11,
    PhysConn_Video_VideoDecoder = 12,
    PhysConn_Video_VideoEncoder = 13,
    PhysConn_Video_SCART = 14,
    PhysConn_Video_Black = 15,
    PhysConn_Audio_Tuner = 0x1000,
    PhysConn_Audio_Line = 0x1001,
    PhysConn_Audio_Mic = 0x1002,
    PhysConn_Audio_AESDigital = 0x1003,
    PhysConn_Audio_SPDIFDigital = 0x1004,
    PhysConn_Audio_SCSI = 0x1005,
    PhysConn_Audio_AUX = 0x1006,
    PhysConn_Audio_1394 = 0x1007,
    PhysConn_Audio_USB = 0x1008,
    PhysConn_Audio_AudioDecoder = 0x1009,
};

class ICrossbar;

// What a pin is connected to, looking upstream: nothing (the pin is where a
// physical input ends), a pin that is not an output, a filter that is not a
// crossbar, or output `Output` of a crossbar.
struct CrossbarUpstream {
    enum class Kind { NotConnected, NotAnOutput, NotACrossbar, CrossbarOutput };
    Kind kind = Kind::NotConnected;
    std::shared_ptr<ICrossbar> Crossbar;
    int Output = -1;

    static CrossbarUpstream OutputOf(std::shared_ptr<ICrossbar> crossbar, int output)
    {
        return {Kind::CrossbarOutput, std::move(crossbar), output};
    }
};

// One crossbar. Pins are numbered separately for inputs and outputs, from 0.
class ICrossbar {
public:
    virtual ~ICrossbar() = default;
    virtual bool PinCounts(int& outputs, int& inputs) = 0;
    // The related pin (the audio that goes with a video pin, -1 when none) and
    // the physical connector type of a pin.
    virtual bool PinInfo(bool isInput, int index, int& related, long& physicalType) = 0;
    virtual bool CanRoute(int output, int input) = 0;
    virtual bool Route(int output, int input) = 0;
    // What input pin `input` is connected to upstream.
    virtual CrossbarUpstream InputUpstream(int input) = 0;
    // The input routed to `output` now, when the crossbar can tell.
    virtual std::optional<int> RoutedInput(int output)
    {
        (void)output;
        return std::nullopt;
    }
};

// One crossbar of a route.
struct RouteStep {
    int VideoIn = 0;
    int VideoOut = 0;
    int AudioIn = -1;
    int AudioOut = -1;
    std::shared_ptr<ICrossbar> Crossbar;
    long InputConnector = 0;
    long OutputConnector = 0;
    // 0 for the crossbar next to the capture, +1 for each step upstream.
    int Level = 0;
};

// A route from the upstream-most crossbar (element 0, where the physical
// input is) down to the one next to the capture; element j's upstream
// neighbour is element j - 1.
using Route = std::vector<RouteStep>;

class TCrossbar {
public:
    // analogVideoIn: what the capture's analog video input is connected to.
    // A default (not connected) value leaves Routes empty.
    explicit TCrossbar(const CrossbarUpstream& analogVideoIn = {});

    const std::vector<Route>& Routes() const { return Routes_; }
    int RouteCount() const { return static_cast<int>(Routes_.size()); }
    // The physical type of route index's first input; nullopt beyond the last.
    std::optional<long> RouteInputType(int index) const;
    std::optional<QString> RouteInputName(int index) const;
    // Routes every crossbar of route index (video, then its related audio
    // when that video call succeeded). The result is that of the last routing
    // call; false when there is no such route.
    bool ApplyRoute(int index);
    int CurrentRoute() const { return CurrentRoute_; }
    // Whether ApplyRoute has routed this crossbar at least once.
    bool Routed() const { return Routed_; }
    // The route every crossbar of which is routed its way now; nullopt when
    // none is or a crossbar cannot tell.
    std::optional<int> RouteInUse() const;
    // The route a settings menu checks first: the first tuner route, else
    // the first route; nullopt when there is none.
    std::optional<int> PreferredRoute() const;

    static QString ConnectorName(long type);

private:
    enum class Walk { Ok, Terminal, Fail };
    Walk CollectRoutes(const CrossbarUpstream& upstream, std::vector<RouteStep>& chain, int depth);
    void StoreRoute(const std::vector<RouteStep>& chain);

    std::vector<Route> Routes_;
    int CurrentRoute_ = 0;
    bool Routed_ = false;
};

} // namespace kad
