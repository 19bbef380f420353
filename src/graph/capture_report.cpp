#include "graph/capture_report.h"

#include "media/dv/dv_frame_screen.h"
#include "media/dv/recording_watch.h"
#include "system/log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QThreadPool>

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>

namespace kad {

namespace {

constexpr const char* kDateFormat = "yyyy-MM-dd HH:mm:ss";
// Writer frames remembered with their running time, to place a cut made by
// time: a few minutes of video, far more than a cut ever holds.
constexpr std::size_t kRecentFrames = 8192;
// Events kept per capture. A source that loses frames all the time for hours
// would make millions; past this many, a loss is added to the one before it,
// which leaves the totals right and only the ranges past the list merged.
constexpr std::size_t kMostEvents = 50000;

QString twoDigits(int n)
{
    return QString::number(n).rightJustified(2, QLatin1Char('0'));
}

QString timecodeText(const dv::TapeTimecode& tc)
{
    return twoDigits(tc.hours) + ':' + twoDigits(tc.minutes) + ':' + twoDigits(tc.seconds) + ':' +
           twoDigits(tc.frames);
}

QString recordedText(const dv::RecordingDateTime& when)
{
    return QString::number(when.year) + '-' + twoDigits(when.month) + '-' + twoDigits(when.day) +
           ' ' + twoDigits(when.hour) + ':' + twoDigits(when.minute) + ':' + twoDigits(when.second);
}

QString frames(std::uint64_t n)
{
    return QString::number(n) + (n == 1 ? " frame" : " frames");
}

// True when path holds the report of videoName (so it may be replaced), or
// nothing at all.
bool freeFor(const QString& path, const QString& videoName)
{
    if (!QFileInfo::exists(path)) return true;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
    const QString title = QString::fromUtf8(f.readLine(256)).trimmed();
    const QString video = QString::fromUtf8(f.readLine(4096)).trimmed();
    return title == QLatin1String(kReportTitle) && video == "Video file: " + videoName;
}

GstClockTime runningTimeOf(GstPad* pad, GstBuffer* buffer)
{
    GstClockTime ts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(ts)) ts = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(ts)) return GST_CLOCK_TIME_NONE;
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return ts;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    const GstClockTime running = segment->format == GST_FORMAT_TIME
                                     ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, ts)
                                     : ts;
    gst_event_unref(event);
    return running;
}

} // namespace

QString CaptureEndText(CaptureEnd end)
{
    switch (end) {
    case CaptureEnd::Stopped:
        return "the user stopped the capture";
    case CaptureEnd::Cut:
        return "the user cut the capture into a new file";
    case CaptureEnd::Split:
        return "a new recording on the tape began a new file";
    case CaptureEnd::DeviceLost:
        return "the capture device was lost";
    case CaptureEnd::DiskFull:
        return "the disk was full";
    case CaptureEnd::WriteError:
        return "a write error";
    case CaptureEnd::ScheduleEnd:
        return "the scheduled end of the capture";
    }
    return {};
}

void LostRanges::Add(std::uint64_t position, std::uint64_t count, const QString& timecode,
                     bool slotsKept)
{
    if (count == 0) return;
    if (lastEnd_ && position == *lastEnd_) {
        if (moreRanges > 0) {
            moreFrames += count;
        } else {
            listed.back().count += count;
        }
        lastEnd_ = slotsKept ? position + count : position;
        return;
    }
    if (listed.size() < kListedLostRanges) {
        listed.push_back({position, count, timecode});
    } else {
        ++moreRanges;
        moreFrames += count;
    }
    lastEnd_ = slotsKept ? position + count : position;
}

