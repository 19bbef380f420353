#pragma once

// Where everything sits in a DV frame (IEC 61834, 25 Mbit/s), for every
// reader and writer of DV frames.
//
// A frame is 10 (525/60) or 12 (625/50) DIF sequences of 150 DIF blocks of 80
// bytes: 120000 or 144000 bytes. Each sequence opens with a header block, two
// subcode blocks and three VAUX blocks; then come nine audio blocks, each
// followed by fifteen video blocks. Every block starts with a 3-byte id whose
// top three bits tell its section (header, subcode, VAUX, audio, video).
//
// The auxiliary data travels in 5-byte packs: one id byte, four data bytes.
// A subcode block holds six sync blocks of 3 id bytes and one pack; a VAUX
// block holds fifteen packs; an audio block holds one AAUX pack, then its
// samples.

#include <cstddef>
#include <cstdint>

namespace kad::dv {

inline constexpr std::size_t kDifBlockSize = 80;
inline constexpr int kBlocksPerSequence = 150;
inline constexpr std::size_t kSequenceSize = kBlocksPerSequence * kDifBlockSize;
inline constexpr int kSequencesNtsc = 10;
inline constexpr int kSequencesPal = 12;
inline constexpr std::size_t kFrameSizeNtsc = kSequencesNtsc * kSequenceSize;
inline constexpr std::size_t kFrameSizePal = kSequencesPal * kSequenceSize;

// The blocks of a sequence, by kind: how many, and where the first one is.
inline constexpr int kHeaderBlock = 0;
inline constexpr int kSubcodeBlocks = 2;
inline constexpr int kFirstSubcodeBlock = 1;
inline constexpr int kVauxBlocks = 3;
inline constexpr int kFirstVauxBlock = 3;
inline constexpr int kAudioBlocks = 9;
inline constexpr int kFirstAudioBlock = 6;
inline constexpr int kVideoBlocks = 135;
// Each audio block leads a run of itself and fifteen video blocks.
inline constexpr int kVideoBlocksPerAudioBlock = 15;

// Section types, the top three bits of a block's first id byte.
enum class Section : std::uint8_t { Header = 0, Subcode = 1, Vaux = 2, Audio = 3, Video = 4 };

inline constexpr std::size_t kBlockIdSize = 3;
inline constexpr std::size_t kPackSize = 5;
inline constexpr int kSubcodeSyncBlocks = 6;
inline constexpr std::size_t kSubcodeSyncBlockSize = kBlockIdSize + kPackSize;
inline constexpr int kVauxPacksPerBlock = 15;
inline constexpr int kVauxPacks = kVauxBlocks * kVauxPacksPerBlock;
// Where the samples of an audio block start: after its id and AAUX pack.
inline constexpr std::size_t kAudioSamplesAt = kBlockIdSize + kPackSize;
inline constexpr std::size_t kAudioSamplesSize = kDifBlockSize - kAudioSamplesAt;

// Pack ids.
inline constexpr std::uint8_t kPackTimecode = 0x13;
inline constexpr std::uint8_t kPackAudioSource = 0x50;
inline constexpr std::uint8_t kPackAudioSourceControl = 0x51;
inline constexpr std::uint8_t kPackAudioRecDate = 0x52;
inline constexpr std::uint8_t kPackAudioRecTime = 0x53;
inline constexpr std::uint8_t kPackVideoSource = 0x60;
inline constexpr std::uint8_t kPackVideoSourceControl = 0x61;
inline constexpr std::uint8_t kPackVideoRecDate = 0x62;
inline constexpr std::uint8_t kPackVideoRecTime = 0x63;

// The number of DIF sequences of a frame of that size, 0 when the size is
// not a DV frame size.
constexpr int sequenceCount(std::size_t frameSize)
{
    if (frameSize == kFrameSizeNtsc) return kSequencesNtsc;
    if (frameSize == kFrameSizePal) return kSequencesPal;
    return 0;
}

constexpr bool isDvFrameSize(std::size_t size)
{
    return sequenceCount(size) != 0;
}

constexpr std::size_t frameSizeOf(bool pal)
{
    return pal ? kFrameSizePal : kFrameSizeNtsc;
}

// The section a block belongs to, from its first id byte (any value 0 to 7).
constexpr int sectionOf(const std::uint8_t* block)
{
    return block[0] >> 5;
}

constexpr bool isSection(const std::uint8_t* block, Section section)
{
    return sectionOf(block) == static_cast<int>(section);
}

// The ids of the first block of a frame: a header block of sequence 0,
// block number 0.
constexpr bool isFrameHeaderBlock(const std::uint8_t* block)
{
    return isSection(block, Section::Header) && (block[1] >> 4) == 0 && block[2] == 0;
}

// The system a header block announces (DSF, the top bit of its fourth byte):
// 625/50 when set, 525/60 when clear.
constexpr bool headerSaysPal(const std::uint8_t* header)
{
    return (header[3] & 0x80) != 0;
}

// The size of the frame a header block announces.
constexpr std::size_t announcedFrameSize(const std::uint8_t* header)
{
    return frameSizeOf(headerSaysPal(header));
}

// Block numbers inside a sequence.
constexpr int subcodeBlock(int i)
{
    return kFirstSubcodeBlock + i;
}
constexpr int vauxBlock(int i)
{
    return kFirstVauxBlock + i;
}
constexpr int audioBlock(int i)
{
    return kFirstAudioBlock + (1 + kVideoBlocksPerAudioBlock) * i;
}
constexpr int videoBlock(int i)
{
    return audioBlock(i / kVideoBlocksPerAudioBlock) + 1 + i % kVideoBlocksPerAudioBlock;
}

// The kinds fill a sequence in that order, without gaps.
static_assert(subcodeBlock(0) == kHeaderBlock + 1);
static_assert(vauxBlock(0) == subcodeBlock(kSubcodeBlocks - 1) + 1);
static_assert(audioBlock(0) == vauxBlock(kVauxBlocks - 1) + 1);
static_assert(videoBlock(kVideoBlocks - 1) == kBlocksPerSequence - 1);
static_assert(kFrameSizeNtsc == 120000 && kFrameSizePal == 144000);

// Byte offsets inside a frame.
constexpr std::size_t sequenceOffset(int sequence)
{
    return static_cast<std::size_t>(sequence) * kSequenceSize;
}
constexpr std::size_t blockOffset(int sequence, int block)
{
    return sequenceOffset(sequence) + static_cast<std::size_t>(block) * kDifBlockSize;
}
constexpr std::size_t audioBlockOffset(int sequence, int i)
{
    return blockOffset(sequence, audioBlock(i));
}
// The pack of sync block `sync` of subcode block `block`.
constexpr std::size_t subcodePackOffset(int sequence, int block, int sync)
{
    return blockOffset(sequence, subcodeBlock(block)) + kBlockIdSize +
           static_cast<std::size_t>(sync) * kSubcodeSyncBlockSize + kBlockIdSize;
}
// VAUX pack `index` (0 to 44) of a sequence.
constexpr std::size_t vauxPackOffset(int sequence, int index)
{
    return blockOffset(sequence, vauxBlock(index / kVauxPacksPerBlock)) + kBlockIdSize +
           static_cast<std::size_t>(index % kVauxPacksPerBlock) * kPackSize;
}
// The AAUX pack of audio block `i` of a sequence.
constexpr std::size_t aauxPackOffset(int sequence, int i)
{
    return audioBlockOffset(sequence, i) + kBlockIdSize;
}

// The AAUX source, source-control, recording date and recording time packs
// sit in that order in four audio blocks in a row: blocks 3 to 6 of even
// sequences, 0 to 3 of odd ones. The first of them:
constexpr int aauxSourceBlock(int sequence)
{
    return sequence % 2 == 0 ? 3 : 0;
}

// The first pack with that id in the subcode, the VAUX or the AAUX of
// sequences [firstSequence, lastSequence) of a frame; null when there is none.
const std::uint8_t* findSubcodePack(const std::uint8_t* frame, int firstSequence, int lastSequence,
                                    std::uint8_t id);
const std::uint8_t* findVauxPack(const std::uint8_t* frame, int firstSequence, int lastSequence,
                                 std::uint8_t id);
const std::uint8_t* findAauxPack(const std::uint8_t* frame, int firstSequence, int lastSequence,
                                 std::uint8_t id);

// Calls f(block) for each whole block of data whose id says it is an audio
// block, wherever it sits: damaged or odd frames are walked by their ids.
template <typename Byte, typename F> void forEachAudioBlock(Byte* data, std::size_t size, F&& f)
{
    for (std::size_t off = 0; off + kDifBlockSize <= size; off += kDifBlockSize)
        if (isSection(data + off, Section::Audio)) f(data + off);
}

} // namespace kad::dv
