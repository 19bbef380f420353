#pragma once

// TavcTransport: a FireWire camcorder driven with AV/C commands. Every AV/C
// transaction blocks until the unit answers or times out, so they all run on
// the object's own worker thread; the GUI thread only queues work and gets
// the answers back as signals.
//
// The queue is bounded: at most kMaxPendingCommands commands wait (a new
// one pushes out the oldest, the newest wish of the user being the one that
// counts) and timecode requests made while one is waiting count as one. A
// unit that does not answer only delays its own queue.
//
// Locking: mutex_ guards pending_, timecodeWanted_ and stopping_; the unit is
// touched by the worker thread alone; deviceType_ by the owner's thread
// alone.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/media/cam_transport.h"

namespace kad {

class TavcTransport final : public TcamTransport {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxPendingCommands = 8;

    // Starts the worker, whose first job is to ask the unit for its
    // subunits (deviceTypeChanged answers).
    explicit TavcTransport(std::unique_ptr<AvcUnit> unit, QObject* parent = nullptr);
    // Sends the last command still waiting (the stop of "Stop when quit"),
    // drops the rest and the timecode requests, and joins the worker.
    ~TavcTransport() override;

    bool HasExtTransport() const override { return true; }
    bool HasTimecodeReader() const override { return true; }
    int DeviceType() const override { return deviceType_; }
    void Command(CamCommand command) override;
    void RequestTimecode() override;

private:
    void run();
    void execute(CamCommand command);

    std::unique_ptr<AvcUnit> unit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<CamCommand> pending_;
    bool timecodeWanted_ = false;
    bool stopping_ = false;
    int deviceType_ = 0;
    std::thread worker_;
};

// The transport mode a unit's transport state stands for, or nothing when
// it is none Kadrillo knows.
std::optional<int> ModeOfAvcState(std::uint8_t opcode, std::uint8_t operand);

} // namespace kad
