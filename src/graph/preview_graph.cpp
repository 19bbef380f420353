// The preview graphs, their audio branches and reading the source format.

#include "graph/dm_cam.h"

#include "elements/horodex.h"
#include "graph/frame_counter.h"
#include "system/log.h"

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

// Watches the source pad: the picture format is known for sure only once
// data flows (caps of raw video, the header of the first DV frame). The
// probe hands what it finds to the GUI thread as a bus message.
struct FormatWatch {
    GstElement* poster; // the source element; outlives its own pad's probe
    gint64 lastDuration = 0;
    int lastWidth = 0;
    int lastHeight = 0;
};

void postFormat(FormatWatch* w, const SourceFormat& f)
{
    if (f.duration == w->lastDuration && f.width == w->lastWidth && f.height == w->lastHeight)
        return;
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

} // namespace

// ---- Linking slots -------------------------------------------------------------

bool TdmCam::place(TfilterSlot& slot)
{
    return slot.Place(Graph());
}

// A slot given to a link must be in the graph; a missing one is reported
// as MissingElement, which ends the build (the builders check for it only;
// every other outcome of a link is left for the picture to show).
LinkResult TdmCam::rs(TfilterSlot& a, TfilterSlot* b, TfilterSlot& c, MediaHint hint)
{
    if (b && !b->InGraph()) return LinkResult::MissingElement;
    return RenderStream(Graph(), a.Element(), b ? b->Element() : nullptr, c.Element(), hint);
}

LinkResult TdmCam::rs(GstPad* a, TfilterSlot* b, TfilterSlot& c)
{
    if (b && !b->InGraph()) return LinkResult::MissingElement;
    return RenderStreamFromPad(Graph(), a, b ? b->Element() : nullptr, c.Element());
}

LinkResult TdmCam::rsToWindow(TfilterSlot& a, TfilterSlot* b)
{
    if (b && !b->InGraph()) return LinkResult::MissingElement;
    return RenderStream(Graph(), a.Element(), b ? b->Element() : nullptr, videoWindow_.get());
}

TfilterSlot* TdmCam::deint()
{
    if (!Options.DeinterlacerOn) return nullptr;
    place(Deinterlacer);
    return &Deinterlacer;
}

// ---- Dispatcher ------------------------------------------------------------------

bool TdmCam::BuildPreviewGraph()
{
    // After a capture, the preview it was added to is had back as it was.
    bool built = reusePreview();
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
    int rate = Options.ForceDVAudio44100 ? 44100 : 0;
    if (Source().Kind() == kad::SourceKind::skDV && Options.Audio == AudioKind::akIncluded)
        SetDVAudioRate(rate);
    return true;
}

void TdmCam::ConfigureCompanionFilters()
{
    if (InlaySetup) InlaySetup();
    if (isHorodex(hdAudio.Element())) kad_horodex_prepare(hdAudio.Element());
    applySyncOffset();
    if (isHorodex(hdVideo.Element())) kad_horodex_prepare(hdVideo.Element());
}

void TdmCam::applySyncOffset()
{
    if (!isHorodex(hdAuto.Element())) return;
    kad_horodex_set_offset(hdAuto.Element(), gint64(Options.CorrectionSync) * FrameDuration);
    kad_horodex_apply(hdAuto.Element());
}

// ---- DV ---------------------------------------------------------------------------

