// The FireWire camcorder transport against a fake AV/C unit: the calls a
// command turns into (fast wind or fastest play chosen from the tape's
// state), the device type, the timecode as read (damaged BCD included), a
// unit that never answers, the bounded queue and a clean end of the worker
// thread. The panel text of a timecode is checked here too.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "elements/kad_transport.h"
#include "fake_avc_unit.h"
#include "platform/media/avc_transport.h"
#include "support/wait.h"

using namespace kad;
using namespace kad::test;
using namespace std::chrono_literals;

namespace {

bool waitFor(const std::function<bool()>& done)
{
    return kadtest::waitUntil(done, 10000);
}

// Records what the transport signals, on the test's (GUI) thread.
struct Rig {
    Rig() : state(std::make_shared<FakeAvcState>()) {}
    void start()
    {
        transport = std::make_unique<TavcTransport>(std::make_unique<FakeAvcUnit>(state));
        QObject::connect(transport.get(), &TcamTransport::commandDone,
                         [this](int mode, bool ok) { done.emplace_back(mode, ok); });
        QObject::connect(transport.get(), &TcamTransport::timecodeRead,
                         [this](quint32 bcd) { timecodes.push_back(bcd); });
        QObject::connect(transport.get(), &TcamTransport::deviceTypeChanged,
                         [this](int type) { types.push_back(type); });
    }
    // Sends the commands one at a time, each answered before the next.
    void run(std::initializer_list<CamCommand> commands)
    {
        for (CamCommand c : commands) {
            const std::size_t before = done.size();
            transport->Command(c);
            ASSERT_TRUE(waitFor([&] { return done.size() > before; })) << "no answer";
        }
    }
    std::vector<int> modes() const
    {
        std::vector<int> m;
        for (const auto& [mode, ok] : done)
            m.push_back(mode);
        return m;
    }

    std::shared_ptr<FakeAvcState> state;
    std::vector<std::pair<int, bool>> done;
    std::vector<quint32> timecodes;
    std::vector<int> types;
    std::unique_ptr<TavcTransport> transport;
};

} // namespace

TEST(TimecodeText, ShowsOneHourDigitBelowTenHoursAndDamagedDigitsAsRead)
{
    EXPECT_EQ(FormatTimecode(0x00000000), "0:00:00:00");
    EXPECT_EQ(FormatTimecode(0x01234512), "1:23:45:12");
    EXPECT_EQ(FormatTimecode(0x12000005), "12:00:00:05");
    // Digits above nine come out as they were sent, never as a crash or
    // a wrapped decimal.
    EXPECT_EQ(FormatTimecode(0x0A1B2C3D), "A:1B:2C:3D");
    EXPECT_EQ(FormatTimecode(0xFFFFFFFF), "FF:FF:FF:FF");
    EXPECT_EQ(FormatTimecode(0xF0000000), "F0:00:00:00");
}

TEST(TransportModes, FastWindFromAStoppedTapeFastestPlayOtherwise)
{
    EXPECT_EQ(ModeForCommand(CamCommand::FastForward, KAD_TRANSPORT_STOP),
              KAD_TRANSPORT_FAST_FORWARD);
    EXPECT_EQ(ModeForCommand(CamCommand::FastReverse, KAD_TRANSPORT_STOP), KAD_TRANSPORT_REWIND);
    for (int playing : {KAD_TRANSPORT_PLAY, KAD_TRANSPORT_FREEZE, KAD_TRANSPORT_FAST_FORWARD}) {
        EXPECT_EQ(ModeForCommand(CamCommand::FastForward, playing),
                  KAD_TRANSPORT_PLAY_FASTEST_FORWARD);
        EXPECT_EQ(ModeForCommand(CamCommand::FastReverse, playing),
                  KAD_TRANSPORT_PLAY_FASTEST_REVERSE);
    }
    // A mode that could not be read is no stopped tape.
    EXPECT_EQ(ModeForCommand(CamCommand::FastForward, std::nullopt),
              KAD_TRANSPORT_PLAY_FASTEST_FORWARD);
}