QString CaptureReportText(const CaptureReportFacts& f)
{
    QStringList lines;
    lines << QLatin1String(kReportTitle);
    lines << "Video file: " + QFileInfo(f.videoFile).fileName();
    lines << "Started: " + f.started.toString(kDateFormat);
    lines << "Ended: " + f.ended.toString(kDateFormat);
    lines << "Format: " + f.format;
    lines << "Source: " + f.source;
    lines << "Frames written: " + QString::number(f.framesWritten);
    lines << "Frames lost: " + QString::number(f.framesLost);
    for (const LostRange& r : f.lost.listed) {
        QString line = "  " + frames(r.count) + " at frame " + QString::number(r.position);
        if (!r.timecode.isEmpty()) line += ", before tape timecode " + r.timecode;
        lines << line;
    }
    if (f.lost.moreRanges > 0)
        lines << "  and " + QString::number(f.lost.moreRanges) + " more (" +
                     frames(f.lost.moreFrames) + ")";
    if (f.dv) {
        lines << "Damaged frames screened out: " + QString::number(f.damaged) +
                     (f.damaged ? " (counted as lost)" : "");
        lines << "Recordings on the tape: " + QString::number(f.recordings.size());
        for (const RecordingFound& r : f.recordings) {
            QString line = "  " + r.recorded;
            if (!r.timecode.isEmpty()) line += ", tape timecode " + r.timecode;
            line += ", at frame " + QString::number(r.position);
            lines << line;
        }
    }
    QString end = "Ended by: " + CaptureEndText(f.end);
    if (!f.endDetail.isEmpty()) end += " (" + f.endDetail + ")";
    lines << end;
    return lines.join('\n') + '\n';
}

QString CaptureReportPath(const QString& videoFile)
{
    const QFileInfo video(videoFile);
    const QDir dir = video.dir();
    const QString name = video.fileName();
    const QString base = video.completeBaseName();
    QStringList candidates{dir.filePath(base + ".txt"), dir.filePath(name + ".txt")};
    for (int n = 2; n < 100; ++n)
        candidates << dir.filePath(base + " (" + QString::number(n) + ").txt");
    for (const QString& c : candidates)
        if (freeFor(c, name)) return c;
    return {};
}

ReportWritten WriteCaptureReport(const QString& videoFile, const QString& text)
{
    ReportWritten w;
    w.path = CaptureReportPath(videoFile);
    if (w.path.isEmpty()) {
        w.error = "every name for it is taken";
        return w;
    }
    QSaveFile file(w.path);
    if (!file.open(QIODevice::WriteOnly)) {
        w.error = file.errorString();
        return w;
    }
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        w.error = file.errorString();
        file.cancelWriting();
        return w;
    }
    w.ok = true;
    return w;
}

// ---- Collecting -------------------------------------------------------------

namespace {

struct Event {
    bool lost = false;                      // else a recording
    GstClockTime key = GST_CLOCK_TIME_NONE; // running time of its frame
    std::uint64_t count = 0;
    std::uint64_t damaged = 0; // of count, the frames the DV screen dropped
    QString timecode;
    QString recorded;
    std::uint64_t position = 0; // writer frame, counted from the capture's start
};

} // namespace

struct TcaptureReporter::Shared {
    bool dv = false;
    // The source's streaming thread only.
    dv::RecordingWatch watch;
    guint64 nextOffset = GST_BUFFER_OFFSET_NONE;
    guint64 seen = 0;
    guint64 screened = 0;

    // Under the mutex.
    mutable std::mutex lock;
    std::deque<Event> pending;
    std::vector<Event> placed;
    std::deque<std::pair<GstClockTime, std::uint64_t>> recent;
    std::uint64_t written = 0;
};

