#include "elements/dv_packs.h"

namespace kad::dv {

namespace {

constexpr std::size_t kBlock = 80;
constexpr std::size_t kSequence = 150 * kBlock;
constexpr std::size_t kPack = 5;

// Block offsets inside a DIF sequence: header, two subcode blocks, three
// VAUX blocks, then nine audio blocks each followed by fifteen video blocks.
constexpr std::size_t subcodeBlock(int i)
{
    return (1 + i) * kBlock;
}
constexpr std::size_t vauxBlock(int i)
{
    return (3 + i) * kBlock;
}
constexpr std::size_t audioBlock(int i)
{
    return (6 + 16 * i) * kBlock;
}

// Each subcode block holds six sync blocks of 3 ID bytes and a 5-byte pack.
constexpr std::size_t subcodePack(int block, int sync)
{
    return subcodeBlock(block) + 3 + sync * 8 + 3;
}
// Each VAUX block holds fifteen packs after its 3-byte ID.
constexpr std::size_t vauxPack(int index)
{
    return vauxBlock(index / 15) + 3 + (index % 15) * kPack;
}
// The recording date and time are VAUX packs 41 and 42 of every sequence.
constexpr int kVauxDateIndex = 41;
constexpr int kVauxTimeIndex = 42;

// The AAUX pack of an audio block sits right after its ID. The source,
// source-control, date and time packs take blocks 3 to 6 in even sequences
// and 0 to 3 in odd ones.
constexpr std::size_t audioPack(int block)
{
    return audioBlock(block) + 3;
}
constexpr int audioDateBlock(int sequence)
{
    return sequence % 2 == 0 ? 5 : 2;
}

std::uint8_t bcd(int value)
{
    value = value < 0 ? 0 : value % 100;
    return static_cast<std::uint8_t>(((value / 10) << 4) | (value % 10));
}

int fromBcd(std::uint8_t byte, std::uint8_t mask)
{
    byte &= mask;
    return (byte >> 4) * 10 + (byte & 0x0F);
}

void putPack(std::uint8_t* at, std::uint8_t id, std::uint8_t a, std::uint8_t b, std::uint8_t c,
             std::uint8_t d)
{
    at[0] = id;
    at[1] = a;
    at[2] = b;
    at[3] = c;
    at[4] = d;
}

void putDate(std::uint8_t* at, std::uint8_t id, const RecordingDateTime& when)
{
    // Time zone unknown; day of week unknown (7).
    putPack(at, id, 0xFF, 0xC0 | bcd(when.day), 0xE0 | bcd(when.month), bcd(when.year % 100));
}

void putTime(std::uint8_t* at, std::uint8_t id, const RecordingDateTime& when)
{
    // Frame count unknown.
    putPack(at, id, 0xFF, 0x80 | bcd(when.second), 0x80 | bcd(when.minute), 0xC0 | bcd(when.hour));
}

std::optional<RecordingDateTime> decode(const std::uint8_t* date, const std::uint8_t* time)
{
    if (date[2] == 0xFF && date[3] == 0xFF && date[4] == 0xFF) return std::nullopt;
    RecordingDateTime when;
    when.day = fromBcd(date[2], 0x3F);
    when.month = fromBcd(date[3], 0x1F);
    const int yy = fromBcd(date[4], 0xFF);
    when.year = yy < 70 ? 2000 + yy : 1900 + yy;
    when.second = fromBcd(time[2], 0x7F);
    when.minute = fromBcd(time[3], 0x7F);
    when.hour = fromBcd(time[4], 0x3F);
    if (when.month < 1 || when.month > 12 || when.day < 1 || when.day > 31) return std::nullopt;
    return when;
}

} // namespace

int sequenceCount(std::size_t frameSize)
{
    if (frameSize == kFrameSizeNtsc) return 10;
    if (frameSize == kFrameSizePal) return 12;
    return 0;
}

bool writeTimecode(std::uint8_t* frame, std::size_t size, const KadTimecode& tc)
{
    const int sequences = sequenceCount(size);
    if (!frame || sequences == 0) return false;
    for (int s = 0; s < sequences; ++s) {
        std::uint8_t* seq = frame + s * kSequence;
        for (int block = 0; block < 2; ++block) {
            for (int sync = 0; sync < 6; ++sync)
                putPack(seq + subcodePack(block, sync), kPackTimecode, bcd(tc.frames) & 0x3F,
                        0x80 | bcd(tc.seconds), 0x80 | bcd(tc.minutes),
                        0xC0 | (bcd(tc.hours) & 0x3F));
        }
    }
    return true;
}

bool writeRecordingDateTime(std::uint8_t* frame, std::size_t size, const RecordingDateTime& when)
{
    const int sequences = sequenceCount(size);
    if (!frame || sequences == 0) return false;
    for (int s = 0; s < sequences; ++s) {
        std::uint8_t* seq = frame + s * kSequence;
        // Any other slot the muxer filled with a date or time gets the same
        // value, so no reader finds two different dates in one frame.
        for (int i = 0; i < 45; ++i) {
            std::uint8_t* pack = seq + vauxPack(i);
            if (pack[0] == kPackVideoRecDate) putDate(pack, kPackVideoRecDate, when);
            if (pack[0] == kPackVideoRecTime) putTime(pack, kPackVideoRecTime, when);
        }
        putDate(seq + vauxPack(kVauxDateIndex), kPackVideoRecDate, when);
        putTime(seq + vauxPack(kVauxTimeIndex), kPackVideoRecTime, when);
        const int dateBlock = audioDateBlock(s);
        putDate(seq + audioPack(dateBlock), kPackAudioRecDate, when);
        putTime(seq + audioPack(dateBlock + 1), kPackAudioRecTime, when);
    }
    return true;
}

std::optional<KadTimecode> readTimecode(const std::uint8_t* frame, std::size_t size)
{
    const int sequences = sequenceCount(size);
    if (!frame || sequences == 0) return std::nullopt;
    for (int s = 0; s < sequences; ++s) {
        for (int block = 0; block < 2; ++block) {
            for (int sync = 0; sync < 6; ++sync) {
                const std::uint8_t* p = frame + s * kSequence + subcodePack(block, sync);
                if (p[0] != kPackTimecode) continue;
                return KadTimecode{static_cast<guint>(fromBcd(p[4], 0x3F)),
                                   static_cast<guint>(fromBcd(p[3], 0x7F)),
                                   static_cast<guint>(fromBcd(p[2], 0x7F)),
                                   static_cast<guint>(fromBcd(p[1], 0x3F))};
            }
        }
    }
    return std::nullopt;
}

std::optional<RecordingDateTime>
readSequenceRecordingDateTime(const std::uint8_t* frame, std::size_t size, int sequence, bool audio)
{
    const int sequences = sequenceCount(size);
    if (!frame || sequence < 0 || sequence >= sequences) return std::nullopt;
    const std::uint8_t* seq = frame + sequence * kSequence;
    const std::uint8_t* date = nullptr;
    const std::uint8_t* time = nullptr;
    if (audio) {
        for (int block = 0; block < 9; ++block) {
            const std::uint8_t* p = seq + audioPack(block);
            if (p[0] == kPackAudioRecDate) date = p;
            if (p[0] == kPackAudioRecTime) time = p;
        }
    } else {
        for (int i = 0; i < 45; ++i) {
            const std::uint8_t* p = seq + vauxPack(i);
            if (p[0] == kPackVideoRecDate && !date) date = p;
            if (p[0] == kPackVideoRecTime && !time) time = p;
        }
    }
    if (!date || !time) return std::nullopt;
    return decode(date, time);
}

std::optional<RecordingDateTime> readRecordingDateTime(const std::uint8_t* frame, std::size_t size,
                                                       bool audio)
{
    const int sequences = sequenceCount(size);
    for (int s = 0; s < sequences; ++s) {
        if (auto when = readSequenceRecordingDateTime(frame, size, s, audio)) return when;
    }
    return std::nullopt;
}

} // namespace kad::dv
