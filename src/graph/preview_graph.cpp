// The preview graphs, their audio branches and reading the source format.

#include "graph/preview_builder.h"

#include "graph/dm_cam.h"

#include "elements/horodex.h"
#include "graph/dv_half_size.h"
#include "graph/frame_counter.h"
#include "system/log.h"

#include <mutex>
#include <optional>
#include <string>

namespace kad {

namespace {

constexpr gint64 kNtscFrameDuration = 333667;

// What the source's caps or its first DV frame tell of the picture.
struct SourceFormat {
    gint64 duration = 0;
    int width = 0;
    int height = 0;
};

SourceFormat dvFormat(bool is50Hz)
{
    return is50Hz ? SourceFormat{kDefaultFrameDuration, 720, 576}
                  : SourceFormat{kNtscFrameDuration, 720, 480};
}

// From fixed caps: raw video by its size and rate, DV by its "format".
std::optional<SourceFormat> formatFromCaps(const GstCaps* caps)
{
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return std::nullopt;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    if (gst_structure_has_name(s, "video/x-dv")) {
        const char* format = gst_structure_get_string(s, "format");
        if (format && g_ascii_strcasecmp(format, "PAL") == 0) return dvFormat(true);
        if (format && g_ascii_strcasecmp(format, "NTSC") == 0) return dvFormat(false);
        return std::nullopt;
    }
    int width = 0, height = 0, num = 0, den = 0;
    if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height))
        return std::nullopt;
    SourceFormat f{kDefaultFrameDuration, width, height};
    if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0)
        f.duration = (gint64(10000000) * den + num / 2) / num;
    return f;
}

// The DSF bit of a DV frame's header block: set for 625 lines, 50 Hz.
std::optional<SourceFormat> formatFromDvFrame(GstBuffer* buffer)
{
    guint8 header[4];
    if (gst_buffer_extract(buffer, 0, header, sizeof header) != sizeof header) return std::nullopt;
    return dvFormat((header[3] & 0x80) != 0);
}

} // namespace

// Watches the source pad: the picture format is known for sure only once
// data flows (caps of raw video, the header of the first DV frame). The
// probe hands what it finds to the GUI thread as a bus message.
//
// The sync correction counts frames, so it is only right once the frame
// duration is known; the sound-card sound passes its shifter meanwhile,
// and a non-live or busy source may send seconds of it before the GUI
// thread hears the bus message. The probe therefore moves the shifter
// itself, in the streaming thread, as soon as the duration is seen.
struct FormatWatch {
    GstElement* poster = nullptr; // the source element; outlives its own pad's probe
    gint64 lastDuration = 0;
    int lastWidth = 0;
    int lastHeight = 0;

    // Shared with the GUI thread, under `lock`.
    std::mutex lock;
    ElementRef shifter;      // the sound-card sound's horodex, or none
    int correction = 0;      // frames
    gint64 seenDuration = 0; // the duration the source told (0: none yet)

    // Sets the shifter for `correction` frames of `duration`; under `lock`.
    void shift(gint64 duration)
    {
        if (!shifter) return;
        kad_horodex_set_offset(shifter.get(), gint64(correction) * duration);
        kad_horodex_apply(shifter.get());
    }
};

namespace {

void postFormat(FormatWatch* w, const SourceFormat& f)
{
    if (f.duration == w->lastDuration && f.width == w->lastWidth && f.height == w->lastHeight)
        return;
    if (f.duration != w->lastDuration) {
        std::lock_guard<std::mutex> held(w->lock);
        w->seenDuration = f.duration;
        w->shift(f.duration);
    }
    w->lastDuration = f.duration;
    w->lastWidth = f.width;
    w->lastHeight = f.height;
    GstStructure* s = gst_structure_new("kad-format", "duration", G_TYPE_INT64, f.duration, "width",
                                        G_TYPE_INT, f.width, "height", G_TYPE_INT, f.height, NULL);
    gst_element_post_message(w->poster, gst_message_new_application(GST_OBJECT(w->poster), s));
}

GstPadProbeReturn onSourceData(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    auto* w = static_cast<FormatWatch*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        CapsRef caps(gst_pad_get_current_caps(pad));
        if (caps && gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "video/x-dv"))
            if (auto f = formatFromDvFrame(GST_PAD_PROBE_INFO_BUFFER(info))) postFormat(w, *f);
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        if (auto f = formatFromCaps(caps)) postFormat(w, *f);
    }
    return GST_PAD_PROBE_OK;
}

