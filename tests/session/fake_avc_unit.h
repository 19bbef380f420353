#pragma once

// An AV/C unit without FireWire: it keeps a tape transport state as a DV
// camcorder does, records every call it gets, and can be told to stay
// silent (every call fails after a short wait, as a transaction that timed
// out) or to hold its next calls until the test lets them go.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/avc_unit.h"

namespace kad::test {

// What the test and the unit share; the unit itself belongs to the
// transport under test.
struct FakeAvcState {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;
    AvcUnitKind kind = AvcUnitKind::TapeRecorder;
    AvcTransportState transport{0xC4, 0x60}; // wind / stop
    std::uint32_t timecode = 0;
    bool silent = false;
    // While set, a call waits (at most holdLimit) until it is cleared.
    bool hold = false;
    int holding = 0;
    std::chrono::milliseconds silentTimeout{150};
    std::chrono::milliseconds holdLimit{10000};

    std::vector<std::string> Calls()
    {
        const std::lock_guard lock(mutex);
        return calls;
    }
    std::size_t Count(const std::string& call)
    {
        const std::lock_guard lock(mutex);
        std::size_t n = 0;
        for (const std::string& c : calls)
            n += c == call;
        return n;
    }
    void SetHold(bool on)
    {
        {
            const std::lock_guard lock(mutex);
            hold = on;
        }
        changed.notify_all();
    }
    // Waits until a call is being held; false after the deadline.
    bool WaitHolding(std::chrono::milliseconds deadline = std::chrono::milliseconds(10000))
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, deadline, [this] { return holding > 0; });
    }
};

class FakeAvcUnit final : public AvcUnit {
public:
    explicit FakeAvcUnit(std::shared_ptr<FakeAvcState> state) : s_(std::move(state)) {}

    std::optional<AvcUnitKind> Kind() override
    {
        if (!answer("kind")) return std::nullopt;
        const std::lock_guard lock(s_->mutex);
        return s_->kind;
    }
    bool Play() override { return control("play", 0xC3, 0x75); }
    bool Pause() override { return control("pause", 0xC3, 0x7D); }
    bool Stop() override { return control("stop", 0xC4, 0x60); }
    bool WindForward() override { return control("wind-forward", 0xC4, 0x75); }
    bool WindRewind() override { return control("wind-rewind", 0xC4, 0x65); }
    bool PlayAt(AvcPlaySpeed speed) override
    {
        switch (speed) {
        case AvcPlaySpeed::SlowestForward:
            return control("play-slowest-forward", 0xC3, 0x31);
        case AvcPlaySpeed::FastestForward:
            return control("play-fastest-forward", 0xC3, 0x3F);
        case AvcPlaySpeed::SlowestReverse:
            return control("play-slowest-reverse", 0xC3, 0x41);
        case AvcPlaySpeed::FastestReverse:
            return control("play-fastest-reverse", 0xC3, 0x4F);
        }
        return false;
    }
    std::optional<AvcTransportState> TransportState() override
    {
        if (!answer("state")) return std::nullopt;
        const std::lock_guard lock(s_->mutex);
        return s_->transport;
    }
    std::optional<std::uint32_t> Timecode() override
    {
        if (!answer("timecode")) return std::nullopt;
        const std::lock_guard lock(s_->mutex);
        return s_->timecode;
    }

private:
    // Records the call, waits while held, and says whether the unit answers.
    bool answer(const char* call)
    {
        std::unique_lock lock(s_->mutex);
        s_->calls.emplace_back(call);
        if (s_->hold) {
            ++s_->holding;
            s_->changed.notify_all();
            s_->changed.wait_for(lock, s_->holdLimit, [this] { return !s_->hold; });
            --s_->holding;
        }
        if (s_->silent) {
            // A transaction nobody answers ends with its timeout.
            const auto timeout = s_->silentTimeout;
            lock.unlock();
            std::this_thread::sleep_for(timeout);
            return false;
        }
        return true;
    }

    bool control(const char* call, std::uint8_t opcode, std::uint8_t operand)
    {
        if (!answer(call)) return false;
        const std::lock_guard lock(s_->mutex);
        s_->transport = {opcode, operand};
        return true;
    }

    std::shared_ptr<FakeAvcState> s_;
};

} // namespace kad::test
