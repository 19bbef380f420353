#include "platform/media/avc_transport.h"

#include "elements/kad_transport.h"
#include "platform/media/avc_unit.h"

namespace kad {

namespace {

constexpr std::uint8_t kOpLoadMedium = 0xC1;
constexpr std::uint8_t kOpRecord = 0xC2;
constexpr std::uint8_t kOpPlay = 0xC3;
constexpr std::uint8_t kOpWind = 0xC4;

bool send(AvcUnit& unit, int mode)
{
    switch (mode) {
    case KAD_TRANSPORT_PLAY:
        return unit.Play();
    case KAD_TRANSPORT_FREEZE:
        return unit.Pause();
    case KAD_TRANSPORT_STOP:
        return unit.Stop();
    case KAD_TRANSPORT_FAST_FORWARD:
        return unit.WindForward();
    case KAD_TRANSPORT_REWIND:
        return unit.WindRewind();
    case KAD_TRANSPORT_PLAY_FASTEST_FORWARD:
        return unit.PlayAt(AvcPlaySpeed::FastestForward);
    case KAD_TRANSPORT_PLAY_SLOWEST_FORWARD:
        return unit.PlayAt(AvcPlaySpeed::SlowestForward);
    case KAD_TRANSPORT_PLAY_FASTEST_REVERSE:
        return unit.PlayAt(AvcPlaySpeed::FastestReverse);
    case KAD_TRANSPORT_PLAY_SLOWEST_REVERSE:
        return unit.PlayAt(AvcPlaySpeed::SlowestReverse);
    default:
        return false;
    }
}

} // namespace

std::optional<int> ModeOfAvcState(std::uint8_t opcode, std::uint8_t operand)
{
    switch (opcode) {
    case kOpWind:
        switch (operand) {
        case 0x65: // rewind
        case 0x45: // high-speed rewind
            return KAD_TRANSPORT_REWIND;
        case 0x75:
            return KAD_TRANSPORT_FAST_FORWARD;
        default:
            return KAD_TRANSPORT_STOP;
        }
    case kOpPlay:
        switch (operand) {
        case 0x7D: // forward pause
        case 0x6D: // reverse pause
            return KAD_TRANSPORT_FREEZE;
        case 0x31:
            return KAD_TRANSPORT_PLAY_SLOWEST_FORWARD;
        case 0x3F:
            return KAD_TRANSPORT_PLAY_FASTEST_FORWARD;
        case 0x41:
            return KAD_TRANSPORT_PLAY_SLOWEST_REVERSE;
        case 0x4F:
            return KAD_TRANSPORT_PLAY_FASTEST_REVERSE;
        default:
            return KAD_TRANSPORT_PLAY;
        }
    case kOpRecord:
        return KAD_TRANSPORT_PLAY;
    case kOpLoadMedium: // no cassette in: nothing moves
        return KAD_TRANSPORT_STOP;
    default:
        return std::nullopt;
    }
}

TavcTransport::TavcTransport(std::unique_ptr<AvcUnit> unit, QObject* parent)
    : TcamTransport(parent), unit_(std::move(unit))
{
    connect(this, &TcamTransport::deviceTypeChanged, this,
            [this](int type) { deviceType_ = type; });
    worker_ = std::thread([this] { run(); });
}

TavcTransport::~TavcTransport()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        while (pending_.size() > 1)
            pending_.pop_front();
        timecodeWanted_ = false;
    }
    wake_.notify_all();
    worker_.join();
}

void TavcTransport::Command(CamCommand command)
{
    {
        const std::lock_guard lock(mutex_);
        if (pending_.size() >= kMaxPendingCommands) pending_.pop_front();
        pending_.push_back(command);
    }
    wake_.notify_all();
}

void TavcTransport::RequestTimecode()
{
    {
        const std::lock_guard lock(mutex_);
        timecodeWanted_ = true;
    }
    wake_.notify_all();
}

void TavcTransport::run()
{
    // The emits below are queued to the owner's thread; the destructor
    // joins this thread before QObject's destructor drops what is still
    // queued, so none reaches a dead object.
    const std::optional<AvcUnitKind> kind = unit_->Kind();
    int type = KAD_DEVICE_TYPE_NONE;
    if (kind == AvcUnitKind::TapeRecorder) type = KAD_DEVICE_TYPE_VCR;
    if (kind == AvcUnitKind::Camera) type = KAD_DEVICE_TYPE_CAMERA;
    if (type != KAD_DEVICE_TYPE_NONE)
        QMetaObject::invokeMethod(
            this, [this, type] { emit deviceTypeChanged(type); }, Qt::QueuedConnection);

    for (;;) {
        std::optional<CamCommand> command;
        bool timecode = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !pending_.empty() || timecodeWanted_; });
            if (!pending_.empty()) {
                command = pending_.front();
                pending_.pop_front();
            } else if (stopping_) {
                return;
            } else {
                timecodeWanted_ = false;
                timecode = true;
            }
        }
        if (command) {
            execute(*command);
        } else if (timecode) {
            if (const std::optional<std::uint32_t> bcd = unit_->Timecode()) {
                const quint32 value = *bcd;
                QMetaObject::invokeMethod(
                    this, [this, value] { emit timecodeRead(value); }, Qt::QueuedConnection);
            }
        }
    }
}

void TavcTransport::execute(CamCommand command)
{
    std::optional<int> current;
    if (command == CamCommand::FastForward || command == CamCommand::FastReverse) {
        if (const std::optional<AvcTransportState> state = unit_->TransportState())
            current = ModeOfAvcState(state->Opcode, state->Operand);
    }
    const int mode = ModeForCommand(command, current);
    const bool accepted = send(*unit_, mode);
    QMetaObject::invokeMethod(
        this, [this, mode, accepted] { emit commandDone(mode, accepted); }, Qt::QueuedConnection);
}

} // namespace kad