bool TdmCam::BuildPreviewDV()
{
    if (Source().Kind() != kad::SourceKind::skDV || !Source().Pin()) return false;
    PreviewBuilt = false;
    FreeAllFilters();
    place(Smarttee);
    place(NullRenderer);
    place(DVsplitter);
    if (rs(Source().Pin().get(), &Smarttee, NullRenderer) == LinkResult::MissingElement ||
        rs(Smarttee, nullptr, DVsplitter) == LinkResult::MissingElement)
        return false;

    logDvDecoder(DVDEcoder.BoundTo());
    if (Options.PermettreIncruster) {
        place(Infinite);
        place(DVDEcoder);
        place(Chronix);
        place(Lumatex);
        rs(DVsplitter, nullptr, Infinite);
        // The tee's input is linked only once the splitter makes its video
        // pad, so its branches cannot tell yet that they will carry DV: the
        // picture branch goes through the placed decoder by name.
        TfilterSlot* d = deint();
        const LinkResult picture =
            d ? rs(Infinite, &DVDEcoder, *d) : rs(Infinite, &DVDEcoder, Lumatex);
        if (picture == LinkResult::MissingElement ||
            (d && rs(*d, nullptr, Lumatex) == LinkResult::MissingElement) ||
            rs(Infinite, &Chronix, Lumatex) == LinkResult::MissingElement)
            return false;
        place(Infinite2);
        place(sg);
        if (rs(Lumatex, &Infinite2, sg) == LinkResult::MissingElement) return false;
    } else {
        place(DVDEcoder);
        rs(DVsplitter, nullptr, DVDEcoder);
        place(Infinite2);
        place(sg);
        if (rs(DVDEcoder, deint(), Infinite2) == LinkResult::MissingElement ||
            rs(Infinite2, nullptr, sg) == LinkResult::MissingElement)
            return false;
    }
    place(hdVideo);
    if (rsToWindow(sg, &hdVideo) == LinkResult::MissingElement) return false;
    PreviewBuilt = true;
    if (Options.EcouterAudioInclus) UpdateIncludedAudio();
    if (Options.EnregistrerSourceAudio) UpdateAudioSourceBranch();
    ReadFormat();
    return true;
}

// ---- Analog -------------------------------------------------------------------------

bool TdmCam::BuildPreviewAnalog()
{
    if (!Source().Pin() || Source().Kind() != kad::SourceKind::skAnalog) return false;
    PreviewBuilt = false;
    StopGraph();
    FreeAllFilters();
    place(Smarttee);
    place(NullRenderer);
    if (rs(Source().Pin().get(), &Smarttee, NullRenderer) == LinkResult::MissingElement)
        return false;
    // The Smart Tee's pads in order: sink, capture, preview.
    PadRef preview(Smarttee.InGraph() ? gst_element_get_static_pad(Smarttee.Element(), "preview")
                                      : nullptr);
    place(sg);
    TfilterSlot* d = deint();
    if (Options.PermettreIncruster) {
        place(Lumatex);
        if (rs(preview.get(), d, Lumatex) == LinkResult::MissingElement) return false;
        place(Infinite2);
        rs(Lumatex, nullptr, Infinite2);
        rs(Infinite2, nullptr, sg);
        place(hdVideo);
        if (rsToWindow(sg, &hdVideo) == LinkResult::MissingElement) return false;
    } else {
        place(Infinite2);
        if (!d) {
            if (rs(preview.get(), &Infinite2, sg) == LinkResult::MissingElement) return false;
        } else {
            if (rs(preview.get(), d, Infinite2) == LinkResult::MissingElement) return false;
            rs(Infinite2, nullptr, sg);
        }
        if (rsToWindow(sg, nullptr) == LinkResult::MissingElement) return false;
    }
    PreviewBuilt = true;
    if (Options.EnregistrerSourceAudio) UpdateAudioSourceBranch();
    ReadFormat();
    return true;
}

// ---- Audio branches ------------------------------------------------------------------

bool TdmCam::UpdateIncludedAudio()
{
    if (Source().Kind() != kad::SourceKind::skDV &&
        Source().Kind() != kad::SourceKind::skMovieBoxB &&
        Source().Kind() != kad::SourceKind::skMpeg2)
        return false;
    if (IsRunning()) StopGraph();
    if (!Options.EcouterAudioInclus) {
        if (!infinite4.InGraph()) return false;
        infinite4.Remove();
        MpegAudioDec.Remove();
        // An audio output left without data would hold the graph from
        // running: the playback end goes with its tap.
        acm.Remove();
        hdAudio.Remove();
        AudioRender.Remove();
        pruneHelpers();
        return true;
    }
    if (infinite4.InGraph()) return false;
    place(AudioRender);
    if (Source().Kind() != kad::SourceKind::skDV) return UpdateIncludedAudioMpeg2();
    if (!DVsplitter.InGraph()) return false;
    place(infinite4);
    place(acm);
    if (rs(DVsplitter, &infinite4, acm, MediaHint::Audio) == LinkResult::MissingElement)
        return false;
    place(hdAudio);
    if (rs(acm, &hdAudio, AudioRender) == LinkResult::MissingElement) return false;
    int rate = 44100;
    SetDVAudioRate(rate);
    return true;
}

