#include "platform/media/avc_unit.h"

#include <libavc1394/avc1394.h>
#include <libavc1394/rom1394.h>
#include <libraw1394/raw1394.h>

#include <type_traits>

namespace kad {

namespace {

struct HandleDeleter {
    void operator()(raw1394handle_t handle) const { raw1394_destroy_handle(handle); }
};
using HandlePtr = std::unique_ptr<std::remove_pointer_t<raw1394handle_t>, HandleDeleter>;

constexpr int kMaxPorts = 16;
// libavc1394 retries a transaction that got no answer this many times, each
// attempt bounded by its own timeout.
constexpr int kRetries = 2;

constexpr quadlet_t kVcrControl =
    AVC1394_CTYPE_CONTROL | AVC1394_SUBUNIT_TYPE_VCR | AVC1394_SUBUNIT_ID_0;
constexpr quadlet_t kVcrStatus =
    AVC1394_CTYPE_STATUS | AVC1394_SUBUNIT_TYPE_VCR | AVC1394_SUBUNIT_ID_0;

bool accepted(quadlet_t response)
{
    return AVC1394_MASK_RESPONSE(response) == AVC1394_RESPONSE_ACCEPTED;
}

bool stable(quadlet_t response)
{
    return AVC1394_MASK_RESPONSE(response) == AVC1394_RESPONSE_STABLE;
}

class LibAvcUnit final : public AvcUnit {
public:
    explicit LibAvcUnit(std::uint64_t guid) : guid_(guid) {}

    // Finds the node of the GUID; after a bus reset node numbers change, so
    // a failed transaction looks the unit up again once.
    bool locate()
    {
        handle_.reset();
        HandlePtr probe(raw1394_new_handle());
        if (!probe) return false;
        raw1394_portinfo ports[kMaxPorts];
        const int portCount = raw1394_get_port_info(probe.get(), ports, kMaxPorts);
        probe.reset();
        for (int port = 0; port < portCount && port < kMaxPorts; ++port) {
            HandlePtr handle(raw1394_new_handle_on_port(port));
            if (!handle) continue;
            const int count = raw1394_get_nodecount(handle.get());
            for (int node = 0; node < count; ++node) {
                if (rom1394_get_guid(handle.get(), static_cast<nodeid_t>(node)) == guid_) {
                    node_ = static_cast<nodeid_t>(node);
                    handle_ = std::move(handle);
                    return true;
                }
            }
        }
        return false;
    }

    std::optional<AvcUnitKind> Kind() override
    {
        if (!handle_ && !locate()) return std::nullopt;
        if (avc1394_check_subunit_type(handle_.get(), node_, AVC1394_SUBUNIT_TYPE_VCR))
            return AvcUnitKind::TapeRecorder;
        if (avc1394_check_subunit_type(handle_.get(), node_, AVC1394_SUBUNIT_TYPE_VIDEO_CAMERA))
            return AvcUnitKind::Camera;
        return AvcUnitKind::Other;
    }

    bool Play() override
    {
        return control(AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD);
    }
    bool Pause() override
    {
        return control(AVC1394_VCR_COMMAND_PLAY | AVC1394_VCR_OPERAND_PLAY_FORWARD_PAUSE);
    }
    bool Stop() override
    {
        return control(AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_STOP);
    }
    bool WindForward() override
    {
        return control(AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_FAST_FORWARD);
    }
    bool WindRewind() override
    {
        return control(AVC1394_VCR_COMMAND_WIND | AVC1394_VCR_OPERAND_WIND_REWIND);
    }

    bool PlayAt(AvcPlaySpeed speed) override
    {
        quadlet_t operand = AVC1394_VCR_OPERAND_PLAY_SLOWEST_FORWARD;
        switch (speed) {
        case AvcPlaySpeed::SlowestForward:
            operand = AVC1394_VCR_OPERAND_PLAY_SLOWEST_FORWARD;
            break;
        case AvcPlaySpeed::FastestForward:
            operand = AVC1394_VCR_OPERAND_PLAY_FASTEST_FORWARD;
            break;
        case AvcPlaySpeed::SlowestReverse:
            operand = AVC1394_VCR_OPERAND_PLAY_SLOWEST_REVERSE;
            break;
        case AvcPlaySpeed::FastestReverse:
            operand = AVC1394_VCR_OPERAND_PLAY_FASTEST_REVERSE;
            break;
        }
        return control(AVC1394_VCR_COMMAND_PLAY | operand);
    }

    std::optional<AvcTransportState> TransportState() override
    {
        const std::optional<quadlet_t> r =
            status(AVC1394_VCR_COMMAND_TRANSPORT_STATE | AVC1394_VCR_OPERAND_TRANSPORT_STATE);
        if (!r) return std::nullopt;
        AvcTransportState state;
        state.Opcode = static_cast<std::uint8_t>(AVC1394_MASK_OPCODE(*r) >> 8);
        state.Operand = static_cast<std::uint8_t>(AVC1394_MASK_OPERAND0(*r));
        return state;
    }

    std::optional<std::uint32_t> Timecode() override
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!handle_ && !locate()) return std::nullopt;
            // The status form of TIME CODE: the unit fills the four operand
            // bytes sent as 0xFF with hours, minutes, seconds and frames.
            quadlet_t request[2] = {kVcrStatus | AVC1394_VCR_COMMAND_TIME_CODE |
                                        AVC1394_VCR_OPERAND_TIME_CODE_STATUS,
                                    0xFFFFFFFF};
            quadlet_t* response =
                avc1394_transaction_block(handle_.get(), node_, request, 2, kRetries);
            std::optional<std::uint32_t> result;
            if (response && stable(response[0])) result = response[1];
            avc1394_transaction_block_close(handle_.get());
            if (result) return result;
            if (!locate()) return std::nullopt;
        }
        return std::nullopt;
    }

private:
    std::optional<quadlet_t> transact(quadlet_t command, bool (*ok)(quadlet_t))
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!handle_ && !locate()) return std::nullopt;
            const quadlet_t response = avc1394_transaction(handle_.get(), node_, command, kRetries);
            if (ok(response)) return response;
            // A refusal is an answer; only silence is worth a new look-up.
            if (AVC1394_MASK_RESPONSE(response) == AVC1394_RESPONSE_REJECTED ||
                AVC1394_MASK_RESPONSE(response) == AVC1394_RESPONSE_NOT_IMPLEMENTED)
                return std::nullopt;
            if (!locate()) return std::nullopt;
        }
        return std::nullopt;
    }

    bool control(quadlet_t command)
    {
        return transact(kVcrControl | command, accepted).has_value();
    }
    std::optional<quadlet_t> status(quadlet_t command)
    {
        return transact(kVcrStatus | command, stable);
    }

    std::uint64_t guid_;
    HandlePtr handle_;
    nodeid_t node_ = 0;
};

} // namespace

std::unique_ptr<AvcUnit> OpenAvcUnit(std::uint64_t guid)
{
    return std::make_unique<LibAvcUnit>(guid);
}

} // namespace kad