namespace {

GstPadProbeReturn onSourceFrame(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    auto* s = static_cast<TcaptureReporter::Shared*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const guint64 offset = GST_BUFFER_OFFSET(buffer);
    std::uint64_t gap = 0;
    if (offset != GST_BUFFER_OFFSET_NONE && s->nextOffset != GST_BUFFER_OFFSET_NONE &&
        offset > s->nextOffset)
        gap = offset - s->nextOffset;
    else if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT) && s->seen > 0 &&
             offset == GST_BUFFER_OFFSET_NONE)
        gap = 1;
    s->nextOffset = offset == GST_BUFFER_OFFSET_NONE ? offset : offset + 1;
    ++s->seen;
    // The screen drops damaged frames before this probe sees the next one.
    const guint64 screened = ScreenedDvFrames(pad);
    const std::uint64_t damaged = std::min<std::uint64_t>(gap, screened - s->screened);
    s->screened = screened;

    dv::FrameRecording frame;
    if (s->dv) {
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            std::optional<std::uint64_t> pts, duration;
            if (GST_BUFFER_PTS_IS_VALID(buffer)) pts = GST_BUFFER_PTS(buffer);
            if (GST_BUFFER_DURATION_IS_VALID(buffer)) duration = GST_BUFFER_DURATION(buffer);
            frame = s->watch.observe(map.data, map.size, pts, duration);
            gst_buffer_unmap(buffer, &map);
        }
    }
    const bool recording = frame.newRecording && frame.recorded;
    if (gap == 0 && !recording) return GST_PAD_PROBE_OK;
    const GstClockTime key = runningTimeOf(pad, buffer);
    const QString timecode = frame.timecode ? timecodeText(*frame.timecode) : QString();
    std::lock_guard<std::mutex> hold(s->lock);
    if (gap > 0) {
        if (s->pending.size() >= kMostEvents && s->pending.back().lost) {
            s->pending.back().count += gap;
            s->pending.back().damaged += damaged;
        } else {
            s->pending.push_back({true, key, gap, damaged, timecode, {}, 0});
        }
    }
    if (recording)
        s->pending.push_back({false, key, 0, 0, timecode, recordedText(*frame.recorded), 0});
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onWriterFrame(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    auto* s = static_cast<TcaptureReporter::Shared*>(data);
    const GstClockTime running = runningTimeOf(pad, GST_PAD_PROBE_INFO_BUFFER(info));
    std::lock_guard<std::mutex> hold(s->lock);
    const std::uint64_t index = s->written++;
    s->recent.emplace_back(running, index);
    if (s->recent.size() > kRecentFrames) s->recent.pop_front();
    // An event belongs to the first frame at or after its own frame's time.
    while (!s->pending.empty()) {
        Event& e = s->pending.front();
        if (GST_CLOCK_TIME_IS_VALID(running) && GST_CLOCK_TIME_IS_VALID(e.key) && e.key > running)
            break;
        e.position = index;
        if (e.lost && s->placed.size() >= kMostEvents && s->placed.back().lost) {
            s->placed.back().count += e.count;
            s->placed.back().damaged += e.damaged;
        } else {
            s->placed.push_back(std::move(e));
        }
        s->pending.pop_front();
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

TcaptureReporter::TcaptureReporter() = default;

TcaptureReporter::~TcaptureReporter()
{
    detach();
    completeFinish();
}

void TcaptureReporter::detach()
{
    if (sourcePad_ && sourceProbe_) gst_pad_remove_probe(sourcePad_.get(), sourceProbe_);
    if (writerPad_ && writerProbe_) gst_pad_remove_probe(writerPad_.get(), writerProbe_);
    sourceProbe_ = writerProbe_ = 0;
    sourcePad_.reset();
    writerPad_.reset();
}

void TcaptureReporter::Begin(const Setup& setup)
{
    completeFinish();
    detach();
    setup_ = setup;
    shared_ = std::make_shared<Shared>();
    shared_->dv = setup.dv;
    shared_->screened = ScreenedDvFrames(setup.sourcePad);
    active_ = true;
    file_ = setup.videoFile;
    started_ = QDateTime::currentDateTime();
    startFrame_ = 0;
    end_.reset();
    endDetail_.clear();
    // The probes hold the shared state for as long as they may run.
    auto keep = [](const std::shared_ptr<Shared>& s) {
        return static_cast<gpointer>(std::make_unique<std::shared_ptr<Shared>>(s).release());
    };
    // GLib hands the holder back here; adopting it frees it.
    auto release = [](gpointer p) {
        std::unique_ptr<std::shared_ptr<Shared>> owned(static_cast<std::shared_ptr<Shared>*>(p));
    };
    if (setup.sourcePad) {
        sourcePad_ = PadRef::ref(setup.sourcePad);
        sourceProbe_ = gst_pad_add_probe(
            setup.sourcePad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad* pad, GstPadProbeInfo* info, gpointer p) {
                return onSourceFrame(pad, info, static_cast<std::shared_ptr<Shared>*>(p)->get());
            },
            keep(shared_), release);
    }
    if (setup.writerPad) {
        writerPad_ = PadRef::ref(setup.writerPad);
        writerProbe_ = gst_pad_add_probe(
            setup.writerPad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad* pad, GstPadProbeInfo* info, gpointer p) {
                return onWriterFrame(pad, info, static_cast<std::shared_ptr<Shared>*>(p)->get());
            },
            keep(shared_), release);
    }
}

