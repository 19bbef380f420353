#include <gtest/gtest.h>

#include <QStringList>

#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "graph/crossbar.h"
#include "graph/crossbar_v4l2.h"

using namespace kad;

namespace {

// A crossbar of the test's making. Every routing call is recorded in the
// shared journal as (crossbar id, output, input).
using Journal = std::vector<std::tuple<int, int, int>>;

class FakeCrossbar : public ICrossbar {
public:
    struct Pin {
        long type;
        int related = -1;
    };
    FakeCrossbar(int id, Journal& journal, std::vector<Pin> inputs, std::vector<Pin> outputs)
        : id_(id), journal_(journal), inputs_(std::move(inputs)), outputs_(std::move(outputs))
    {
    }

    bool PinCounts(int& outputs, int& inputs) override
    {
        outputs = static_cast<int>(outputs_.size());
        inputs = static_cast<int>(inputs_.size());
        return true;
    }
    bool PinInfo(bool isInput, int index, int& related, long& type) override
    {
        const auto& pins = isInput ? inputs_ : outputs_;
        if (index < 0 || index >= static_cast<int>(pins.size())) return false;
        related = pins[static_cast<size_t>(index)].related;
        type = pins[static_cast<size_t>(index)].type;
        return true;
    }
    bool CanRoute(int output, int input) override { return !refused.count({output, input}); }
    bool Route(int output, int input) override
    {
        journal_.emplace_back(id_, output, input);
        if (failing.count({output, input})) return false;
        routed[output] = input;
        return true;
    }
    // What each output is routed to, as a device that answers
    // VIDIOC_G_INPUT tells it; `tells` off makes one that cannot say.
    std::optional<int> RoutedInput(int output) override
    {
        const auto it = routed.find(output);
        if (!tells || it == routed.end()) return std::nullopt;
        return it->second;
    }
    CrossbarUpstream InputUpstream(int input) override
    {
        auto it = upstream.find(input);
        return it == upstream.end() ? CrossbarUpstream{} : it->second;
    }

    std::set<std::pair<int, int>> refused;
    std::set<std::pair<int, int>> failing;
    std::map<int, CrossbarUpstream> upstream;
    std::map<int, int> routed;
    bool tells = true;

private:
    int id_;
    Journal& journal_;
    std::vector<Pin> inputs_;
    std::vector<Pin> outputs_;
};

std::shared_ptr<FakeCrossbar> cardCrossbar(int id, Journal& journal)
{
    // Inputs: tuner (with tuner audio at 3), composite (line audio at 4),
    // S-Video, then the audio inputs. Outputs: video decoder (its audio
    // output is 1), audio decoder.
    return std::make_shared<FakeCrossbar>(
        id, journal,
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_Tuner, 3},
                                       {PhysConn_Video_Composite, 4},
                                       {PhysConn_Video_SVideo},
                                       {PhysConn_Audio_Tuner, 0},
                                       {PhysConn_Audio_Line, 1}},
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder, 1},
                                       {PhysConn_Audio_AudioDecoder, 0}});
}

// The names of every route's input, in the routes' order.
QStringList routeNames(const TCrossbar& crossbar)
{
    QStringList names;
    for (int i = 0; i < crossbar.RouteCount(); ++i)
        names << crossbar.RouteInputName(i).value_or(QString());
    return names;
}

} // namespace

TEST(CrossbarWalk, OneCrossbarGivesOneRoutePerVideoInputInItsOrder)
{
    Journal journal;
    auto card = cardCrossbar(1, journal);
    TCrossbar crossbar(CrossbarUpstream::OutputOf(card, 0));

    EXPECT_EQ(routeNames(crossbar),
              QStringList({"Video Tuner", "Video Composite", "Video SVideo"}));
    EXPECT_EQ(crossbar.RouteInputType(1), PhysConn_Video_Composite);
    EXPECT_EQ(crossbar.RouteInputType(3), std::nullopt);
    EXPECT_EQ(crossbar.RouteInputName(-1), std::nullopt);
    EXPECT_EQ(crossbar.PreferredRoute(), 0);
    for (const Route& route : crossbar.Routes()) {
        ASSERT_EQ(route.size(), 1u);
        EXPECT_EQ(route[0].Level, 0);
        EXPECT_EQ(route[0].OutputConnector, PhysConn_Video_VideoDecoder);
    }

    // Video, then the audio that goes with it; S-Video has no audio of its own.
    EXPECT_TRUE(crossbar.ApplyRoute(0));
    EXPECT_TRUE(crossbar.ApplyRoute(2));
    EXPECT_EQ(journal, (Journal{{1, 0, 0}, {1, 1, 3}, {1, 0, 2}}));
    EXPECT_EQ(crossbar.CurrentRoute(), 2);
    EXPECT_FALSE(crossbar.ApplyRoute(3));
    EXPECT_EQ(crossbar.CurrentRoute(), 2);
}