bool TdmCam::AddAudioSourceBranch()
{
    place(AudioSource);
    place(infinite3);
    place(hdAuto);
    rs(AudioSource, &hdAuto, infinite3);
    return true;
}

bool TdmCam::UpdateAudioSourceBranch()
{
    if (GST_STATE_TARGET(fg_.get()) > GST_STATE_READY) StopGraph();
    AddAudioSourceBranch();
    return true;
}

bool TdmCam::SelectAudioSource(const QString& name)
{
    return BindFilterByName(FilterCategory::AudioInputDevices, name, AudioSource);
}

bool TdmCam::SetDVAudioRate(int& rate)
{
    if (!acm.InGraph()) return false;
    GstElement* filter = gst_bin_get_by_name(GST_BIN(acm.Element()), "rate");
    if (!filter) return false;
    ElementRef owned(filter);
    if (rate <= 0) {
        PadRef in(gst_element_get_static_pad(acm.Element(), "sink"));
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
    const bool running = IsRunning();
    if (running) gst_element_set_state(fg_.get(), GST_STATE_READY);
    g_object_set(filter, "caps", caps.get(), NULL);
    if (running) RunGraph();
    return true;
}

// ---- Format ---------------------------------------------------------------------------

void TdmCam::ReadFormat()
{
    FrameDuration = kDefaultFrameDuration;
    if (Source().Pin()) {
        CapsRef caps(gst_pad_get_current_caps(Source().Pin().get()));
        if (!caps) caps.reset(gst_pad_query_caps(Source().Pin().get(), nullptr));
        if (caps && gst_caps_is_fixed(caps.get())) {
            if (auto f = formatFromCaps(caps.get())) {
                FrameDuration = f->duration;
                VideoWidth = f->width;
                VideoHeight = f->height;
            }
        } else if (caps && !gst_caps_is_empty(caps.get())) {
            // Unfixed caps still tell a DV source's standard.
            CapsRef first(gst_caps_copy_nth(caps.get(), 0));
            if (gst_structure_has_name(gst_caps_get_structure(first.get(), 0), "video/x-dv"))
                if (auto f = formatFromCaps(first.get())) {
                    FrameDuration = f->duration;
                    VideoWidth = f->width;
                    VideoHeight = f->height;
                }
        }
    }
    watchSourceFormat();
}

void TdmCam::watchSourceFormat()
{
    unwatchSourceFormat();
    if (!Source().Pin()) return;
    GstElement* poster = VideoSource.Element();
    if (!poster) return;
    auto* watch = new FormatWatch{poster};
    watch->lastDuration = FrameDuration;
    watch->lastWidth = VideoWidth;
    watch->lastHeight = VideoHeight;
    formatProbe_ = gst_pad_add_probe(
        Source().Pin().get(),
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        onSourceData, watch, deleteWatch);
    formatPad_ = Source().Pin();
    sourceFrames_->Attach(Source().Pin().get());
}

void TdmCam::unwatchSourceFormat()
{
    if (formatPad_ && formatProbe_) gst_pad_remove_probe(formatPad_.get(), formatProbe_);
    formatProbe_ = 0;
    formatPad_.reset();
    sourceFrames_->Detach();
}

void TdmCam::applyFormat(gint64 duration, int width, int height)
{
    if (duration == FrameDuration && width == VideoWidth && height == VideoHeight) return;
    FrameDuration = duration;
    VideoWidth = width;
    VideoHeight = height;
    applySyncOffset();
    emit FormatChanged();
}

} // namespace kad