void TcaptureReporter::SetEnd(CaptureEnd end, const QString& detail)
{
    if (!active_ || finishing_ || end_) return;
    end_ = end;
    endDetail_ = detail;
}

CaptureReportFacts TcaptureReporter::factsUpTo(std::uint64_t end) const
{
    CaptureReportFacts f;
    f.videoFile = file_;
    f.started = started_;
    f.ended = QDateTime::currentDateTime();
    f.format = setup_.format;
    f.source = setup_.source;
    f.dv = setup_.dv;
    f.framesWritten = end > startFrame_ ? end - startFrame_ : 0;
    f.end = end_.value_or(CaptureEnd::Stopped);
    f.endDetail = endDetail_;
    if (!shared_) return f;
    std::lock_guard<std::mutex> hold(shared_->lock);
    std::uint64_t filled = 0;
    const Event* before = nullptr; // the recording playing when the file began
    for (const Event& e : shared_->placed) {
        if (e.position < startFrame_) {
            if (!e.lost) before = &e;
            continue;
        }
        if (e.position >= end) break;
        const std::uint64_t at = e.position - startFrame_ + filled;
        if (e.lost) {
            f.framesLost += e.count;
            f.damaged += e.damaged;
            switch (setup_.lostSlots) {
            case LostSlots::Left:
                f.lost.Add(at, e.count, e.timecode, false);
                break;
            case LostSlots::FilledByWriter:
                f.lost.Add(at, e.count, e.timecode, true);
                filled += e.count;
                break;
            case LostSlots::FilledUpstream:
                // The filled slots passed the count before the frame after
                // the gap.
                f.lost.Add(at > e.count ? at - e.count : 0, e.count, e.timecode, true);
                break;
            }
        } else {
            if (f.recordings.empty() && at > 0 && before)
                f.recordings.push_back({0, before->recorded, {}});
            f.recordings.push_back({at, e.recorded, e.timecode});
        }
    }
    if (f.recordings.empty() && before) f.recordings.push_back({0, before->recorded, {}});
    return f;
}