TEST(CrossbarWalk, TwoChainedCrossbarsAreNamedByTheUpstreamInputAndRoutedTogether)
{
    Journal journal;
    // Upstream: the card's crossbar. Downstream: a two-input selector whose
    // input 0 comes from the card's output 0 and input 1 is a USB camera.
    auto upstream = cardCrossbar(1, journal);
    auto selector = std::make_shared<FakeCrossbar>(
        2, journal,
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}, {PhysConn_Video_USB}},
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}});
    selector->upstream[0] = CrossbarUpstream::OutputOf(upstream, 0);
    TCrossbar crossbar(CrossbarUpstream::OutputOf(selector, 0));

    ASSERT_EQ(routeNames(crossbar),
              QStringList({"Video Tuner", "Video Composite", "Video SVideo", "Video USB"}));
    const Route& chained = crossbar.Routes()[1];
    ASSERT_EQ(chained.size(), 2u);
    EXPECT_EQ(chained[0].Level, 1);
    EXPECT_EQ(chained[0].Crossbar, upstream);
    EXPECT_EQ(chained[1].Level, 0);
    EXPECT_EQ(chained[1].Crossbar, selector);
    EXPECT_EQ(crossbar.Routes()[3].size(), 1u);

    EXPECT_TRUE(crossbar.ApplyRoute(1));
    EXPECT_EQ(journal, (Journal{{1, 0, 1}, {1, 1, 4}, {2, 0, 0}}));
}

TEST(CrossbarWalk, UnknownTypesAudioInputsAndRefusedRoutesAreHandled)
{
    Journal journal;
    auto card = std::make_shared<FakeCrossbar>(
        1, journal,
        std::vector<FakeCrossbar::Pin>{{PhysConn_Audio_Line},
                                       {PhysConn_Video_Black},
                                       {PhysConn_Video_Composite},
                                       {PhysConn_Video_SVideo}},
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}});
    card->refused.insert({0, 2});
    TCrossbar crossbar(CrossbarUpstream::OutputOf(card, 0));

    EXPECT_EQ(routeNames(crossbar), QStringList({"Unknown", "Video SVideo"}));
    // No tuner: the first route is the one to check.
    EXPECT_EQ(crossbar.PreferredRoute(), 0);
    // Each range of types ends where it should: the last entries are named,
    // the types either side of a range are unknown, not read out of it.
    EXPECT_EQ(TCrossbar::ConnectorName(14), QString("Video Scart"));
    EXPECT_EQ(TCrossbar::ConnectorName(4105), QString("Audio Decoder"));
    for (long type : {0L, 15L, 4095L, 4106L, 99999L})
        EXPECT_EQ(TCrossbar::ConnectorName(type), QString("Unknown")) << type;
}

TEST(CrossbarWalk, AFailingVideoRouteSkipsItsAudioAndTheLastCallDecides)
{
    Journal journal;
    auto upstream = cardCrossbar(1, journal);
    auto selector = std::make_shared<FakeCrossbar>(
        2, journal, std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}},
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}});
    selector->upstream[0] = CrossbarUpstream::OutputOf(upstream, 0);
    TCrossbar crossbar(CrossbarUpstream::OutputOf(selector, 0));
    ASSERT_EQ(crossbar.RouteCount(), 3);

    upstream->failing.insert({0, 0});
    EXPECT_TRUE(crossbar.ApplyRoute(0));
    EXPECT_EQ(journal, (Journal{{1, 0, 0}, {2, 0, 0}}));

    journal.clear();
    selector->failing.insert({0, 0});
    EXPECT_FALSE(crossbar.ApplyRoute(1));
    EXPECT_EQ(journal, (Journal{{1, 0, 1}, {1, 1, 4}, {2, 0, 0}}));
}

TEST(CrossbarWalk, NoCrossbarUpstreamMeansNoRoutes)
{
    EXPECT_EQ(TCrossbar().RouteCount(), 0);
    EXPECT_EQ(TCrossbar({CrossbarUpstream::Kind::NotACrossbar, nullptr, -1}).RouteCount(), 0);
    EXPECT_EQ(TCrossbar({CrossbarUpstream::Kind::NotAnOutput, nullptr, -1}).RouteCount(), 0);
    TCrossbar none;
    EXPECT_FALSE(none.ApplyRoute(0));
    EXPECT_EQ(none.PreferredRoute(), std::nullopt);
    EXPECT_EQ(none.RouteInputType(0), std::nullopt);

    // A chain that ends in something that is not a crossbar ends its route
    // there; a pin that is not an output adds nothing.
    Journal journal;
    auto card = cardCrossbar(1, journal);
    card->upstream[0] = {CrossbarUpstream::Kind::NotACrossbar, nullptr, -1};
    card->upstream[1] = {CrossbarUpstream::Kind::NotAnOutput, nullptr, -1};
    TCrossbar crossbar(CrossbarUpstream::OutputOf(card, 0));
    EXPECT_EQ(routeNames(crossbar), QStringList({"Video Tuner", "Video SVideo"}));
}

