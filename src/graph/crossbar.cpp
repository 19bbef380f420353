#include "graph/crossbar.h"

#include <utility>

namespace kad {

namespace {

// Deeper than any real card goes; stops a chain that loops back on itself.
constexpr int kMaxDepth = 16;

bool isAudio(long type)
{
    return type >= PhysConn_Audio_Tuner;
}

} // namespace

TCrossbar::TCrossbar(const CrossbarUpstream& analogVideoIn)
{
    std::vector<RouteStep> chain;
    CollectRoutes(analogVideoIn, chain, 0);
}

TCrossbar::Walk TCrossbar::CollectRoutes(const CrossbarUpstream& upstream,
                                         std::vector<RouteStep>& chain, int depth)
{
    switch (upstream.kind) {
    case CrossbarUpstream::Kind::NotConnected:
    case CrossbarUpstream::Kind::NotACrossbar:
        return depth == 0 ? Walk::Fail : Walk::Terminal;
    case CrossbarUpstream::Kind::NotAnOutput:
        return Walk::Ok;
    case CrossbarUpstream::Kind::CrossbarOutput:
        break;
    }
    ICrossbar* crossbar = upstream.Crossbar.get();
    if (!crossbar) return depth == 0 ? Walk::Fail : Walk::Terminal;
    if (depth >= kMaxDepth) return Walk::Fail;

    int outputs = 0;
    int inputs = 0;
    int outputRelated = -1;
    long outputType = 0;
    if (!crossbar->PinCounts(outputs, inputs) || upstream.Output < 0 ||
        upstream.Output >= outputs ||
        !crossbar->PinInfo(false, upstream.Output, outputRelated, outputType))
        return Walk::Fail;

    for (int input = 0; input < inputs; ++input) {
        int inputRelated = -1;
        long inputType = 0;
        if (!crossbar->PinInfo(true, input, inputRelated, inputType)) continue;
        if (isAudio(inputType) || !crossbar->CanRoute(upstream.Output, input)) continue;

        RouteStep step;
        step.Crossbar = upstream.Crossbar;
        step.VideoIn = input;
        step.VideoOut = upstream.Output;
        step.AudioIn = inputRelated;
        step.AudioOut = outputRelated;
        step.InputConnector = inputType;
        step.OutputConnector = outputType;
        step.Level = depth;
        chain.push_back(std::move(step));
        if (CollectRoutes(crossbar->InputUpstream(input), chain, depth + 1) == Walk::Terminal)
            StoreRoute(chain);
        chain.pop_back();
    }
    return Walk::Ok;
}

void TCrossbar::StoreRoute(const std::vector<RouteStep>& chain)
{
    // The chain was gathered from the capture upstream; a route reads from
    // the physical input down.
    Routes_.emplace_back(chain.rbegin(), chain.rend());
}

std::optional<long> TCrossbar::RouteInputType(int index) const
{
    if (index < 0 || index >= RouteCount()) return std::nullopt;
    return Routes_[static_cast<size_t>(index)].front().InputConnector;
}

std::optional<QString> TCrossbar::RouteInputName(int index) const
{
    const auto type = RouteInputType(index);
    if (!type) return std::nullopt;
    return ConnectorName(*type);
}

bool TCrossbar::ApplyRoute(int index)
{
    if (index < 0 || index >= RouteCount()) return false;
    bool result = false;
    for (const RouteStep& step : Routes_[static_cast<size_t>(index)]) {
        result = step.Crossbar->Route(step.VideoOut, step.VideoIn);
        if (result && step.AudioOut != -1 && step.AudioIn != -1)
            result = step.Crossbar->Route(step.AudioOut, step.AudioIn);
    }
    CurrentRoute_ = index;
    Routed_ = Routed_ || result;
    return result;
}

std::optional<int> TCrossbar::RouteInUse() const
{
    for (int i = 0; i < RouteCount(); ++i) {
        bool inUse = true;
        for (const RouteStep& step : Routes_[static_cast<size_t>(i)]) {
            const auto routed = step.Crossbar->RoutedInput(step.VideoOut);
            if (!routed) return std::nullopt;
            inUse = inUse && *routed == step.VideoIn;
        }
        if (inUse) return i;
    }
    return std::nullopt;
}

std::optional<int> TCrossbar::PreferredRoute() const
{
    if (Routes_.empty()) return std::nullopt;
    for (int i = 0; i < RouteCount(); ++i) {
        if (RouteInputType(i) == PhysConn_Video_Tuner) return i;
    }
    return 0;
}

QString TCrossbar::ConnectorName(long type)
{
    switch (type) {
    case PhysConn_Video_Tuner:
        return QStringLiteral("Video Tuner");
    case PhysConn_Video_Composite:
        return QStringLiteral("Video Composite");
    case PhysConn_Video_SVideo:
        return QStringLiteral("Video SVideo");
    case PhysConn_Video_RGB:
        return QStringLiteral("Video RGB");
    case PhysConn_Video_YRYBY:
        return QStringLiteral("Video YRYBY");
    case PhysConn_Video_SerialDigital:
        return QStringLiteral("Video SerialDigital");
    case PhysConn_Video_ParallelDigital:
        return QStringLiteral("Video ParallelDigital");
    case PhysConn_Video_SCSI:
        return QStringLiteral("Video SCSI");
    case PhysConn_Video_AUX:
        return QStringLiteral("Video AUX");
    case PhysConn_Video_1394:
        return QStringLiteral("Video 1394");
    case PhysConn_Video_USB:
        return QStringLiteral("Video USB");
    case PhysConn_Video_VideoDecoder:
        return QStringLiteral("Video Decoder");
    case PhysConn_Video_VideoEncoder:
        return QStringLiteral("Video Encoder");
    case PhysConn_Video_SCART:
        return QStringLiteral("Video Scart");
    case PhysConn_Audio_Tuner:
        return QStringLiteral("Audio Tuner");
    case PhysConn_Audio_Line:
        return QStringLiteral("Audio Line");
    case PhysConn_Audio_Mic:
        return QStringLiteral("Audio Mic");
    case PhysConn_Audio_AESDigital:
        return QStringLiteral("Audio AESDigital");
    case PhysConn_Audio_SPDIFDigital:
        return QStringLiteral("Audio SPDIFDigital");
    case PhysConn_Audio_SCSI:
        return QStringLiteral("Audio SCSI");
    case PhysConn_Audio_AUX:
        return QStringLiteral("Audio AUX");
    case PhysConn_Audio_1394:
        return QStringLiteral("Audio 1394");
    case PhysConn_Audio_USB:
        return QStringLiteral("Audio USB");
    case PhysConn_Audio_AudioDecoder:
        return QStringLiteral("Audio Decoder");
    default:
        return QStringLiteral("Unknown");
    }
}

} // namespace kad
