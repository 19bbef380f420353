#include "media/dv/dv_packs.h"

namespace kad::dv {

namespace {

// The recording date and time are VAUX packs 41 and 42 of every sequence.
constexpr int kVauxDateIndex = 41;
constexpr int kVauxTimeIndex = 42;

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

bool writeTimecode(std::uint8_t* frame, std::size_t size, const KadTimecode& tc)
{
    const int sequences = sequenceCount(size);
    if (!frame || sequences == 0) return false;
    for (int s = 0; s < sequences; ++s) {
        for (int block = 0; block < kSubcodeBlocks; ++block) {
            for (int sync = 0; sync < kSubcodeSyncBlocks; ++sync)
                putPack(frame + subcodePackOffset(s, block, sync), kPackTimecode,
                        bcd(tc.frames) & 0x3F, 0x80 | bcd(tc.seconds), 0x80 | bcd(tc.minutes),
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
        // Any other slot the muxer filled with a date or time gets the same
        // value, so no reader finds two different dates in one frame.
        for (int i = 0; i < kVauxPacks; ++i) {
            std::uint8_t* pack = frame + vauxPackOffset(s, i);
            if (pack[0] == kPackVideoRecDate) putDate(pack, kPackVideoRecDate, when);
            if (pack[0] == kPackVideoRecTime) putTime(pack, kPackVideoRecTime, when);
        }
        putDate(frame + vauxPackOffset(s, kVauxDateIndex), kPackVideoRecDate, when);
        putTime(frame + vauxPackOffset(s, kVauxTimeIndex), kPackVideoRecTime, when);
        const int dateBlock = aauxSourceBlock(s) + 2;
        putDate(frame + aauxPackOffset(s, dateBlock), kPackAudioRecDate, when);
        putTime(frame + aauxPackOffset(s, dateBlock + 1), kPackAudioRecTime, when);
    }
    return true;
}

std::optional<KadTimecode> readTimecode(const std::uint8_t* frame, std::size_t size)
{
    const int sequences = sequenceCount(size);
    if (!frame || sequences == 0) return std::nullopt;
    const std::uint8_t* p = findSubcodePack(frame, 0, sequences, kPackTimecode);
    if (!p) return std::nullopt;
    return KadTimecode{
        static_cast<guint>(fromBcd(p[4], 0x3F)), static_cast<guint>(fromBcd(p[3], 0x7F)),
        static_cast<guint>(fromBcd(p[2], 0x7F)), static_cast<guint>(fromBcd(p[1], 0x3F))};
}

std::optional<RecordingDateTime>
readSequenceRecordingDateTime(const std::uint8_t* frame, std::size_t size, int sequence, bool audio)
{
    const int sequences = sequenceCount(size);
    if (!frame || sequence < 0 || sequence >= sequences) return std::nullopt;
    const auto find = audio ? findAauxPack : findVauxPack;
    const std::uint8_t* date =
        find(frame, sequence, sequence + 1, audio ? kPackAudioRecDate : kPackVideoRecDate);
    const std::uint8_t* time =
        find(frame, sequence, sequence + 1, audio ? kPackAudioRecTime : kPackVideoRecTime);
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