void deleteWatch(gpointer data)
{
    // GLib hands the user data back here; adopting it frees it.
    std::unique_ptr<FormatWatch> owned(static_cast<FormatWatch*>(data));
}

bool isHorodex(GstElement* e)
{
    return e && KAD_IS_HORODEX(e);
}

// Names the DV decoder in the log when it differs from the one named last,
// not at every preview.
void logDvDecoder(const std::string& factory)
{
    static std::string named;
    if (factory.empty() || factory == named) return;
    named = factory;
    WriteLog(QStringLiteral("DV video decoder: %1").arg(QString::fromStdString(factory)));
}

// Says which DV preview chain is built when it differs from the last one.
void logDvPreviewSize(bool halfSize)
{
    static int said = -1;
    if (said == int(halfSize)) return;
    said = int(halfSize);
    WriteLog(halfSize ? QStringLiteral("DV preview: stills from the DV frames, the picture decoded "
                                       "at half size while the window is at most half its size")
                      : QStringLiteral("DV preview: the picture decoded at full size"));
}

} // namespace

TpreviewBuilder::TpreviewBuilder(TfilterGraph& graph, TsourceConnection& source,
                                 TcaptureRun& capture, QObject* parent)
    : QObject(parent), graph_(graph), source_(source), capture_(capture),
      sourceFrames_(std::make_unique<TframeCounter>())
{
}

TpreviewBuilder::~TpreviewBuilder() = default;

// ---- Linking slots -------------------------------------------------------------

TfilterSlot* TpreviewBuilder::deint()
{
    if (!options_.DeinterlacerOn) return nullptr;
    graph().place(graph().Deinterlacer);
    return &graph().Deinterlacer;
}

// ---- Dispatcher ------------------------------------------------------------------

bool TpreviewBuilder::BuildPreviewGraph()
{
    // After a capture, the preview it was added to is had back as it was.
    bool built = capture_.reusePreview();
    // A capture that took the decoded picture had it at full size.
    if (built) ReleaseFullSize(graph().DVDEcoder.Element());
    if (!built) {
        switch (Source().Kind()) {
        case kad::SourceKind::skDV:
            built = BuildPreviewDV();
            break;
        case kad::SourceKind::skMovieBoxB:
            built = BuildPreviewMovieBoxB();
            break;
        case kad::SourceKind::skAnalog:
            built = BuildPreviewAnalog();
            break;
        case kad::SourceKind::skMpeg2:
            built = BuildPreviewMpeg2();
            break;
        case kad::SourceKind::skNoVideo:
            break;
        }
    }
    if (!built) return false;
    ConfigureCompanionFilters();
    int rate = options_.ForceDVAudio44100 ? 44100 : 0;
    if (Source().Kind() == kad::SourceKind::skDV && options_.Audio == AudioKind::akIncluded)
        SetDVAudioRate(rate);
    return true;
}

void TpreviewBuilder::ConfigureCompanionFilters()
{
    if (inlaySetup_) inlaySetup_();
    if (isHorodex(graph().hdAudio.Element())) kad_horodex_prepare(graph().hdAudio.Element());
    applySyncOffset();
    if (isHorodex(graph().hdVideo.Element())) kad_horodex_prepare(graph().hdVideo.Element());
}

void TpreviewBuilder::applySyncOffset()
{
    if (!isHorodex(graph().hdAuto.Element())) return;
    if (!formatWatch_) {
        kad_horodex_set_offset(graph().hdAuto.Element(),
                               gint64(options_.CorrectionSync) * format_.FrameDuration);
        kad_horodex_apply(graph().hdAuto.Element());
        return;
    }
    // The source may have told its duration already, the GUI thread not yet
    // heard it: the duration seen wins over the guess.
    std::lock_guard<std::mutex> held(formatWatch_->lock);
    if (formatWatch_->shifter.get() != graph().hdAuto.Element())
        formatWatch_->shifter = ElementRef::ref(graph().hdAuto.Element());
    formatWatch_->correction = options_.CorrectionSync;
    formatWatch_->shift(formatWatch_->seenDuration > 0 ? formatWatch_->seenDuration
                                                       : format_.FrameDuration);
}

