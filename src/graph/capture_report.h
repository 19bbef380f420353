#pragma once

// The capture report: a small text file beside each video file a capture
// ends, telling when it ran, what it recorded, which frames never made it
// and why the file ended. Users keep it with their tapes; support reads it
// instead of a whole log.
//
// The headless part (the facts, their text, where the file goes and how it
// is written) is plain Qt Core. TcaptureReporter collects the facts while a
// capture runs: a pad probe on the source's pad (after the DV frame screen)
// sees the gaps and, for DV, the tape's recordings; a probe where the video
// enters the writer places them in the file. The probes run on streaming
// threads and share only what is under the reporter's mutex; everything
// else is the GUI thread's.
//
// Where the report goes: "NAME.txt" beside "NAME.ext". A file of that name
// that is not the report of this very video (one the user made, or the
// report of NAME.other-ext) is never replaced: the report goes to
// "NAME.ext.txt", then "NAME (2).txt", "NAME (3).txt"... under the same rule.
// A report is recognised by its first two lines (kReportTitle, then the
// video file's name).

#include "platform/media/gst_ptr.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kad {

// How a capture file ended.
enum class CaptureEnd : std::uint8_t {
    Stopped,     // the user stopped the capture
    Cut,         // the user cut to a new file
    Split,       // a new recording on the tape began a new file
    DeviceLost,  // the source went away
    DiskFull,    // no room left on the disk
    WriteError,  // the file, an encoder or a muxer failed
    ScheduleEnd, // the scheduled end was reached
};

// "the user stopped the capture", ...
QString CaptureEndText(CaptureEnd end);

inline constexpr const char* kReportTitle = "Kadrillo capture report";
// Ranges of lost frames listed one by one; the rest are summed up.
inline constexpr std::size_t kListedLostRanges = 20;

// Frames missing from the file, one range of consecutive frames.
struct LostRange {
    std::uint64_t position = 0; // frame of the file where the gap is
    std::uint64_t count = 0;
    QString timecode; // tape timecode of the first frame after the gap, if known
};

// The lost frames of one file as ranges: the first kListedLostRanges, then
// only their number and frames.
struct LostRanges {
    std::vector<LostRange> listed;
    std::uint64_t moreRanges = 0;
    std::uint64_t moreFrames = 0;
    // Adds `count` frames missing at `position`. When `slotsKept` the writer
    // fills the missing frames' slots, so a gap right after the last one
    // (position = its end) continues it; otherwise nothing was written in
    // between when the position is the same.
    void Add(std::uint64_t position, std::uint64_t count, const QString& timecode, bool slotsKept);

private:
    std::optional<std::uint64_t> lastEnd_;
};

// A recording found on the tape (DV).
struct RecordingFound {
    std::uint64_t position = 0; // frame of the file where it begins
    QString recorded;           // "2006-05-14 10:31:07"
    QString timecode;           // "00:12:03:05", empty when unknown
};

struct CaptureReportFacts {
    QString videoFile;
    QDateTime started;
    QDateTime ended;
    QString format;
    QString source;
    bool dv = false;
    std::uint64_t framesWritten = 0;
    std::uint64_t framesLost = 0;
    LostRanges lost;
    std::uint64_t damaged = 0;
    std::vector<RecordingFound> recordings;
    CaptureEnd end = CaptureEnd::Stopped;
    QString endDetail; // what failed, for the error ends
};

// The report's text ("\n" line ends).
QString CaptureReportText(const CaptureReportFacts& facts);

// The file the report of videoFile goes to (see above); empty when every
// candidate is taken.
QString CaptureReportPath(const QString& videoFile);

struct ReportWritten {
    bool ok = false;
    QString path;  // where it went (or was meant to go)
    QString error; // why it could not be written
};

// Writes the text as a whole (written to a temporary file, then renamed), so
// a report is complete or absent.
ReportWritten WriteCaptureReport(const QString& videoFile, const QString& text);

// Collects a running capture's facts and writes one report per file. GUI
// thread, except the probes.
class TcaptureReporter {
public:
    // What becomes of a lost frame's place in the file.
    enum class LostSlots : std::uint8_t {
        Left,           // nothing: the frames after it move up
        FilledByWriter, // the writer fills it behind the counted pad
        FilledUpstream, // filled before the counted pad (a frame-rate keeper)
    };
    struct Setup {
        QString videoFile;
        QString format;
        QString source;
        bool dv = false;
        // Where the source's frames leave it (after the DV frame screen).
        GstPad* sourcePad = nullptr;
        // Where the video enters the writer (the counted pad).
        GstPad* writerPad = nullptr;
        LostSlots lostSlots = LostSlots::Left;
    };

    TcaptureReporter();
    ~TcaptureReporter();
    TcaptureReporter(const TcaptureReporter&) = delete;
    TcaptureReporter& operator=(const TcaptureReporter&) = delete;

    // A capture begins; a previous one still waiting for its last report
    // writes it first. `written` below: the frames counted so far where the video enters the
    // writer, by the graph's own counter of that pad.
    void Begin(const Setup& setup);
    bool Active() const { return active_; }
    // Why the current file ends. The first reason given holds until the
    // file has ended (a disk found full, then the stop that follows).
    void SetEnd(CaptureEnd end, const QString& detail = {});
    // The writer moved to newFile. framesInOld: the frames the writer says
    // the old file has; else cutTime (running time of the cut), else the
    // count now, tells where the old file ended. why: the writer's own
    // reason (a split), else the reason given, else a cut.
    void FileSwitched(const QString& newFile, std::optional<std::uint64_t> framesInOld,
                      GstClockTime cutTime, std::uint64_t written,
                      std::optional<CaptureEnd> why = std::nullopt);
    // The writer renamed the file it writes (after its recording date): the
    // report follows the video's name.
    void FileRenamed(const QString& oldFile, const QString& newFile);
    // The capture ended: the probes go, and the last file's report follows
    // once the messages already queued for the GUI thread are handled (a
    // switch made just before the end). framesInFile: the frames the writer
    // says its last file has, when it tells.
    void Finished(std::uint64_t written, std::optional<std::uint64_t> framesInFile = std::nullopt);
    // Drops the probes; a capture not finished yet gets no more reports.
    void Stop();

    // What the probes share with the GUI thread (capture_report.cpp).
    struct Shared;

private:
    void writeReport(const CaptureReportFacts& facts);
    CaptureReportFacts factsUpTo(std::uint64_t end) const;
    void detach();
    void completeFinish();

    std::shared_ptr<Shared> shared_;
    Setup setup_;
    PadRef sourcePad_;
    PadRef writerPad_;
    gulong sourceProbe_ = 0;
    gulong writerProbe_ = 0;
    bool active_ = false;
    // Finished, the last report waiting for the writer's queued messages.
    bool finishing_ = false;
    std::uint64_t finalWritten_ = 0;
    std::optional<std::uint64_t> finalFrames_;
    // Tells a queued completion that the reporter is still there.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    QString file_;
    QDateTime started_;
    std::uint64_t startFrame_ = 0;
    std::optional<CaptureEnd> end_;
    QString endDetail_;
};

} // namespace kad