TEST(AvcTransport, CommandsReachTheUnitInOrderWithTheirSpeeds)
{
    Rig r;
    r.start();
    r.run({CamCommand::Play, CamCommand::SlowForward, CamCommand::FastForward, CamCommand::Stop,
           CamCommand::FastReverse, CamCommand::SlowReverse, CamCommand::FastForward,
           CamCommand::Pause, CamCommand::FastReverse, CamCommand::Stop, CamCommand::FastForward});
    const std::vector<std::string> expected = {"kind",
                                               "play",
                                               "play-slowest-forward",
                                               "state",
                                               "play-fastest-forward",
                                               "stop",
                                               "state",
                                               "wind-rewind",
                                               "play-slowest-reverse",
                                               "state",
                                               "play-fastest-forward",
                                               "pause",
                                               "state",
                                               "play-fastest-reverse",
                                               "stop",
                                               "state",
                                               "wind-forward"};
    EXPECT_EQ(r.state->Calls(), expected);
    const std::vector<int> modes = {KAD_TRANSPORT_PLAY,
                                    KAD_TRANSPORT_PLAY_SLOWEST_FORWARD,
                                    KAD_TRANSPORT_PLAY_FASTEST_FORWARD,
                                    KAD_TRANSPORT_STOP,
                                    KAD_TRANSPORT_REWIND,
                                    KAD_TRANSPORT_PLAY_SLOWEST_REVERSE,
                                    KAD_TRANSPORT_PLAY_FASTEST_FORWARD,
                                    KAD_TRANSPORT_FREEZE,
                                    KAD_TRANSPORT_PLAY_FASTEST_REVERSE,
                                    KAD_TRANSPORT_STOP,
                                    KAD_TRANSPORT_FAST_FORWARD};
    EXPECT_EQ(r.modes(), modes);
    for (const auto& [mode, ok] : r.done)
        EXPECT_TRUE(ok) << mode;
}

TEST(AvcTransport, AnEjectedCassetteCountsAsAStoppedTape)
{
    Rig r;
    r.state->transport = {0xC1, 0x60}; // load medium / eject
    r.start();
    r.run({CamCommand::FastForward});
    EXPECT_EQ(r.modes(), std::vector<int>{KAD_TRANSPORT_FAST_FORWARD});
}

TEST(AvcTransport, DeviceTypeFollowsTheUnitsSubunits)
{
    {
        Rig r;
        r.start();
        EXPECT_EQ(r.transport->DeviceType(), KAD_DEVICE_TYPE_NONE);
        ASSERT_TRUE(waitFor([&] { return r.types.size() == 1; }));
        EXPECT_EQ(r.types.at(0), KAD_DEVICE_TYPE_VCR);
        EXPECT_EQ(r.transport->DeviceType(), KAD_DEVICE_TYPE_VCR);
        EXPECT_TRUE(r.transport->HasExtTransport());
        EXPECT_TRUE(r.transport->HasTimecodeReader());
    }
    {
        Rig r;
        r.state->kind = AvcUnitKind::Camera;
        r.start();
        ASSERT_TRUE(waitFor([&] { return r.types.size() == 1; }));
        EXPECT_EQ(r.transport->DeviceType(), KAD_DEVICE_TYPE_CAMERA);
    }
    {
        // A unit that never answers stays of no known type.
        Rig r;
        r.state->silent = true;
        r.start();
        r.transport->Command(CamCommand::Stop);
        ASSERT_TRUE(waitFor([&] { return r.done.size() == 1; }));
        EXPECT_EQ(r.types.size(), 0);
        EXPECT_EQ(r.transport->DeviceType(), KAD_DEVICE_TYPE_NONE);
    }
}

TEST(AvcTransport, TimecodeComesBackAsReadDamagedDigitsIncluded)
{
    Rig r;
    r.start();
    for (std::uint32_t bcd : {0x00000000u, 0x01234512u, 0x0A1B2C3Du, 0xFFFFFFFFu}) {
        {
            const std::lock_guard lock(r.state->mutex);
            r.state->timecode = bcd;
        }
        const std::size_t before = r.timecodes.size();
        r.transport->RequestTimecode();
        ASSERT_TRUE(waitFor([&] { return r.timecodes.size() > before; }));
        EXPECT_EQ(r.timecodes.back(), bcd);
    }
}