// ---- DV ---------------------------------------------------------------------------

bool TpreviewBuilder::BuildPreviewDV()
{
    if (Source().Kind() != kad::SourceKind::skDV || !Source().Pin()) return false;
    previewBuilt_ = false;
    graph().FreeAllFilters();
    graph().place(graph().Smarttee);
    graph().place(graph().NullRenderer);
    graph().place(graph().DVsplitter);
    if (graph().rs(Source().Pin().get(), &graph().Smarttee, graph().NullRenderer) ==
            LinkResult::MissingElement ||
        graph().rs(graph().Smarttee, nullptr, graph().DVsplitter) == LinkResult::MissingElement)
        return false;

    logDvDecoder(graph().DVDEcoder.BoundTo());
    // Without inlay or deinterlacer, a decoder that can decode at half size
    // follows the window's size; the grabber then keeps the DV frames ahead
    // of it, so stills stay full size.
    const bool halfSize = !options_.PermettreIncruster && !options_.DeinterlacerOn &&
                          graph().place(graph().DVDEcoder) &&
                          CanDecodeDvAtHalfSize(graph().DVDEcoder.Element());
    logDvPreviewSize(halfSize);
    if (options_.PermettreIncruster) {
        graph().place(graph().Infinite);
        graph().place(graph().DVDEcoder);
        graph().place(graph().Chronix);
        graph().place(graph().Lumatex);
        graph().rs(graph().DVsplitter, nullptr, graph().Infinite);
        // The tee's input is linked only once the splitter makes its video
        // pad, so its branches cannot tell yet that they will carry DV: the
        // picture branch goes through the placed decoder by name.
        TfilterSlot* d = deint();
        const LinkResult picture =
            d ? graph().rs(graph().Infinite, &graph().DVDEcoder, *d)
              : graph().rs(graph().Infinite, &graph().DVDEcoder, graph().Lumatex);
        if (picture == LinkResult::MissingElement ||
            (d && graph().rs(*d, nullptr, graph().Lumatex) == LinkResult::MissingElement) ||
            graph().rs(graph().Infinite, &graph().Chronix, graph().Lumatex) ==
                LinkResult::MissingElement)
            return false;
        graph().place(graph().Infinite2);
        graph().place(graph().sg);
        if (graph().rs(graph().Lumatex, &graph().Infinite2, graph().sg) ==
            LinkResult::MissingElement)
            return false;
    } else if (halfSize) {
        graph().place(graph().sg);
        graph().place(graph().Infinite2);
        // Linked by hand: before the splitter's pad exists the grabber could
        // still pass raw video, and the link helper would put converters
        // ahead of the decoder.
        if (!graph().sg.InGraph() ||
            !gst_element_link(graph().sg.Element(), graph().DVDEcoder.Element()) ||
            graph().rs(graph().DVDEcoder, nullptr, graph().Infinite2) == LinkResult::MissingElement)
            return false;
        graph().rs(graph().DVsplitter, nullptr, graph().sg, MediaHint::Video);
        FollowDisplaySize(graph().DVDEcoder.Element(), graph().VideoWindowFilter());
    } else {
        graph().place(graph().DVDEcoder);
        graph().rs(graph().DVsplitter, nullptr, graph().DVDEcoder);
        graph().place(graph().Infinite2);
        graph().place(graph().sg);
        if (graph().rs(graph().DVDEcoder, deint(), graph().Infinite2) ==
                LinkResult::MissingElement ||
            graph().rs(graph().Infinite2, nullptr, graph().sg) == LinkResult::MissingElement)
            return false;
    }
    graph().place(graph().hdVideo);
    if (graph().rsToWindow(halfSize ? graph().Infinite2 : graph().sg, &graph().hdVideo) ==
        LinkResult::MissingElement)
        return false;
    previewBuilt_ = true;
    if (options_.EcouterAudioInclus) UpdateIncludedAudio();
    if (options_.EnregistrerSourceAudio) UpdateAudioSourceBranch();
    ReadFormat();
    return true;
}

