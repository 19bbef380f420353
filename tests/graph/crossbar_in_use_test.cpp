// Which route a device is on now, as the settings menu checks it.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "graph/crossbar.h"

using namespace kad;

namespace {

// A crossbar that remembers what each output is routed to, like a device
// that answers VIDIOC_G_INPUT; `tells` off makes it one that cannot say.
class StatefulCrossbar : public ICrossbar {
public:
    StatefulCrossbar(std::vector<long> inputs, std::map<int, int> routed)
        : inputs_(std::move(inputs)), routed_(std::move(routed))
    {
    }
    bool PinCounts(int& outputs, int& inputs) override
    {
        outputs = 1;
        inputs = static_cast<int>(inputs_.size());
        return true;
    }
    bool PinInfo(bool isInput, int index, int& related, long& type) override
    {
        related = -1;
        if (!isInput) {
            type = PhysConn_Video_VideoDecoder;
            return index == 0;
        }
        if (index < 0 || index >= static_cast<int>(inputs_.size())) return false;
        type = inputs_[static_cast<size_t>(index)];
        return true;
    }
    bool CanRoute(int output, int input) override
    {
        return output == 0 && input >= 0 && input < static_cast<int>(inputs_.size());
    }
    bool Route(int output, int input) override
    {
        if (refuses) return false;
        routed_[output] = input;
        return true;
    }
    CrossbarUpstream InputUpstream(int input) override
    {
        auto it = upstream.find(input);
        return it == upstream.end() ? CrossbarUpstream{} : it->second;
    }
    std::optional<int> RoutedInput(int output) override
    {
        auto it = routed_.find(output);
        if (!tells || it == routed_.end()) return std::nullopt;
        return it->second;
    }

    bool tells = true;
    bool refuses = false;
    std::map<int, CrossbarUpstream> upstream;

private:
    std::vector<long> inputs_;
    std::map<int, int> routed_;
};

} // namespace

TEST(CrossbarInUse, TheRouteInUseIsTheDevicesAndOnlyASuccessCountsAsRouted)
{
    auto card = std::make_shared<StatefulCrossbar>(
        std::vector<long>{PhysConn_Video_Tuner, PhysConn_Video_Composite, PhysConn_Video_SVideo},
        std::map<int, int>{{0, 2}});
    TCrossbar crossbar(CrossbarUpstream::OutputOf(card, 0));
    ASSERT_EQ(crossbar.RouteCount(), 3);

    // The device sits on S-Video: that is what is in use, not the tuner
    // the menu would prefer.
    EXPECT_EQ(crossbar.RouteInUse(), 2);
    EXPECT_EQ(crossbar.PreferredRoute(), 0);
    EXPECT_FALSE(crossbar.Routed());

    card->refuses = true;
    EXPECT_FALSE(crossbar.ApplyRoute(1));
    EXPECT_FALSE(crossbar.Routed());
    EXPECT_EQ(crossbar.RouteInUse(), 2);

    card->refuses = false;
    EXPECT_TRUE(crossbar.ApplyRoute(1));
    EXPECT_TRUE(crossbar.Routed());
    EXPECT_EQ(crossbar.RouteInUse(), 1);

    card->tells = false;
    EXPECT_EQ(crossbar.RouteInUse(), std::nullopt);
    EXPECT_EQ(crossbar.CurrentRoute(), 1);
}

TEST(CrossbarInUse, AChainIsInUseOnlyWhenEveryCrossbarIsRoutedItsWay)
{
    auto card = std::make_shared<StatefulCrossbar>(
        std::vector<long>{PhysConn_Video_Tuner, PhysConn_Video_Composite},
        std::map<int, int>{{0, 1}});
    auto selector = std::make_shared<StatefulCrossbar>(
        std::vector<long>{PhysConn_Video_VideoDecoder, PhysConn_Video_USB},
        std::map<int, int>{{0, 1}});
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
