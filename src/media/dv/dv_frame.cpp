#include "media/dv/dv_frame.h"

namespace kad::dv {

namespace {

using PackOffset = std::size_t (*)(int sequence, int slot);

// The first pack with that id among `slots` pack slots of each sequence in
// [firstSequence, lastSequence).
const std::uint8_t* findPack(const std::uint8_t* frame, int firstSequence, int lastSequence,
                             int slots, PackOffset offset, std::uint8_t id)
{
    for (int s = firstSequence; s < lastSequence; ++s) {
        for (int slot = 0; slot < slots; ++slot) {
            const std::uint8_t* pack = frame + offset(s, slot);
            if (pack[0] == id) return pack;
        }
    }
    return nullptr;
}

std::size_t subcodeSlotOffset(int sequence, int slot)
{
    return subcodePackOffset(sequence, slot / kSubcodeSyncBlocks, slot % kSubcodeSyncBlocks);
}

} // namespace

const std::uint8_t* findSubcodePack(const std::uint8_t* frame, int firstSequence, int lastSequence,
                                    std::uint8_t id)
{
    return findPack(frame, firstSequence, lastSequence, kSubcodeBlocks * kSubcodeSyncBlocks,
                    subcodeSlotOffset, id);
}

const std::uint8_t* findVauxPack(const std::uint8_t* frame, int firstSequence, int lastSequence,
                                 std::uint8_t id)
{
    return findPack(frame, firstSequence, lastSequence, kVauxPacks, vauxPackOffset, id);
}

const std::uint8_t* findAauxPack(const std::uint8_t* frame, int firstSequence, int lastSequence,
                                 std::uint8_t id)
{
    return findPack(frame, firstSequence, lastSequence, kAudioBlocks, aauxPackOffset, id);
}

} // namespace kad::dv