// ---- Analog -------------------------------------------------------------------------

bool TpreviewBuilder::BuildPreviewAnalog()
{
    if (!Source().Pin() || Source().Kind() != kad::SourceKind::skAnalog) return false;
    previewBuilt_ = false;
    graph().StopGraph();
    graph().FreeAllFilters();
    graph().place(graph().Smarttee);
    graph().place(graph().NullRenderer);
    if (graph().rs(Source().Pin().get(), &graph().Smarttee, graph().NullRenderer) ==
        LinkResult::MissingElement)
        return false;
    // The Smart Tee's pads in order: sink, capture, preview.
    PadRef preview(graph().Smarttee.InGraph()
                       ? gst_element_get_static_pad(graph().Smarttee.Element(), "preview")
                       : nullptr);
    graph().place(graph().sg);
    TfilterSlot* d = deint();
    if (options_.PermettreIncruster) {
        graph().place(graph().Lumatex);
        if (graph().rs(preview.get(), d, graph().Lumatex) == LinkResult::MissingElement)
            return false;
        graph().place(graph().Infinite2);
        graph().rs(graph().Lumatex, nullptr, graph().Infinite2);
        graph().rs(graph().Infinite2, nullptr, graph().sg);
        graph().place(graph().hdVideo);
        if (graph().rsToWindow(graph().sg, &graph().hdVideo) == LinkResult::MissingElement)
            return false;
    } else {
        graph().place(graph().Infinite2);
        if (!d) {
            if (graph().rs(preview.get(), &graph().Infinite2, graph().sg) ==
                LinkResult::MissingElement)
                return false;
        } else {
            if (graph().rs(preview.get(), d, graph().Infinite2) == LinkResult::MissingElement)
                return false;
            graph().rs(graph().Infinite2, nullptr, graph().sg);
        }
        if (graph().rsToWindow(graph().sg, nullptr) == LinkResult::MissingElement) return false;
    }
    previewBuilt_ = true;
    if (options_.EnregistrerSourceAudio) UpdateAudioSourceBranch();
    ReadFormat();
    return true;
}

// ---- Audio branches ------------------------------------------------------------------

bool TpreviewBuilder::UpdateIncludedAudio()
{
    if (Source().Kind() != kad::SourceKind::skDV &&
        Source().Kind() != kad::SourceKind::skMovieBoxB &&
        Source().Kind() != kad::SourceKind::skMpeg2)
        return false;
    if (graph().IsRunning()) graph().StopGraph();
    if (!options_.EcouterAudioInclus) {
        if (!graph().infinite4.InGraph()) return false;
        graph().infinite4.Remove();
        graph().MpegAudioDec.Remove();
        // An audio output left without data would hold the graph from
        // running: the playback end goes with its tap.
        graph().acm.Remove();
        graph().hdAudio.Remove();
        graph().AudioRender.Remove();
        graph().pruneHelpers();
        return true;
    }
    if (graph().infinite4.InGraph()) return false;
    graph().place(graph().AudioRender);
    if (Source().Kind() != kad::SourceKind::skDV) return UpdateIncludedAudioMpeg2();
    if (!graph().DVsplitter.InGraph()) return false;
    graph().place(graph().infinite4);
    graph().place(graph().acm);
    if (graph().rs(graph().DVsplitter, &graph().infinite4, graph().acm, MediaHint::Audio) ==
        LinkResult::MissingElement)
        return false;
    graph().place(graph().hdAudio);
    if (graph().rs(graph().acm, &graph().hdAudio, graph().AudioRender) ==
        LinkResult::MissingElement)
        return false;
    int rate = 44100;
    SetDVAudioRate(rate);
    return true;
}

bool TpreviewBuilder::AddAudioSourceBranch()
{
    graph().place(graph().AudioSource);
    graph().place(graph().infinite3);
    graph().place(graph().hdAuto);
    graph().rs(graph().AudioSource, &graph().hdAuto, graph().infinite3);
    return true;
}

