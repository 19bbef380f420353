#include "graph/capture_report_hooks.h"

#include "graph/frame_counter.h"
#include "system/capture_format.h"

namespace kad {

namespace {

// Written frames as the counter at the writer's video input sees them: the
// report's probe counts the same pad from the same moment.
std::uint64_t writtenOf(TcaptureRun& run)
{
    return run.WrittenFrames().Frames();
}

bool hasProperty(GstElement* e, const char* name)
{
    return e && g_object_class_find_property(G_OBJECT_GET_CLASS(e), name);
}

// The writer's own count of the frames in its current file, where it keeps
// one (filled slots included).
std::optional<std::uint64_t> framesInFile(GstElement* writer)
{
    if (!hasProperty(writer, "frames-written")) return std::nullopt;
    guint64 frames = 0;
    g_object_get(writer, "frames-written", &frames, NULL);
    return frames;
}

} // namespace

void TcaptureRun::SetCaptureEndReason(CaptureEnd why, const QString& detail)
{
    if (capture_) capture_->report.SetEnd(why, detail);
}

void BeginCaptureReport(TcaptureRun& run, TcaptureRun::TcaptureState& s)
{
    if (!run.preview().Options().CaptureReport) {
        s.report.Stop();
        return;
    }
    TcaptureReporter::Setup r;
    r.videoFile = run.CaptureFileName();
    r.format = run.Options().FormatName;
    if (r.format.isEmpty())
        r.format = CaptureExtension(CaptureFormatOf(run.Source().Kind(), run.Options().FormatIndex))
                       .mid(1)
                       .toUpper();
    r.source = QString::fromStdString(run.graph().VideoSource.BoundTo());
    r.dv = run.Source().Kind() == SourceKind::skDV;
    r.sourcePad = run.Source().Pin().get();
    r.writerPad = s.counted.get();
    // A re-encoding path keeps the frame rate before the writer; a writer that
    // counts the slots it filled keeps them itself.
    if (CaptureReencodes(CaptureFormatOf(run.Source().Kind(), run.Options().FormatIndex)))
        r.lostSlots = TcaptureReporter::LostSlots::FilledUpstream;
    else if (hasProperty(s.writer.get(), "lost-frames"))
        r.lostSlots = TcaptureReporter::LostSlots::FilledByWriter;
    s.report.Begin(r);
}

void ReportFileSwitched(TcaptureRun& run, TcaptureRun::TcaptureState& s,
                        const GstStructure* switched)
{
    if (!s.report.Active() || !switched) return;
    const QString newFile = QString::fromUtf8(gst_structure_get_string(switched, "new-location"));
    std::optional<std::uint64_t> frames;
    guint64 n = 0;
    if (gst_structure_get_uint64(switched, "frames", &n)) frames = n;
    std::optional<CaptureEnd> why;
    if (g_strcmp0(gst_structure_get_string(switched, "reason"), "recording") == 0)
        why = CaptureEnd::Split;
    s.report.FileSwitched(newFile, frames, GST_CLOCK_TIME_NONE, writtenOf(run), why);
}

void ReportFileCut(TcaptureRun& run, TcaptureRun::TcaptureState& s, const QString& newFile,
                   GstClockTime cutTime)
{
    s.report.FileSwitched(newFile, std::nullopt, cutTime, writtenOf(run));
}

void FinishCaptureReport(TcaptureRun& run, TcaptureRun::TcaptureState& s)
{
    if (!s.report.Active()) return;
    std::optional<std::uint64_t> frames;
    if (s.kind == WriterKind::DvType1 || s.kind == WriterKind::Avi)
        frames = framesInFile(s.writer.get());
    s.report.Finished(writtenOf(run), frames);
}

} // namespace kad
