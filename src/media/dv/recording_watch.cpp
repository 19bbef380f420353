#include "media/dv/recording_watch.h"

#include "media/dv/dv_packs.h"

#include <array>
#include <cstdio>

namespace kad::dv {

namespace {

constexpr std::uint64_t kSecond = 1000000000;
constexpr std::uint64_t kFallbackFrameDuration = kSecond / 25;
constexpr int kFirstDvYear = 1995;

// The size of the frame that starts at data: a buffer of exactly one frame
// tells by its size; a longer one by its header block, which says 625/50 or
// 525/60 (DSF, the top bit of its fourth byte). 0 when the buffer is too short
// to hold that frame, so a truncated frame is never read past its end.
std::size_t frameSize(const std::uint8_t* data, std::size_t size)
{
    if (!data) return 0;
    if (isDvFrameSize(size)) return size;
    if (size < kDifBlockSize) return 0;
    const std::size_t expected = announcedFrameSize(data);
    return size >= expected ? expected : 0;
}

// The REC ST bit of a source-control pack: the top bit of its second data
// byte, 0 on the first frames of a recording.
bool marksRecordingStart(const std::uint8_t* pack, std::uint8_t id)
{
    return pack[0] == id && (pack[2] & 0x80) == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

std::int64_t daysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The value more than half of the frame's sequences carry, VAUX or AAUX.
std::optional<RecordingDateTime> agreedFrom(const std::uint8_t* frame, std::size_t size, bool audio)
{
    const int sequences = sequenceCount(size);
    std::array<std::optional<RecordingDateTime>, kSequencesPal> read{};
    for (int s = 0; s < sequences; ++s) {
        read[s] = readSequenceRecordingDateTime(frame, size, s, audio);
        if (read[s] && !isPlausible(*read[s])) read[s].reset();
    }
    for (int s = 0; s < sequences; ++s) {
        if (!read[s]) continue;
        int same = 0;
        for (int t = 0; t < sequences; ++t)
            same += read[t] == read[s] ? 1 : 0;
        if (same * 2 > sequences) return read[s];
    }
    return std::nullopt;
}

std::optional<TapeTimecode> timecodeOf(const std::uint8_t* frame, std::size_t size)
{
    const std::optional<KadTimecode> tc = readTimecode(frame, size);
    if (!tc) return std::nullopt;
    TapeTimecode out{static_cast<int>(tc->hours), static_cast<int>(tc->minutes),
                     static_cast<int>(tc->seconds), static_cast<int>(tc->frames)};
    if (out.hours > 23 || out.minutes > 59 || out.seconds > 59 || out.frames > 29)
        return std::nullopt;
    return out;
}

} // namespace

std::int64_t secondsOf(const RecordingDateTime& when)
{
    return daysFromCivil(when.year, when.month, when.day) * 86400 + when.hour * 3600 +
           when.minute * 60 + when.second;
}

RecordingDateTime fromSeconds(std::int64_t seconds)
{
    std::int64_t days = seconds / 86400;
    std::int64_t inDay = seconds % 86400;
    if (inDay < 0) {
        inDay += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    RecordingDateTime value;
    value.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    value.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    value.year = static_cast<int>(yearOfEra + era * 400 + (value.month <= 2 ? 1 : 0));
    value.hour = static_cast<int>(inDay / 3600);
    value.minute = static_cast<int>(inDay % 3600 / 60);
    value.second = static_cast<int>(inDay % 60);
    return value;
}

bool isPlausible(const RecordingDateTime& when)
{
    // No DV recording is older than the format. Tools that make DV from
    // other material stamp 1970-01-01 (the epoch) when they know no date.
    return when.year >= kFirstDvYear && when.month >= 1 && when.month <= 12 && when.day >= 1 &&
           when.day <= daysInMonth(when.year, when.month) && when.hour >= 0 && when.hour <= 23 &&
           when.minute >= 0 && when.minute <= 59 && when.second >= 0 && when.second <= 59;
}

std::string fileNameStamp(const RecordingDateTime& when)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04d.%02d.%02d_%02d-%02d-%02d", when.year, when.month,
                  when.day, when.hour, when.minute, when.second);
    return text;
}

std::optional<RecordingDateTime> agreedRecordingDateTime(const std::uint8_t* data, std::size_t size)
{
    const std::size_t frame = frameSize(data, size);
    if (frame == 0) return std::nullopt;
    if (auto video = agreedFrom(data, frame, false)) return video;
    return agreedFrom(data, frame, true);
}

// A camcorder repeats the pack in every DIF sequence, so most sequences must
// say so: noise over a damaged frame spells the pack's ID now and then, and
// one stray copy must not start a recording. A frame where most sequences
// carry no source-control pack at all tells nothing either way.
StartFlag readRecordingStartFlag(const std::uint8_t* data, std::size_t size)
{
    const std::size_t frame = frameSize(data, size);
    const int sequences = sequenceCount(frame);
    if (sequences == 0) return StartFlag::Unreadable;
    int videoPacks = 0;
    int videoStarts = 0;
    int audioPacks = 0;
    int audioStarts = 0;
    for (int s = 0; s < sequences; ++s) {
        bool packSeen = false;
        bool startSeen = false;
        for (int i = 0; i < kVauxPacks; ++i) {
            const std::uint8_t* pack = data + vauxPackOffset(s, i);
            if (pack[0] != kPackVideoSourceControl) continue;
            packSeen = true;
            startSeen = startSeen || marksRecordingStart(pack, kPackVideoSourceControl);
        }
        videoPacks += packSeen ? 1 : 0;
        videoStarts += startSeen ? 1 : 0;
        if (const std::uint8_t* pack = findAauxPack(data, s, s + 1, kPackAudioSourceControl)) {
            ++audioPacks;
            audioStarts += marksRecordingStart(pack, kPackAudioSourceControl) ? 1 : 0;
        }
    }
    if (videoStarts * 2 > sequences) return StartFlag::Set;
    if (videoPacks * 2 > sequences) return StartFlag::Clear;
    if (audioStarts * 2 > sequences) return StartFlag::Set;
    if (audioPacks * 2 > sequences) return StartFlag::Clear;
    return StartFlag::Unreadable;
}

bool recordingStartFlag(const std::uint8_t* data, std::size_t size)
{
    return readRecordingStartFlag(data, size) == StartFlag::Set;
}

FrameRecording RecordingWatch::observe(const std::uint8_t* data, std::size_t size,
                                       std::optional<std::uint64_t> pts,
                                       std::optional<std::uint64_t> duration)
{
    FrameRecording out;
    const std::size_t frame = frameSize(data, size);
    StartFlag flag = StartFlag::Unreadable;
    if (frame != 0) {
        out.recorded = agreedRecordingDateTime(data, frame);
        out.timecode = timecodeOf(data, frame);
        flag = readRecordingStartFlag(data, frame);
    }
    out.startFlag = flag == StartFlag::Set;
    // A frame that tells nothing of the flag leaves the memory alone: a
    // dropout inside a flagged run must not make its next frame a start.
    bool fresh = out.startFlag && !startFlagBefore_;
    if (flag != StartFlag::Unreadable) startFlagBefore_ = out.startFlag;
    if (fresh) startPending_ = true;
    if (out.recorded) {
        const bool jump = lastGood_ && jumped(*out.recorded, out.timecode, frame, pts, duration);
        if (!lastGood_ || jump) fresh = true;
        out.split = anyDateSeen_ && (jump || startPending_);
        lastGood_ = out.recorded;
        lastGoodPts_ = pts;
        lastGoodTimecode_ = out.timecode;
        framesSinceGood_ = 0;
        anyDateSeen_ = true;
        startPending_ = false;
    } else {
        // The date of a recording that just began is not known yet; the
        // previous one's would be wrong.
        if (fresh) lastGood_.reset();
        ++framesSinceGood_;
    }
    out.newRecording = fresh;
    return out;
}

void RecordingWatch::reset()
{
    *this = RecordingWatch{};
}

// A camcorder's clock runs with the tape: from one good reading to the next
// it may advance by the time that passed (frames without a readable pack
// included) and a second of rounding, and a frame may still carry the second
// before (its packs written just ahead of the tick). Anything else is another
// recording.
//
// The tape timecode says best how much tape ran between the two frames: in a
// live capture a paused or wound tape lets the clock of the capture run on
// while no frame comes, and a recording made later would pass for the same
// one. Without timecodes the frames count the time, and the time stamps only
// when nothing else is known.
bool RecordingWatch::jumped(const RecordingDateTime& now, const std::optional<TapeTimecode>& tc,
                            std::size_t frame, std::optional<std::uint64_t> pts,
                            std::optional<std::uint64_t> duration) const
{
    const std::int64_t advance = secondsOf(now) - secondsOf(*lastGood_);
    if (advance < -1) return true;
    std::optional<std::uint64_t> elapsed;
    if (tc && lastGoodTimecode_) {
        const std::int64_t perSecond = frame == kFrameSizePal ? 25 : 30;
        auto count = [perSecond](const TapeTimecode& t) {
            return ((t.hours * 60LL + t.minutes) * 60 + t.seconds) * perSecond + t.frames;
        };
        const std::int64_t frames = count(*tc) - count(*lastGoodTimecode_);
        if (frames >= 0)
            elapsed = static_cast<std::uint64_t>(frames) * kSecond /
                      static_cast<std::uint64_t>(perSecond);
    }
    const bool ptsKnown = pts && lastGoodPts_ && *pts >= *lastGoodPts_;
    if (!elapsed && ptsKnown && !duration) elapsed = *pts - *lastGoodPts_;
    if (!elapsed)
        elapsed = (framesSinceGood_ + 1) * (duration ? *duration : kFallbackFrameDuration);
    const std::int64_t allowed = static_cast<std::int64_t>(*elapsed / kSecond) + 1;
    return advance > allowed;
}

} // namespace kad::dv