TEST(AvcTransport, AUnitThatNeverAnswersLeavesCommandsIgnored)
{
    Rig r;
    r.state->silent = true;
    r.start();
    r.transport->Command(CamCommand::Play);
    r.transport->Command(CamCommand::FastForward);
    r.transport->RequestTimecode();
    ASSERT_TRUE(waitFor([&] { return r.done.size() == 2; }));
    for (const auto& [mode, ok] : r.done)
        EXPECT_FALSE(ok) << mode;
    // The unread state is no stopped tape: the fastest play was tried.
    EXPECT_EQ(r.modes(),
              (std::vector<int>{KAD_TRANSPORT_PLAY, KAD_TRANSPORT_PLAY_FASTEST_FORWARD}));
    ASSERT_TRUE(waitFor([&] { return r.state->Count("timecode") == 1; }));
    // Silence gives no timecode at all rather than a made-up one.
    QCoreApplication::processEvents();
    EXPECT_EQ(r.timecodes.size(), 0);
}

TEST(AvcTransport, ABlockedUnitNeitherFreezesTheCallerNorGrowsTheQueue)
{
    Rig r;
    r.start();
    ASSERT_TRUE(waitFor([&] { return r.types.size() == 1; }));
    r.state->SetHold(true);
    r.transport->Command(CamCommand::Play);
    ASSERT_TRUE(r.state->WaitHolding());
    // The worker is stuck in the unit; the caller goes on queuing.
    for (int i = 0; i < 100; ++i) {
        r.transport->Command(i % 2 ? CamCommand::Pause : CamCommand::SlowForward);
        r.transport->RequestTimecode();
    }
    r.transport->Command(CamCommand::Stop);
    r.state->SetHold(false);
    ASSERT_TRUE(waitFor([&] { return r.state->Count("stop") == 1 && r.timecodes.size() == 1; }));
    QThread::msleep(50);
    QCoreApplication::processEvents();
    // One play, at most the queue's worth of commands (the newest, ending
    // with the stop), and the hundred timecode requests as one.
    EXPECT_EQ(r.done.size(), 1 + TavcTransport::kMaxPendingCommands);
    EXPECT_EQ(r.state->Calls().back(), "timecode");
    EXPECT_EQ(r.state->Count("timecode"), 1u);
    EXPECT_EQ(r.modes().back(), KAD_TRANSPORT_STOP);
}

TEST(AvcTransport, EndsCleanlySendingOnlyTheLastCommand)
{
    {
        // Idle worker: the end is immediate.
        Rig r;
        r.start();
        ASSERT_TRUE(waitFor([&] { return r.types.size() == 1; }));
        r.transport.reset();
        EXPECT_EQ(r.state->Calls(), std::vector<std::string>{"kind"});
    }
    {
        // The worker is inside the unit with work queued behind it.
        Rig r;
        r.start();
        ASSERT_TRUE(waitFor([&] { return r.types.size() == 1; }));
        r.state->SetHold(true);
        r.transport->Command(CamCommand::Play);
        ASSERT_TRUE(r.state->WaitHolding());
        r.transport->Command(CamCommand::SlowForward);
        r.transport->RequestTimecode();
        r.transport->Command(CamCommand::Stop);
        std::thread release([state = r.state] {
            std::this_thread::sleep_for(100ms);
            state->SetHold(false);
        });
        r.transport.reset();
        release.join();
        EXPECT_EQ(r.state->Calls(), (std::vector<std::string>{"kind", "play", "stop"}));
        // Nothing queued to the dead object is delivered.
        QCoreApplication::processEvents();
    }
    {
        // A unit that never answers delays the end by its timeouts only.
        Rig r;
        r.state->silent = true;
        r.start();
        r.transport->Command(CamCommand::Stop);
        r.transport.reset();
        EXPECT_LE(r.state->Count("stop"), 1u);
    }
}