bool TpreviewBuilder::UpdateAudioSourceBranch()
{
    if (GST_STATE_TARGET(GST_ELEMENT(graph().fg())) > GST_STATE_READY) graph().StopGraph();
    AddAudioSourceBranch();
    return true;
}

bool TpreviewBuilder::SelectAudioSource(const QString& name)
{
    return graph().BindFilterByName(FilterCategory::AudioInputDevices, name, graph().AudioSource);
}

bool TpreviewBuilder::SetDVAudioRate(int& rate)
{
    if (!graph().acm.InGraph()) return false;
    GstElement* filter = gst_bin_get_by_name(GST_BIN(graph().acm.Element()), "rate");
    if (!filter) return false;
    ElementRef owned(filter);
    if (rate <= 0) {
        PadRef in(gst_element_get_static_pad(graph().acm.Element(), "sink"));
        CapsRef caps(in ? gst_pad_get_current_caps(in.get()) : nullptr);
        int native = 0;
        if (caps) gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "rate", &native);
        rate = native;
    }
    // PCM, 16-bit: 4 bytes a sample frame in stereo. Without a known native
    // rate the output simply keeps the input's.
    CapsRef caps(rate > 0
                     ? gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "rate",
                                           G_TYPE_INT, rate, NULL)
                     : gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", NULL));
    const bool running = graph().IsRunning();
    if (running) gst_element_set_state(GST_ELEMENT(graph().fg()), GST_STATE_READY);
    g_object_set(filter, "caps", caps.get(), NULL);
    if (running) graph().RunGraph();
    return true;
}

// ---- Format ---------------------------------------------------------------------------

void TpreviewBuilder::ReadFormat()
{
    format_.FrameDuration = kDefaultFrameDuration;
    if (Source().Pin()) {
        CapsRef caps(gst_pad_get_current_caps(Source().Pin().get()));
        if (!caps) caps.reset(gst_pad_query_caps(Source().Pin().get(), nullptr));
        if (caps && gst_caps_is_fixed(caps.get())) {
            if (auto f = formatFromCaps(caps.get())) {
                format_.FrameDuration = f->duration;
                format_.VideoWidth = f->width;
                format_.VideoHeight = f->height;
            }
        } else if (caps && !gst_caps_is_empty(caps.get())) {
            // Unfixed caps still tell a DV source's standard.
            CapsRef first(gst_caps_copy_nth(caps.get(), 0));
            if (gst_structure_has_name(gst_caps_get_structure(first.get(), 0), "video/x-dv"))
                if (auto f = formatFromCaps(first.get())) {
                    format_.FrameDuration = f->duration;
                    format_.VideoWidth = f->width;
                    format_.VideoHeight = f->height;
                }
        }
    }
    watchSourceFormat();
}

void TpreviewBuilder::watchSourceFormat()
{
    unwatchSourceFormat();
    if (!Source().Pin()) return;
    GstElement* poster = graph().VideoSource.Element();
    if (!poster) return;
    auto* watch = new FormatWatch;
    watch->poster = poster;
    watch->lastDuration = format_.FrameDuration;
    watch->lastWidth = format_.VideoWidth;
    watch->lastHeight = format_.VideoHeight;
    formatProbe_ = gst_pad_add_probe(
        Source().Pin().get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        onSourceData, watch, deleteWatch);
    formatPad_ = Source().Pin();
    formatWatch_ = watch;
    applySyncOffset();
    sourceFrames_->Attach(Source().Pin().get());
}

void TpreviewBuilder::unwatchSourceFormat()
{
    if (formatPad_ && formatProbe_) gst_pad_remove_probe(formatPad_.get(), formatProbe_);
    formatProbe_ = 0;
    formatWatch_ = nullptr;
    formatPad_.reset();
    sourceFrames_->Detach();
}

void TpreviewBuilder::applyFormat(gint64 duration, int width, int height)
{
    if (duration == format_.FrameDuration && width == format_.VideoWidth &&
        height == format_.VideoHeight)
        return;
    format_.FrameDuration = duration;
    format_.VideoWidth = width;
    format_.VideoHeight = height;
    applySyncOffset();
    emit FormatChanged();
}

} // namespace kad
