#pragma once

// Follows the recordings on a DV tape, one whole frame at a time: the date and
// time each frame was recorded, its tape timecode, and where a new recording
// begins. Plain C++ (no GStreamer, no Qt), so the writers, the datecode
// element and the program share one rule.
//
// A new recording begins where the camcorder's clock jumps (back more than a
// second, or ahead by more than the tape that ran plus a second) or where the
// camcorder flags a recording start (REC ST in the source-control packs of
// most DIF sequences). Noise over a damaged frame can spell a date now and
// then, so a date counts only when most DIF sequences of the frame agree on
// it and it is a real calendar date and time of day from 1995 on.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kad::dv {

struct RecordingDateTime {
    int year = 0; // four digits
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const RecordingDateTime&) const = default;
};

// The tape position of a frame (subcode timecode).
struct TapeTimecode {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;

    bool operator==(const TapeTimecode&) const = default;
};

struct FrameRecording {
    // Empty when the frame carries no readable date (or no DV frame at all).
    std::optional<RecordingDateTime> recorded;
    std::optional<TapeTimecode> timecode;
    // The camcorder marks this frame as part of a recording's start.
    bool startFlag = false;
    // This frame begins a recording as far as the stream has shown: the
    // first readable date of the stream, a clock jump, or the first frame of
    // a start flag (even one without a readable date).
    bool newRecording = false;
    // A recording after an earlier one begins here, and this frame tells its
    // date: the frame a file cut belongs before. Never set on a frame without
    // a readable date, nor for the stream's first date.
    bool split = false;
};

// The frame's date and time in seconds from 1970-01-01 (no time zone).
std::int64_t secondsOf(const RecordingDateTime& when);
RecordingDateTime fromSeconds(std::int64_t seconds);
// True for a real calendar date and a time of day, from 1995 (the first DV
// camcorders) on: earlier dates are a clock never set or the epoch that
// other tools write when they know no date.
bool isPlausible(const RecordingDateTime& when);
// "YYYY.MM.DD_HH-MM-SS", usable in a file name.
std::string fileNameStamp(const RecordingDateTime& when);

// Reads the date and time most DIF sequences agree on, from the VAUX packs,
// else from their AAUX copies. The buffer may hold more than one frame; only
// the first is read, and a buffer too short for its frame reads as nothing.
std::optional<RecordingDateTime> agreedRecordingDateTime(const std::uint8_t* data,
                                                         std::size_t size);
// What the source-control packs of a frame say of a recording start: set or
// clear when most DIF sequences carry the pack (VAUX, or AAUX when most
// sequences carry no VAUX one), unreadable otherwise (a dropout, no DV frame).
enum class StartFlag { Clear, Set, Unreadable };
StartFlag readRecordingStartFlag(const std::uint8_t* data, std::size_t size);
// True when most DIF sequences flag a recording start.
bool recordingStartFlag(const std::uint8_t* data, std::size_t size);

class RecordingWatch {
public:
    // Feeds the next frame of the stream. pts and duration are in
    // nanoseconds when known. The time that passed between two dated frames
    // is read from their tape timecodes, else counted from the frames (of
    // duration, else 1/25 s), else from pts.
    FrameRecording observe(const std::uint8_t* data, std::size_t size,
                           std::optional<std::uint64_t> pts = std::nullopt,
                           std::optional<std::uint64_t> duration = std::nullopt);
    // Forgets everything: the next frame is read as the stream's first.
    void reset();

    // The latest readable date of the recording now playing, if any.
    const std::optional<RecordingDateTime>& lastRecorded() const { return lastGood_; }

private:
    bool jumped(const RecordingDateTime& now, const std::optional<TapeTimecode>& tc,
                std::size_t frame, std::optional<std::uint64_t> pts,
                std::optional<std::uint64_t> duration) const;

    std::optional<RecordingDateTime> lastGood_;
    std::optional<std::uint64_t> lastGoodPts_;
    std::optional<TapeTimecode> lastGoodTimecode_;
    std::uint64_t framesSinceGood_ = 0;
    bool startFlagBefore_ = false;
    bool anyDateSeen_ = false;
    bool startPending_ = false;
};

} // namespace kad::dv
