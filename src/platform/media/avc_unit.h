#pragma once

// The AV/C calls Kadrillo makes to a DV camcorder on FireWire: the tape
// transport (play, freeze, stop, wind, trick play), the transport state, the
// tape timecode and which subunits the unit has (a tape recorder when the
// camcorder is in VCR mode, a camera otherwise).
//
// One AvcUnit talks to one unit, found by its GUID. Each call is one AV/C
// transaction and blocks until the unit answers or the transaction times
// out, so callers run it on a thread of their own. An AvcUnit is not
// thread-safe: one thread at a time.

#include <cstdint>
#include <memory>
#include <optional>

namespace kad {

enum class AvcPlaySpeed { SlowestForward, FastestForward, SlowestReverse, FastestReverse };

// What the unit's subunit list says about its mode.
enum class AvcUnitKind { Other, TapeRecorder, Camera };

// The transport state as the unit reports it: the opcode of the command it
// is executing (play 0xC3, wind 0xC4, record 0xC2, load medium 0xC1) and
// that command's operand (0x75 play forward, 0x7D paused, 0x60 stopped...).
struct AvcTransportState {
    std::uint8_t Opcode = 0;
    std::uint8_t Operand = 0;
};

class AvcUnit {
public:
    virtual ~AvcUnit() = default;

    // Each returns false (or nothing) when the unit refused the command or
    // did not answer in time.
    virtual std::optional<AvcUnitKind> Kind() = 0;
    virtual bool Play() = 0;
    virtual bool Pause() = 0;
    virtual bool Stop() = 0;
    virtual bool WindForward() = 0;
    virtual bool WindRewind() = 0;
    virtual bool PlayAt(AvcPlaySpeed speed) = 0;
    virtual std::optional<AvcTransportState> TransportState() = 0;
    // Hours, minutes, seconds and frames, two BCD digits each, hours in the
    // highest byte, exactly as the unit sent them (digits above 9 included).
    virtual std::optional<std::uint32_t> Timecode() = 0;
};

// The unit of this GUID on any FireWire port through libavc1394. Nothing
// touches the bus until the first call (which may block, so it belongs on
// the caller's worker thread); while no bus or no node of the GUID is found
// every call fails.
std::unique_ptr<AvcUnit> OpenAvcUnit(std::uint64_t guid);

} // namespace kad