TEST(CrossbarWalk, ALoopInTheChainEndsTheWalkInsteadOfRecursingForever)
{
    Journal journal;
    auto a = std::make_shared<FakeCrossbar>(
        1, journal, std::vector<FakeCrossbar::Pin>{{PhysConn_Video_Composite}},
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}});
    a->upstream[0] = CrossbarUpstream::OutputOf(a, 0);
    TCrossbar crossbar(CrossbarUpstream::OutputOf(a, 0));
    EXPECT_EQ(crossbar.RouteCount(), 0);
}

// Which route a device is on now, as the settings menu checks it.
TEST(CrossbarInUse, TheRouteInUseIsTheDevicesAndOnlyASuccessCountsAsRouted)
{
    Journal journal;
    auto card = std::make_shared<FakeCrossbar>(
        1, journal,
        std::vector<FakeCrossbar::Pin>{
            {PhysConn_Video_Tuner}, {PhysConn_Video_Composite}, {PhysConn_Video_SVideo}},
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}});
    card->routed[0] = 2;
    TCrossbar crossbar(CrossbarUpstream::OutputOf(card, 0));
    ASSERT_EQ(crossbar.RouteCount(), 3);

    // The device sits on S-Video: that is what is in use, not the tuner
    // the menu would prefer.
    EXPECT_EQ(crossbar.RouteInUse(), 2);
    EXPECT_EQ(crossbar.PreferredRoute(), 0);
    EXPECT_FALSE(crossbar.Routed());

    card->failing.insert({0, 1});
    EXPECT_FALSE(crossbar.ApplyRoute(1));
    EXPECT_FALSE(crossbar.Routed());
    EXPECT_EQ(crossbar.RouteInUse(), 2);

    card->failing.clear();
    EXPECT_TRUE(crossbar.ApplyRoute(1));
    EXPECT_TRUE(crossbar.Routed());
    EXPECT_EQ(crossbar.RouteInUse(), 1);

    card->tells = false;
    EXPECT_EQ(crossbar.RouteInUse(), std::nullopt);
    EXPECT_EQ(crossbar.CurrentRoute(), 1);
}

TEST(CrossbarInUse, AChainIsInUseOnlyWhenEveryCrossbarIsRoutedItsWay)
{
    Journal journal;
    auto card = std::make_shared<FakeCrossbar>(
        1, journal,
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_Tuner}, {PhysConn_Video_Composite}},
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}});
    auto selector = std::make_shared<FakeCrossbar>(
        2, journal,
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}, {PhysConn_Video_USB}},
        std::vector<FakeCrossbar::Pin>{{PhysConn_Video_VideoDecoder}});
    card->routed[0] = 1;
    selector->routed[0] = 1;
    selector->upstream[0] = CrossbarUpstream::OutputOf(card, 0);
    TCrossbar crossbar(CrossbarUpstream::OutputOf(selector, 0));
    ASSERT_EQ(crossbar.RouteCount(), 3);
    ASSERT_EQ(crossbar.RouteInputType(2), PhysConn_Video_USB);

    // The selector takes the USB camera: the card's own routing is moot.
    EXPECT_EQ(crossbar.RouteInUse(), 2);
    ASSERT_TRUE(crossbar.ApplyRoute(1));
    EXPECT_EQ(crossbar.RouteInUse(), 1);
    ASSERT_TRUE(crossbar.ApplyRoute(0));
    EXPECT_EQ(crossbar.RouteInUse(), 0);

    // One link of the chain that cannot say makes the whole answer unknown.
    card->tells = false;
    EXPECT_EQ(crossbar.RouteInUse(), std::nullopt);
}

TEST(CrossbarV4l2, InputsAreTypedByKindNameAndBus)
{
    auto type = [](bool tuner, const char* name, const char* bus) {
        V4l2Input input;
        input.IsTuner = tuner;
        input.Name = name;
        return V4l2Crossbar::ConnectorTypeOf(input, bus);
    };
    EXPECT_EQ(type(true, "Television", "PCI:0000:03:00.0"), PhysConn_Video_Tuner);
    EXPECT_EQ(type(false, "Composite1", "PCI:0000:03:00.0"), PhysConn_Video_Composite);
    EXPECT_EQ(type(false, "S-Video", "PCI:0000:03:00.0"), PhysConn_Video_SVideo);
    EXPECT_EQ(type(false, "Camera 1", "usb-0000:00:14.0-1"), PhysConn_Video_USB);
    EXPECT_EQ(type(false, "Camera 1", "platform:vivid-000"), PhysConn_Video_AUX);
    EXPECT_EQ(type(false, "HDMI 0", "platform:vivid-000"), PhysConn_Video_ParallelDigital);

    // A node that is not a capture device offers no crossbar.
    EXPECT_EQ(V4l2CaptureUpstream("/dev/null").kind, CrossbarUpstream::Kind::NotConnected);
    EXPECT_EQ(V4l2CaptureUpstream("/nonexistent/video0").kind,
              CrossbarUpstream::Kind::NotConnected);
}