void TcaptureReporter::FileSwitched(const QString& newFile,
                                    std::optional<std::uint64_t> framesInOld, GstClockTime cutTime,
                                    std::uint64_t written, std::optional<CaptureEnd> why)
{
    if (!active_) return;
    std::uint64_t end = written;
    if (framesInOld) {
        // The writer's count includes the slots it filled; the frames that
        // came in are the rest.
        std::uint64_t filled = 0;
        if (setup_.lostSlots == LostSlots::FilledByWriter && shared_) {
            std::lock_guard<std::mutex> hold(shared_->lock);
            for (const Event& e : shared_->placed) {
                if (!e.lost || e.position < startFrame_) continue;
                if (e.position - startFrame_ + filled >= *framesInOld) break;
                filled += e.count;
            }
        }
        end = startFrame_ + (*framesInOld > filled ? *framesInOld - filled : 0);
    } else if (GST_CLOCK_TIME_IS_VALID(cutTime) && shared_) {
        std::lock_guard<std::mutex> hold(shared_->lock);
        end = shared_->written;
        for (const auto& [running, index] : shared_->recent)
            if (GST_CLOCK_TIME_IS_VALID(running) && running >= cutTime) {
                end = index;
                break;
            }
    }
    // A file the writer ended by itself leaves the reason given meanwhile
    // (the stop that followed) to the file after it.
    std::optional<CaptureEnd> carried;
    QString carriedDetail;
    if (why) {
        carried = end_;
        carriedDetail = endDetail_;
        end_ = why;
        endDetail_.clear();
    } else if (!end_) {
        end_ = CaptureEnd::Cut;
    }
    CaptureReportFacts facts = factsUpTo(end);
    if (framesInOld) facts.framesWritten = *framesInOld;
    writeReport(facts);
    file_ = newFile;
    started_ = QDateTime::currentDateTime();
    startFrame_ = end;
    end_ = carried;
    endDetail_ = carriedDetail;
    if (shared_) {
        // Only the latest recording before the new file still matters.
        std::lock_guard<std::mutex> hold(shared_->lock);
        auto& placed = shared_->placed;
        const Event* lastRecording = nullptr;
        std::size_t firstKept = placed.size();
        for (std::size_t i = 0; i < placed.size(); ++i) {
            if (placed[i].position >= startFrame_) {
                firstKept = i;
                break;
            }
            if (!placed[i].lost) lastRecording = &placed[i];
        }
        std::vector<Event> kept;
        if (lastRecording) kept.push_back(*lastRecording);
        kept.insert(kept.end(), placed.begin() + std::ptrdiff_t(firstKept), placed.end());
        placed = std::move(kept);
    }
}

void TcaptureReporter::FileRenamed(const QString& oldFile, const QString& newFile)
{
    if (active_ && file_ == oldFile) file_ = newFile;
}

void TcaptureReporter::Finished(std::uint64_t written, std::optional<std::uint64_t> framesInFile)
{
    if (!active_ || finishing_) return;
    detach();
    finishing_ = true;
    finalWritten_ = written;
    finalFrames_ = framesInFile;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        completeFinish();
        return;
    }
    // A writer that moved on to another file (or renamed it) just before the
    // end has said so in a message still queued for the GUI thread: the last
    // report waits until it has been handled.
    std::weak_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        app,
        [this, alive] {
            if (alive.lock()) completeFinish();
        },
        Qt::QueuedConnection);
}

void TcaptureReporter::completeFinish()
{
    if (!finishing_) return;
    finishing_ = false;
    CaptureReportFacts facts = factsUpTo(finalWritten_);
    if (finalFrames_) facts.framesWritten = *finalFrames_;
    writeReport(facts);
    active_ = false;
    shared_.reset();
}

void TcaptureReporter::Stop()
{
    completeFinish();
    detach();
    active_ = false;
    shared_.reset();
}

void TcaptureReporter::writeReport(const CaptureReportFacts& facts)
{
    const QString video = facts.videoFile;
    const QString text = CaptureReportText(facts);
    // A capture that ended before its first frame may have left no file:
    // nothing to report beside.
    auto write = [video, text] {
        if (!QFileInfo::exists(video))
            return ReportWritten{false, {}, "the video file is not there"};
        return WriteCaptureReport(video, text);
    };
    auto logResult = [video](const ReportWritten& w) {
        if (w.ok)
            WriteLog("The capture report of " + video + " is " + w.path);
        else
            WriteLog("The capture report of " + video + " could not be written" +
                     (w.path.isEmpty() ? QString() : " to " + w.path) + ": " + w.error);
    };
    if (!QCoreApplication::instance()) {
        logResult(write());
        return;
    }
    // A slow disk (the one being captured to) must not hold the window; the
    // log is the GUI thread's, so the outcome goes back there. The program's
    // end waits for the global pool, so no report is cut short.
    QThreadPool::globalInstance()->start([write, logResult] {
        const ReportWritten w = write();
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [w, logResult] { logResult(w); }, Qt::QueuedConnection);
    });
}

} // namespace kad
