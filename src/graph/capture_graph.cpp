// The capture graphs: the dispatcher, one builder per source kind and
// format, the file writers, the cut into a new file while the graph runs,
// the frame counters and what happens when a file cannot be written or the
// source goes away.
//
// A capture never builds a graph of its own: it adds a writer to the running
// preview and links it to the taps the preview left free. The writers are
//   - kadaviwriter for every AVI of picture and sound (DV type 2, the
//     recompressed paths, whose DV muxer is split again in front of it, and
//     the native video of an analog source):
//     it places both on one time line and cuts by itself; each input behind
//     a queue of its own, since the writer holds one input while it waits
//     for the other and the DV splitter feeds both from one thread;
//   - kaddvaviwriter for DV type 1 (one interleaved 'iavs' stream);
//   - a Windows Media writer bin for ".wmv": raw video and audio in, the
//     profile's encoders, asfmux, filesink;
//   - kaddump ("Dump") for the untouched MPEG-2 program stream.
//
// Stopping: in GStreamer a muxer writes its index and final headers only
// when its stream ends, so every writer input is ended (EOS) and the file
// sinks are followed until they are done with it: on the event loop after
// BeginFinishCapture, or on the spot by FinishCapture before the graph is
// stopped or cleared. The capture's elements then come out of the preview
// they were added to. The AVI writers of our own index and sync the file as
// they go, so a capture killed outright still reads up to its last sync.

#include "elements/file_writer.h"
#include "graph/asf_packets.h"
#include "graph/capture_report_hooks.h"
#include "graph/capture_state.h"
#include "graph/dv_half_size.h"
#include "graph/restamp.h"

#include "graph/frame_counter.h"
#include "platform/media/element_catalogue.h"
#include "platform/media/media_platform.h"
#include "system/capture_format.h"
#include "system/dialogs.h"
#include "system/log.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTime>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

namespace kad {

namespace {

// The packer that writes 32 kHz DV audio (avmux_dv carries 48 kHz only).
constexpr const char* kDvAudioPacker = "kaddvaudiopack";

GstElement* make(const char* factory, const char* name = nullptr)
{
    return gst_element_factory_make(factory, name);
}

void addToGraph(GstBin* graph, GstElement* e)
{
    gst_bin_add(graph, e);
    gst_element_sync_state_with_parent(e);
}

void removeFromGraph(GstBin* graph, GstElement* e)
{
    if (!e || GST_OBJECT_PARENT(e) != GST_OBJECT(graph)) return;
    UnlinkAllPads(e);
    gst_element_set_state(e, GST_STATE_NULL);
    gst_bin_remove(graph, e);
}

// Links two neighbours of a chain made here to fit each other: their
// formats are settled when the stream starts, so the link does not ask both
// sides for them first, which took most of the GUI thread's time in making a
// writer. Elements without a static "src" and "sink" pad are linked as usual.
void linkInChain(GstElement* a, GstElement* b)
{
    PadRef out(gst_element_get_static_pad(a, "src"));
    PadRef in(gst_element_get_static_pad(b, "sink"));
    if (out && in &&
        gst_pad_link_full(out.get(), in.get(), GST_PAD_LINK_CHECK_HIERARCHY) == GST_PAD_LINK_OK)
        return;
    gst_element_link(a, b);
}

// A chain of elements in a bin with ghost "sink" and "src" pads.
GstElement* chainBin(const std::vector<GstElement*>& chain, const char* name = nullptr)
{
    for (GstElement* e : chain)
        if (!e) {
            for (GstElement* other : chain)
                if (other) gst_object_unref(gst_object_ref_sink(other));
            return nullptr;
        }
    GstElement* bin = gst_bin_new(name);
    GstElement* previous = nullptr;
    for (GstElement* e : chain) {
        gst_bin_add(GST_BIN(bin), e);
        if (previous) linkInChain(previous, e);
        previous = e;
    }
    PadRef in(gst_element_get_static_pad(*chain.begin(), "sink"));
    PadRef out(gst_element_get_static_pad(previous, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", in.get()));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out.get()));
    return bin;
}

// A file writer never holds the graph's change of state: a writer that
// waits for its first data before the graph may run would stall a graph
// whose other branches wait on the same source.
void neverHoldsState(GstElement* sink)
{
    if (sink && g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "async"))
        g_object_set(sink, "async", FALSE, NULL);
}

GstElement* capsFilter(const QString& caps)
{
    GstElement* f = make("capsfilter");
    if (f) {
        CapsRef c(gst_caps_from_string(caps.toUtf8().constData()));
        g_object_set(f, "caps", c.get(), NULL);
    }
    return f;
}

// The DV Video Encoder for a standard: the picture scaled and timed to the
// standard, 4:2:0 for PAL and 4:1:1 for NTSC as consumer DV has them.
GstElement* makeDvEncoder(int standard)
{
    const bool ntsc = standard == 1;
    const QString caps = ntsc ? QStringLiteral("video/x-raw,format=Y41B,width=720,height=480,"
                                               "framerate=30000/1001,pixel-aspect-ratio=8/9")
                              : QStringLiteral("video/x-raw,format=I420,width=720,height=576,"
                                               "framerate=25/1,pixel-aspect-ratio=16/15");
    GstElement* encoder = make("avenc_dvvideo");
    RestampToRunningTime(encoder);
    return chainBin(
        {make("videoconvert"), make("videoscale"), make("videorate"), capsFilter(caps), encoder});
}

// The audio going into the DV muxer: 16-bit stereo at the DV rate, without
// holes. The picture side keeps its frame rate whatever the source drops
// (videorate), and the muxer throws away every frame it has too little sound
// for, so a gap in the sound (a damaged source frame) is filled with silence.
GstElement* makeDvAudioInput(int rate)
{
    return chainBin(
        {make("audioconvert"), make("audioresample"),
         capsFilter(QStringLiteral("audio/x-raw,format=S16LE,channels=2,rate=%1").arg(rate)),
         make("audiorate")});
}

// The Windows Media writer: what the profile says, from raw video and audio
// to the file. Each input is a ghost pad ("video", "audio"); the queues in
// front of asfmux keep its inputs on their own threads (the cut needs it).
//
// After a kill (SIGKILL) of the capturing process the file's header still
// says it holds no packets and lasts nothing: asfmux writes those only when
// its stream ends, and has no way to rewrite them while it runs ("streamable"
// would leave the length and the index out of every file for good). ffprobe
// and asfdemux read the packets to the end of the file all the same, so the
// file keeps all but what asfmux and the file sink still held, some 0.4 s;
// it has no length or index to seek with.
GstElement* makeAsfWriter(const WmEncoderSettings& wm, const QString& location, ElementRef& mux,
                          ElementRef& sink)
{
    GstElement* asf = make(wm.muxer.toUtf8().constData(), "asfmux");
    GstElement* file = make("filesink", "filesink");
    if (!asf || !file) {
        if (asf) gst_object_unref(gst_object_ref_sink(asf));
        if (file) gst_object_unref(gst_object_ref_sink(file));
        return nullptr;
    }
    GstElement* bin = gst_bin_new("WMASFWriter");
    g_object_set(file, "location", location.toUtf8().constData(), NULL);
    neverHoldsState(file);
    gst_bin_add_many(GST_BIN(bin), asf, file, NULL);
    gst_element_link(asf, file);
    KeepAsfPacketsWhole(asf);
    auto branch = [&](const char* pad, const std::vector<GstElement*>& chain,
                      const char* queueName) -> bool {
        GstElement* body = chainBin(chain);
        GstElement* q = make("queue", queueName);
        if (!body || !q) return false;
        gst_bin_add_many(GST_BIN(bin), body, q, NULL);
        linkInChain(body, q);
        PadRef out(gst_element_get_static_pad(q, "src"));
        PadRef muxIn(gst_element_request_pad_simple(asf, pad));
        if (!muxIn || gst_pad_link(out.get(), muxIn.get()) != GST_PAD_LINK_OK) return false;
        PadRef in(gst_element_get_static_pad(body, "sink"));
        gst_element_add_pad(bin, gst_ghost_pad_new(pad[0] == 'v' ? "video" : "audio", in.get()));
        return true;
    };
    bool ok = true;
    if (!wm.videoEncoder.isEmpty()) {
        GstElement* enc = make(wm.videoEncoder.toUtf8().constData());
        RestampToRunningTime(enc);
        if (enc && wm.videoBitrate > 0) g_object_set(enc, "bitrate", wm.videoBitrate, NULL);
        // The Windows Media video encoders take progressive pictures only.
        std::vector<GstElement*> chain{make("videoconvert"), make("videoscale"), make("videorate"),
                                       capsFilter(wm.videoCaps()), enc};
        if (GstElement* progressive = make("deinterlace")) chain.insert(chain.begin(), progressive);
        ok = branch("video_%u", chain, "vq");
    }
    if (ok && !wm.audioEncoder.isEmpty()) {
        GstElement* enc = make(wm.audioEncoder.toUtf8().constData());
        RestampToRunningTime(enc);
        if (enc && wm.audioBitrate > 0) g_object_set(enc, "bitrate", wm.audioBitrate, NULL);
        ok = branch("audio_%u",
                    {make("audioconvert"), make("audioresample"), capsFilter(wm.audioCaps()), enc},
                    "aq");
    }
    if (!ok) {
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    mux = ElementRef::ref(asf);
    sink = ElementRef::ref(file);
    return bin;
}

std::vector<ElementRef> childrenOf(GstBin* bin)
{
    std::vector<ElementRef> children;
    GST_OBJECT_LOCK(bin);
    for (GList* l = bin->children; l; l = l->next)
        children.push_back(ElementRef::ref(GST_ELEMENT(l->data)));
    GST_OBJECT_UNLOCK(bin);
    return children;
}

bool holds(const std::vector<ElementRef>& set, GstElement* e)
{
    return std::any_of(set.begin(), set.end(), [e](const ElementRef& x) { return x.get() == e; });
}

std::vector<PadRef> padsOf(GstElement* e)
{
    std::vector<PadRef> pads;
    GST_OBJECT_LOCK(e);
    for (GList* l = e->pads; l; l = l->next)
        pads.push_back(PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(e);
    return pads;
}

// The links between elements of `set`, each as its output and its input.
std::vector<std::pair<PadRef, PadRef>> linksBetween(const std::vector<ElementRef>& set)
{
    std::vector<std::pair<PadRef, PadRef>> links;
    for (const ElementRef& e : set)
        for (PadRef& pad : padsOf(e.get())) {
            if (!GST_PAD_IS_SRC(pad.get())) continue;
            PadRef peer(gst_pad_get_peer(pad.get()));
            ElementRef owner(peer ? gst_pad_get_parent_element(peer.get()) : nullptr);
            if (owner && holds(set, owner.get())) links.emplace_back(pad, std::move(peer));
        }
    return links;
}

std::vector<PadRef> sinkPads(GstElement* e)
{
    std::vector<PadRef> pads;
    if (!e) return pads;
    GST_OBJECT_LOCK(e);
    for (GList* l = e->sinkpads; l; l = l->next)
        pads.push_back(PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(e);
    return pads;
}

// Ends the stream of one writer input once its feeder is idle. From then on
// the feeder's data is dropped: the writer would refuse it, and its refusal
// (end of stream) must not travel up and stop the source or the preview.
GstPadProbeReturn onAfterEnd(GstPad*, GstPadProbeInfo* info, gpointer)
{
    if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) &&
        GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS &&
        !GST_EVENT_IS_STICKY(GST_PAD_PROBE_INFO_EVENT(info)))
        return GST_PAD_PROBE_OK;
    return GST_PAD_PROBE_DROP;
}

// Ends the stream at `input` from GStreamer's thread pool. This may run on
// the GUI thread, and the input's stream lock may be held for long by a
// streaming thread: one waiting behind a held cut, or inside a muxer for
// another input's data.
void endAsync(GstPad* input)
{
    ElementRef owner(gst_pad_get_parent_element(input));
    if (!owner) return;
    gst_element_call_async(
        owner.get(),
        [](GstElement*, gpointer pad) { gst_pad_send_event(GST_PAD(pad), gst_event_new_eos()); },
        gst_object_ref(input), gst_object_unref);
}

GstPadProbeReturn onFeederIdle(GstPad* pad, GstPadProbeInfo*, gpointer data)
{
    auto* end = static_cast<TcaptureRun::TcaptureState::EndInput*>(data);
    if (end->sent.exchange(true)) return GST_PAD_PROBE_REMOVE;
    if (end->counter) end->counter->Detach();
    // No buffer can overtake the end: the feeder's data is dropped from here
    // on.
    endAsync(end->input.get());
    end->dropProbe = gst_pad_add_probe(pad,
                                       GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                                       onAfterEnd, nullptr, nullptr);
    end->done = true;
    return GST_PAD_PROBE_REMOVE;
}

// The sink pad of the queue whose source pad is `pad`, if a queue it is. A
// ghost pad stands for the pad inside its bin: the Smart Tee's capture
// output is its inner capture queue's.
PadRef queueInputBehind(GstPad* pad)
{
    PadRef inner(GST_IS_GHOST_PAD(pad) ? gst_ghost_pad_get_target(GST_GHOST_PAD(pad)) : nullptr);
    if (inner) pad = inner.get();
    ElementRef owner(gst_pad_get_parent_element(pad));
    GstElementFactory* factory = owner ? gst_element_get_factory(owner.get()) : nullptr;
    if (!factory || g_strcmp0(GST_OBJECT_NAME(factory), "queue") != 0) return {};
    return PadRef(gst_element_get_static_pad(owner.get(), "sink"));
}

// Whether src is element or inside it.
bool comesFromElement(GstObject* src, GstElement* element)
{
    return src && element &&
           (src == GST_OBJECT(element) || gst_object_has_as_ancestor(src, GST_OBJECT(element)));
}

// Names an encoder or a muxer as the user can find it in the log: its role,
// its element name and what it is. Empty for any other element.
QString failedElement(GstObject* src)
{
    if (!src || !GST_IS_ELEMENT(src)) return {};
    GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(src));
    if (!factory) return {};
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    const QString k = QString::fromUtf8(klass ? klass : "");
    QString role;
    if (k.contains("Encoder"))
        role = "the encoder";
    else if (k.contains("Muxer"))
        role = "the multiplexer";
    else if (k.contains("Formatter"))
        role = "the formatter";
    else
        return {};
    const char* longName = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
    return role + " \"" + QString::fromUtf8(GST_OBJECT_NAME(src)) + "\" (" +
           QString::fromUtf8(longName ? longName : GST_OBJECT_NAME(factory)) + ")";
}

// Room left for the capture file: the disk's free space, and what the
// process's file-size limit still allows.
qint64 roomFor(const QString& file)
{
    const QFileInfo info(file);
    QStorageInfo disk(info.absolutePath());
    qint64 room = disk.isValid() ? disk.bytesAvailable() : -1;
    struct rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const qint64 left = qint64(limit.rlim_cur) - info.size();
        room = room < 0 ? left : std::min(room, left);
    }
    return room;
}

} // namespace

TcaptureRun::TcaptureRun(TfilterGraph& graph, TsourceConnection& source, TpreviewBuilder& preview,
                         QObject* parent)
    : QObject(parent), graph_(graph), source_(source), preview_(preview),
      writtenFrames_(std::make_unique<TframeCounter>())
{
}

TcaptureRun::~TcaptureRun() = default;

void TcaptureRun::TcaptureStateDeleter::operator()(TcaptureState* s) const
{
    if (!s) return;
    s->removeBlocks();
    std::unique_ptr<TcaptureState> owned(s);
    if (s->bus && s->syncHandler) g_signal_handler_disconnect(s->bus.get(), s->syncHandler);
}

TcaptureRun::TcaptureState& TcaptureRun::cap()
{
    if (!capture_) capture_.reset(std::make_unique<TcaptureState>().release());
    return *capture_;
}

// ---- Writers ---------------------------------------------------------------

GstElement* TcaptureRun::CaptureMux() const
{
    if (!capture_) return nullptr;
    GstElement* mux = capture_->mux.get();
    return inGraph(mux, graph().Graph()) ? mux : nullptr;
}

GstElement* TcaptureRun::CaptureFileSink() const
{
    if (!capture_) return nullptr;
    GstElement* sink = capture_->fileSink.get();
    if (capture_->kind == WriterKind::Dump) sink = graph().Dump.Element();
    return inGraph(sink, graph().Graph()) ? sink : nullptr;
}

bool TcaptureRun::Capturing() const
{
    return capture_ && capture_->kind != WriterKind::None && !capture_->finished &&
           CaptureFileSink();
}

namespace {

// The writers' RIFF chunk limit and sync interval, where the capture asks
// for other than their own.
void applyAviLimits(GstElement* writer, const TcaptureOptions& options)
{
    if (options.AviRiffLimit > 0) g_object_set(writer, "riff-limit", options.AviRiffLimit, NULL);
    if (options.AviSyncInterval > 0)
        g_object_set(writer, "sync-interval", options.AviSyncInterval, NULL);
}

// The DV writers' cut at each new recording and names by recording date. A
// writer that has neither writes as before, and the log says so.
void applyRecordingOptions(GstElement* writer, const TcaptureOptions& options)
{
    GObjectClass* klass = G_OBJECT_GET_CLASS(writer);
    if (!g_object_class_find_property(klass, "split-recordings")) {
        if (options.SplitAtRecording || !options.DateNameRoot.isEmpty())
            WriteLog("This DV writer neither splits at recordings nor names files by date");
        return;
    }
    g_object_set(writer, "split-recordings", options.SplitAtRecording ? TRUE : FALSE, NULL);
    if (options.SplitAtRecording && !options.SplitFileName.isEmpty())
        g_object_set(writer, "split-location", options.SplitFileName.toUtf8().constData(), NULL);
    if (!options.DateNameRoot.isEmpty())
        g_object_set(writer, "date-name-root", options.DateNameRoot.toUtf8().constData(), NULL);
}

// The AVI writer of DV picture and PCM sound, its own file sink. Its inputs
// are asked for by linkToWriter.
bool placeAviWriter(GstBin* graph, TcaptureRun::TcaptureState& s, const QString& file,
                    const TcaptureOptions& options)
{
    GstElement* w = make("kadaviwriter");
    if (!w) {
        WriteLog("The AVI writer (kadaviwriter) is not installed: nothing can be written");
        return false;
    }
    g_object_set(w, "location", file.toUtf8().constData(), NULL);
    applyAviLimits(w, options);
    s.writer = ElementRef::ref(w);
    s.mux = s.writer;
    s.fileSink = s.writer;
    s.kind = WriterKind::Avi;
    addToGraph(graph, w);
    return true;
}

} // namespace

// Links a (a slot's element or one of its pads) to the writer. The AVI
// writers get a queue of their own before each input, asked for as video or
// audio; the other writers take the stream as it is.
static LinkResult linkToWriter(GstBin* graph, TcaptureRun::TcaptureState& s, GstElement* a,
                               GstPad* aPad, MediaHint hint)
{
    if ((!a && !aPad) || !s.writer) return LinkResult::MissingElement;
    if (s.kind != WriterKind::Avi) {
        return aPad ? RenderStreamFromPad(graph, aPad, nullptr, s.writer.get())
                    : RenderStream(graph, a, nullptr, s.writer.get(), hint);
    }
    GstElement* q = make("queue");
    if (!q) return LinkResult::MissingElement;
    // Two seconds of frames: the cut holds one input while another catches
    // up to the cut point, and kadaviwriter holds one while it waits (at
    // most a second) for the other.
    g_object_set(q, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                 guint64(2 * GST_SECOND), NULL);
    addToGraph(graph, q);
    PadRef qIn(gst_element_get_static_pad(q, "sink"));
    const LinkResult r = aPad ? RenderStreamFromPad(graph, aPad, nullptr, q)
                              : RenderStream(graph, a, nullptr, q, hint);
    if (!Succeeded(r)) {
        removeFromGraph(graph, q);
        return r;
    }
    // The muxer's input of the kind that arrives; a deferred link tells it
    // by the hint.
    bool video = hint != MediaHint::Audio;
    if (hint == MediaHint::Any) {
        PadRef feeder(gst_pad_get_peer(qIn.get()));
        CapsRef caps(feeder ? gst_pad_query_caps(feeder.get(), nullptr) : nullptr);
        if (caps && !gst_caps_is_empty(caps.get()) && !gst_caps_is_any(caps.get()))
            video = !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)),
                                      "audio/");
    }
    PadRef muxIn(gst_element_request_pad_simple(s.mux.get(), video ? "video" : "audio"));
    PadRef qOut(gst_element_get_static_pad(q, "src"));
    if (!muxIn || gst_pad_link(qOut.get(), muxIn.get()) != GST_PAD_LINK_OK) {
        if (muxIn) gst_element_release_request_pad(s.mux.get(), muxIn.get());
        removeFromGraph(graph, q);
        return LinkResult::NoFreeSinkPad;
    }
    return r;
}

bool TcaptureRun::SetCaptureFileName(const QString& name)
{
    GstElement* sink = CaptureFileSink();
    if (!sink) return false;
    if (graph().IsRunning()) return SwitchCaptureFile(name);
    captureFileName_ = name;
    g_object_set(sink, "location", name.toUtf8().constData(), NULL);
    return true;
}

// ---- Dispatcher -------------------------------------------------------------

bool TcaptureRun::BuildCaptureGraph()
{
    captureFileName_ = currentVideoFileName_;
    graph().StopGraph();
    // Writers take their file name when they start: the graph must not be
    // past READY while they are placed.
    if (Source().Kind() != kad::SourceKind::skMovieBoxB)
        gst_element_set_state(GST_ELEMENT(graph().fg()), GST_STATE_READY);
    {
        TcaptureState& s = cap();
        s.removeBlocks();
        // The preview as it is before the capture is added to it.
        s.previewBefore.reset();
        if (preview().PreviewBuilt() && Source().Kind() != kad::SourceKind::skMovieBoxB) {
            TcaptureState::PreviewBefore& b = s.previewBefore.emplace();
            b.children = childrenOf(graph().Graph());
            b.links = linksBetween(b.children);
            if (graph().Smarttee.InGraph())
                b.smartTee = ElementRef::ref(graph().Smarttee.Element());
            if (graph().NullRenderer.InGraph())
                b.nullRenderer = ElementRef::ref(graph().NullRenderer.Element());
            if (graph().VideoSource.Element())
                b.source = ElementRef::ref(graph().VideoSource.Element());
            b.kind = Source().Kind();
            b.options = preview().Options();
        }
        s.kind = WriterKind::None;
        s.writer.reset();
        s.mux.reset();
        s.fileSink.reset();
        s.wm.reset();
        s.finished = false;
        s.switchBusy = false;
        s.soundLost = false;
        s.finishedFileFrames = 0;
        s.capturedShown = 0;
        s.startedAt = gst_util_get_timestamp();
    }

    const CaptureFormat format = CaptureFormatOf(Source().Kind(), options_.FormatIndex);
    // These take the DV preview's decoded picture: it must be full size.
    if (Source().Kind() == kad::SourceKind::skDV &&
        (format == CaptureFormat::cfDVRecompressed || format == CaptureFormat::cfWmv))
        HoldFullSize(graph().DVDEcoder.Element());
    TcaptureState& s = cap();
    s.dvAudioRate = 48000;
    if (format == CaptureFormat::cfDVRecompressed && options_.FrequencyIndex == 1) {
        if (!Installed(kDvAudioPacker)) {
            WriteLog("32000 Hz DV audio cannot be written: no DV audio packer");
            dialogs().error("The DV audio cannot be recorded at 32000 Hz on this computer.\n"
                            "Please choose 48000 Hz or the native frequency.");
            return false;
        }
        s.dvAudioRate = 32000;
    }
    if (format == CaptureFormat::cfWmv) {
        const WmProfileTable* table =
            graph().Presence().WmvAvailable ? &WmProfileTable::builtIn() : nullptr;
        std::optional<WmProfile> profile =
            CaptureProfile(table, options_.ProfileLevel, options_.VersionIndex, options_.MediaEntry,
                           preview().Options().Audio);
        if (!profile) return false;
        s.wm = WmEncoderSettingsFor(*profile);
    }

    // The builders are per source kind, since each kind reaches the writer
    // through different demultiplexers and decoders.
    const bool mpegBox = Source().Kind() == kad::SourceKind::skMovieBoxB;
    bool built = false;
    switch (format) {
    case CaptureFormat::cfDVType1:
        built = BuildCaptureDVType1();
        break;
    case CaptureFormat::cfDVType2:
        built = BuildCaptureDVType2();
        break;
    case CaptureFormat::cfNativeVideo:
        built = BuildCaptureAnalogNative();
        break;
    case CaptureFormat::cfProgramStream:
        built = mpegBox ? BuildCaptureMovieBoxBNative() : BuildCaptureMpeg2Native();
        break;
    case CaptureFormat::cfDVRecompressed:
        switch (Source().Kind()) {
        case kad::SourceKind::skDV:
            built = BuildCaptureDVRecompressed(options_.Standard);
            break;
        case kad::SourceKind::skAnalog:
            built = BuildCaptureAnalogRecompressed(options_.Standard);
            break;
        case kad::SourceKind::skMovieBoxB:
            built = BuildCaptureMovieBoxBRecompressed(options_.Standard);
            break;
        case kad::SourceKind::skMpeg2:
            built = BuildCaptureMpeg2Recompressed(options_.Standard);
            break;
        case kad::SourceKind::skNoVideo:
            break;
        }
        break;
    case CaptureFormat::cfWmv:
        switch (Source().Kind()) {
        case kad::SourceKind::skDV:
            built = BuildCaptureDVWmv();
            break;
        case kad::SourceKind::skAnalog:
            built = BuildCaptureAnalogWmv();
            break;
        case kad::SourceKind::skMovieBoxB:
            built = BuildCaptureMovieBoxBWmv();
            break;
        case kad::SourceKind::skMpeg2:
            built = BuildCaptureMpeg2Wmv();
            break;
        case kad::SourceKind::skNoVideo:
            break;
        }
        break;
    case CaptureFormat::cfNone:
        break;
    }
    if (!built || !CaptureFileSink()) {
        s.previewBefore.reset();
        WriteLog("The capture graph could not be built");
        return false;
    }
    preview().ConfigureCompanionFilters();

    // Frames that reach the writer are counted where the video enters it.
    GstPad* counted = nullptr;
    PadRef countedRef;
    if (s.kind == WriterKind::Asf) {
        ElementRef vq(gst_bin_get_by_name(GST_BIN(s.writer.get()), "vq"));
        countedRef.reset(vq ? gst_element_get_static_pad(vq.get(), "src") : nullptr);
    } else {
        GstElement* w = s.kind == WriterKind::Dump ? graph().Dump.Element() : s.writer.get();
        for (PadRef& in : sinkPads(w)) {
            if (s.kind == WriterKind::Avi && !g_str_has_prefix(GST_PAD_NAME(in.get()), "video"))
                continue;
            countedRef.reset(gst_pad_get_peer(in.get()));
            break;
        }
        if (s.kind == WriterKind::Dump && preview().MpegVideoPin())
            countedRef.reset(gst_element_get_static_pad(preview().MpegVideoPin(), "src"));
    }
    counted = countedRef.get();
    s.counted = countedRef;
    WrittenFrames().Attach(counted);
    preview().SourceFrames().Reset();
    BeginCaptureReport(*this, s);

    // Errors and file switches from the streaming threads.
    BusRef bus(gst_pipeline_get_bus(graph().fg()));
    if (s.bus.get() != bus.get()) {
        if (s.bus && s.syncHandler) g_signal_handler_disconnect(s.bus.get(), s.syncHandler);
        s.bus = bus;
        gst_bus_enable_sync_message_emission(bus.get());
        s.syncHandler = g_signal_connect(
            bus.get(), "sync-message", G_CALLBACK(+[](GstBus*, GstMessage* message, gpointer self) {
                const GstMessageType type = GST_MESSAGE_TYPE(message);
                if (type != GST_MESSAGE_ERROR && type != GST_MESSAGE_ELEMENT) return;
                if (type == GST_MESSAGE_ELEMENT &&
                    !gst_structure_has_name(gst_message_get_structure(message),
                                            kad::filewriter::kFileSwitched) &&
                    !gst_structure_has_name(gst_message_get_structure(message),
                                            kad::filewriter::kFileRenamed))
                    return;
                auto* cam = static_cast<TcaptureRun*>(self);
                if (type == GST_MESSAGE_ELEMENT && cam->capture_ &&
                    cam->capture_->kind == WriterKind::Avi &&
                    gst_structure_has_name(gst_message_get_structure(message),
                                           kad::filewriter::kFileSwitched) &&
                    GST_MESSAGE_SRC(message) == GST_OBJECT(cam->capture_->writer.get())) {
                    // Counted here, on the thread that cut, before the
                    // writer counts anything into the next file.
                    guint64 frames = 0;
                    if (gst_structure_get_uint64(gst_message_get_structure(message), "frames",
                                                 &frames))
                        cam->capture_->finishedFileFrames += frames;
                }
                MessageRef held = MessageRef::ref(message);
                // The message reaches the GUI thread later, maybe after a new
                // capture began: it must not end that one.
                const GstClockTime postedAt = gst_util_get_timestamp();
                QMetaObject::invokeMethod(
                    cam,
                    [cam, held, postedAt]() {
                        if (!cam->capture_ || postedAt < cam->capture_->startedAt) return;
                        cam->onCaptureMessage(held.get());
                    },
                    Qt::QueuedConnection);
            }),
            this);
    }
    if (!s.diskGuard) {
        s.diskGuard = new QTimer(this);
        s.diskGuard->setInterval(250);
        connect(s.diskGuard, &QTimer::timeout, this, [this] {
            if (!Capturing() || roomFor(captureFileName_) >= diskReserveBytes_) return;
            const QString name = captureFileName_;
            WriteLog("The disk is full: the capture stops");
            SetCaptureEndReason(CaptureEnd::DiskFull);
            // The graph runs on while the files are finished in the
            // background; CaptureFinished says when they are complete.
            BeginFinishCapture();
            stopCaptureWith("The disk holding " + name +
                            " is full: the capture has stopped.\nThe file keeps everything "
                            "recorded until then.");
        });
    }
    s.diskGuard->start();
    s.running = true;
    return graph().RunGraph();
}

void TcaptureRun::stopCaptureWith(const QString& reason)
{
    if (capture_ && capture_->diskGuard) capture_->diskGuard->stop();
    if (!capture_ || !capture_->running) return;
    capture_->running = false;
    dialogs().error(reason);
    emit CaptureStopped(reason);
}

void TcaptureRun::soundCardLost(const GError* error)
{
    TcaptureState& s = *capture_;
    if (s.soundLost) return;
    s.soundLost = true;
    // Tapes run past a day in unattended stations: the hours are not wrapped.
    const guint64 seconds = (gst_util_get_timestamp() - s.startedAt) / GST_SECOND;
    const QString at = QString("%1:%2:%3")
                           .arg(seconds / 3600, 2, 10, QChar('0'))
                           .arg(seconds / 60 % 60, 2, 10, QChar('0'))
                           .arg(seconds % 60, 2, 10, QChar('0'));
    const QString text = "The sound was lost " + at + " into the capture (" +
                         QTime::currentTime().toString("HH:mm:ss") + "): the sound card failed (" +
                         MediaErrorText(error) + "). The picture goes on without sound.";
    WriteLog(text);
    // A muxer waits for every input: the sound's end lets the picture go on
    // alone, and what was heard until then stays in step with it. A source
    // that fails usually sends that end itself; one that does not would
    // hold the whole file.
    if (GstElement* mic = graph().AudioSource.Element()) {
        PadRef out(gst_element_get_static_pad(mic, "src"));
        PadRef peer(out ? gst_pad_get_peer(out.get()) : nullptr);
        if (peer && !GST_PAD_IS_EOS(peer.get()))
            gst_element_call_async(
                mic,
                [](GstElement*, gpointer pad) {
                    gst_pad_push_event(GST_PAD(pad), gst_event_new_eos());
                },
                out.release(), gst_object_unref);
    }
    emit CaptureSoundLost(text);
}

void TcaptureRun::onCaptureMessage(GstMessage* message)
{
    if (!capture_ || capture_->kind == WriterKind::None) return;
    TcaptureState& s = *capture_;
    GstObject* src = GST_MESSAGE_SRC(message);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ELEMENT) {
        const GstStructure* st = gst_message_get_structure(message);
        const QString oldName = QString::fromUtf8(gst_structure_get_string(st, "old-location"));
        const QString newName = QString::fromUtf8(gst_structure_get_string(st, "new-location"));
        if (gst_structure_has_name(st, kad::filewriter::kFileRenamed)) {
            // Named after its recording date while it is being written.
            if (captureFileName_ == oldName) captureFileName_ = newName;
            if (s.switchFrom == oldName) s.switchFrom = newName;
            s.report.FileRenamed(oldName, newName);
            WriteLog("The capture file " + oldName +
                     " is named after its recording date: " + newName);
            emit CaptureFileRenamed(oldName, newName);
            return;
        }
        if (!g_strcmp0(gst_structure_get_string(st, "reason"), "recording")) {
            // A new recording on the tape; a cut asked for meanwhile still
            // comes, and leaves this new file.
            if (s.switchBusy)
                s.switchFrom = newName;
            else
                captureFileName_ = newName;
            ReportFileSwitched(*this, s, st);
            WriteLog("A new recording begins: the capture goes on in " + newName);
            emit CaptureFileSwitched(oldName, newName);
            return;
        }
        s.switchBusy = false;
        captureFileName_ = newName;
        ReportFileSwitched(*this, s, st);
        WriteLog("The capture goes on in " + newName);
        emit CaptureFileSwitched(oldName, newName);
        return;
    }
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    GErrorPtr owned(error);
    GstElement* writer = s.kind == WriterKind::Dump ? graph().Dump.Element() : s.writer.get();
    const bool fromWriter =
        src && ((writer && (src == GST_OBJECT(writer) ||
                            gst_object_has_as_ancestor(src, GST_OBJECT(writer)))) ||
                (s.fileSink && src == GST_OBJECT(s.fileSink.get())) ||
                (CaptureFileSink() && src == GST_OBJECT(CaptureFileSink())));
    const bool fromSource = comesFromElement(src, graph().VideoSource.Element());
    if (fromSource && s.running && !s.finished) {
        // Everything the source sent is in the file; end it there.
        WriteLog("The capture source is lost: the file is closed");
        SetCaptureEndReason(CaptureEnd::DeviceLost, MediaErrorText(error));
        FinishCapture();
        s.running = false;
        if (s.diskGuard) s.diskGuard->stop();
        return;
    }
    if (!s.running) return;
    if (comesFromElement(src, graph().AudioSource.Element())) {
        soundCardLost(error);
        return;
    }
    const bool fromFile = src && ((s.fileSink && src == GST_OBJECT(s.fileSink.get())) ||
                                  (CaptureFileSink() && src == GST_OBJECT(CaptureFileSink())));
    const QString failed = fromFile ? QString() : failedElement(src);
    if (!failed.isEmpty()) {
        // An encoder or a muxer that failed sends nothing more: the file
        // would stop growing while the window still shows a capture. What
        // reached the writer is finished as at a stop.
        const QString name = captureFileName_;
        WriteLog("The capture stops: " + failed + " failed: " + MediaErrorText(error));
        SetCaptureEndReason(CaptureEnd::WriteError, failed + " failed: " + MediaErrorText(error));
        BeginFinishCapture();
        stopCaptureWith("The capture has stopped: " + failed + " failed (" + MediaErrorText(error) +
                        ").\nThe file " + name + " keeps everything recorded until then.");
        return;
    }
    if (!fromWriter) return;
    const bool full = error && error->domain == GST_RESOURCE_ERROR &&
                      error->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT;
    const QString name = captureFileName_;
    WriteLog("The capture file cannot be written: " + MediaErrorText(error));
    s.finished = true;
    SetCaptureEndReason(full ? CaptureEnd::DiskFull : CaptureEnd::WriteError,
                        MediaErrorText(error));
    FinishCaptureReport(*this, s);
    // Nothing more reaches that file; the end is still told the usual way,
    // by CaptureFinished, so the stop that follows waits for it as for any
    // other.
    BeginFinishCapture();
    if (full)
        stopCaptureWith("The disk holding " + name +
                        " is full: the capture has stopped.\nThe file keeps everything "
                        "recorded until then.");
    else
        stopCaptureWith("The capture has stopped: the file " + name + " could not be written (" +
                        MediaErrorText(error) + ").\nIt keeps everything recorded until then.");
}

// ---- DV ---------------------------------------------------------------------

bool TcaptureRun::BuildCaptureDVType1()
{
    TcaptureState& s = cap();
    graph().NullRenderer.Remove();
    GstElement* w = make("kaddvaviwriter");
    if (!w) return false;
    g_object_set(w, "location", captureFileName_.toUtf8().constData(), NULL);
    applyAviLimits(w, options_);
    applyRecordingOptions(w, options_);
    neverHoldsState(w);
    s.writer = ElementRef::ref(w);
    s.fileSink = s.writer;
    s.kind = WriterKind::DvType1;
    addToGraph(graph().Graph(), w);
    if (!graph().Smarttee.InGraph()) return false;
    return Succeeded(RenderStream(graph().Graph(), graph().Smarttee.Element(), nullptr, w));
}

bool TcaptureRun::BuildCaptureDVType2()
{
    if (!preview().PreviewBuilt()) return false;
    preview().previewBuilt_ = false;
    if (Source().Kind() != kad::SourceKind::skDV) return false;
    TcaptureState& s = cap();
    if (!placeAviWriter(graph().Graph(), s, captureFileName_, options_)) return false;
    applyRecordingOptions(s.writer.get(), options_);
    graph().NullRenderer.Remove();
    graph().place(graph().DVsplitter2);
    PadRef capture(graph().Smarttee.InGraph()
                       ? gst_element_get_static_pad(graph().Smarttee.Element(), "capture")
                       : nullptr);
    if (!capture) return false;
    graph().rs(capture.get(), nullptr, graph().DVsplitter2);
    linkToWriter(graph().Graph(), s, graph().DVsplitter2.Element(), nullptr, MediaHint::Video);
    linkToWriter(graph().Graph(), s, graph().DVsplitter2.Element(), nullptr, MediaHint::Audio);
    return true;
}

// The DV muxer's inputs: the finished picture re-encoded, and one audio
// stream at the DV rate (the stream's own audio, else the sound card).
bool TcaptureRun::linkDvMuxer(int standard, GstElement* streamAudio,
                              TfilterSlot* streamAudioThrough)
{
    TcaptureState& s = cap();
    GstElement* audioIn = makeDvAudioInput(s.dvAudioRate);
    if (!audioIn) return false;
    addToGraph(graph().Graph(), audioIn);
    LinkResult r = LinkResult::MissingElement;
    if (streamAudio) {
        r = RenderStream(graph().Graph(), streamAudio,
                         streamAudioThrough ? streamAudioThrough->Element() : nullptr, audioIn,
                         MediaHint::Audio);
    }
    bool soundCard = false;
    if (!Succeeded(r) && preview().Options().EnregistrerSourceAudio &&
        graph().infinite3.InGraph()) {
        r = RenderStream(graph().Graph(), graph().infinite3.Element(), nullptr, audioIn);
        soundCard = Succeeded(r);
    }
    // avmux_dv carries 48 kHz only, and makes no frame for a picture it has
    // too little sound for: once a failing sound card has ended its stream,
    // the picture would stop with it. The packer takes every DV rate and
    // packs silence once the sound has ended, so the picture goes on.
    const bool packer = s.dvAudioRate == 32000 || soundCard;
    graph().DVencoder.Bind(standard == 1 ? "avenc_dvvideo NTSC" : "avenc_dvvideo PAL",
                           [standard]() -> GstElement* { return makeDvEncoder(standard); });
    if (packer)
        graph().DVmuxer.Bind(kDvAudioPacker, [] { return make(kDvAudioPacker); });
    else
        graph().DVmuxer.Bind("avmux_dv", [] { return make("avmux_dv"); });
    graph().place(graph().DVmuxer);
    graph().place(graph().DVencoder);
    if (!graph().DVmuxer.InGraph() || !graph().DVencoder.InGraph() || !graph().Infinite2.InGraph())
        return false;
    if (!Succeeded(graph().rs(graph().Infinite2, &graph().DVencoder, graph().DVmuxer)))
        return false;
    // The muxer's audio input only when sound comes: an input that never
    // gets data would hold the muxer, and the file, at its first frame.
    if (Succeeded(r))
        RenderStream(graph().Graph(), audioIn, nullptr, graph().DVmuxer.Element());
    else
        removeFromGraph(graph().Graph(), audioIn);
    graph().place(graph().DVsplitter2);
    graph().rs(graph().DVmuxer, nullptr, graph().DVsplitter2);
    linkToWriter(graph().Graph(), s, graph().DVsplitter2.Element(), nullptr, MediaHint::Video);
    if (Succeeded(r))
        linkToWriter(graph().Graph(), s, graph().DVsplitter2.Element(), nullptr, MediaHint::Audio);
    return true;
}

bool TcaptureRun::BuildCaptureDVRecompressed(int standard)
{
    if (!preview().PreviewBuilt()) return false;
    preview().previewBuilt_ = false;
    TcaptureState& s = cap();
    if (!placeAviWriter(graph().Graph(), s, captureFileName_, options_)) return false;
    graph().Smarttee.Remove();
    graph().NullRenderer.Remove();
    graph().place(graph().DVsplitter);
    graph().rs(Source().Pin().get(), nullptr, graph().DVsplitter);
    GstElement* audio = preview().Options().EcouterAudioInclus && graph().infinite4.InGraph()
                            ? graph().infinite4.Element()
                            : nullptr;
    return linkDvMuxer(standard, audio, nullptr);
}

bool TcaptureRun::BuildCaptureDVWmv()
{
    if (!preview().PreviewBuilt()) return false;
    preview().previewBuilt_ = false;
    if (!placeAsfWriter()) return false;
    TcaptureState& s = cap();
    graph().Smarttee.Remove();
    graph().NullRenderer.Remove();
    graph().rs(Source().Pin().get(), nullptr, graph().DVsplitter);
    if (!Succeeded(linkToWriter(graph().Graph(), s, graph().Infinite2.Element(), nullptr,
                                MediaHint::Video)))
        return false;
    if (preview().Options().EcouterAudioInclus && graph().infinite4.InGraph()) {
        graph().place(graph().hdAudio);
        if (graph().hdAudio.InGraph())
            graph().rs(graph().infinite4, &graph().hdAudio, graph().AudioRender);
        linkToWriter(graph().Graph(), s, graph().infinite4.Element(), nullptr, MediaHint::Audio);
    }
    if (preview().Options().EnregistrerSourceAudio && graph().infinite3.InGraph())
        linkToWriter(graph().Graph(), s, graph().infinite3.Element(), nullptr, MediaHint::Audio);
    return true;
}

bool TcaptureRun::placeAsfWriter()
{
    TcaptureState& s = cap();
    if (!s.wm) return false;
    GstElement* bin = makeAsfWriter(*s.wm, captureFileName_, s.mux, s.fileSink);
    if (!bin) return false;
    s.writer = ElementRef::ref(bin);
    s.kind = WriterKind::Asf;
    s.fileSwitch.WatchSound(s.mux.get());
    addToGraph(graph().Graph(), bin);
    return true;
}

// ---- Analog -------------------------------------------------------------------

bool TcaptureRun::BuildCaptureAnalogNative()
{
    if (!preview().PreviewBuilt()) return false;
    preview().previewBuilt_ = false;
    if (Source().Kind() == kad::SourceKind::skDV) return false;
    TcaptureState& s = cap();
    graph().NullRenderer.Remove();
    // Kadrillo's writer places every frame by its time: a frame the source
    // did not deliver keeps its slot and the sound keeps its place.
    if (!placeAviWriter(graph().Graph(), s, captureFileName_, options_) ||
        !graph().Smarttee.InGraph())
        return false;
    if (!Succeeded(linkToWriter(graph().Graph(), s, graph().Smarttee.Element(), nullptr,
                                MediaHint::Video)))
        return false;
    if (preview().Options().EnregistrerSourceAudio && graph().infinite3.InGraph())
        linkToWriter(graph().Graph(), s, graph().infinite3.Element(), nullptr, MediaHint::Audio);
    return true;
}

// The element the Smart Tee's preview output feeds, taken off it.
ElementRef TcaptureRun::previewDownstream()
{
    PadRef preview(graph().Smarttee.InGraph()
                       ? gst_element_get_static_pad(graph().Smarttee.Element(), "preview")
                       : nullptr);
    PadRef peer(preview ? gst_pad_get_peer(preview.get()) : nullptr);
    return ElementRef(peer ? gst_pad_get_parent_element(peer.get()) : nullptr);
}

bool TcaptureRun::BuildCaptureAnalogRecompressed(int standard)
{
    if (!preview().PreviewBuilt()) return false;
    preview().previewBuilt_ = false;
    if (Source().Kind() != kad::SourceKind::skAnalog) return false;
    TcaptureState& s = cap();
    if (!placeAviWriter(graph().Graph(), s, captureFileName_, options_)) return false;
    ElementRef downstream = previewDownstream();
    graph().Smarttee.Remove();
    graph().NullRenderer.Remove();
    if (downstream)
        RenderStreamFromPad(graph().Graph(), Source().Pin().get(), nullptr, downstream.get());
    return linkDvMuxer(standard, nullptr, nullptr);
}

bool TcaptureRun::BuildCaptureAnalogWmv()
{
    if (!preview().PreviewBuilt()) return false;
    preview().previewBuilt_ = false;
    if (Source().Kind() != kad::SourceKind::skAnalog) return false;
    if (!CaptureMux() && !placeAsfWriter()) return false;
    TcaptureState& s = cap();
    ElementRef downstream = previewDownstream();
    graph().Smarttee.Remove();
    graph().NullRenderer.Remove();
    if (downstream)
        RenderStreamFromPad(graph().Graph(), Source().Pin().get(), nullptr, downstream.get());
    if (!Succeeded(linkToWriter(graph().Graph(), s, graph().Infinite2.Element(), nullptr,
                                MediaHint::Video)))
        return false;
    if (preview().Options().EnregistrerSourceAudio && graph().infinite3.InGraph())
        linkToWriter(graph().Graph(), s, graph().infinite3.Element(), nullptr, MediaHint::Audio);
    return true;
}

// ---- MPEG-2 sources --------------------------------------------------------------

bool TcaptureRun::buildDump()
{
    TcaptureState& s = cap();
    graph().NullRenderer.Remove();
    // The writer opens its file as soon as it is placed: it is made with
    // the file name already set.
    if (graph().Dump.Bound()) {
        const std::string factory = graph().Dump.BoundTo();
        const QByteArray location = captureFileName_.toUtf8();
        graph().Dump.Bind(factory, [factory, location]() -> GstElement* {
            GstElement* e = make(factory.c_str());
            if (e) g_object_set(e, "location", location.constData(), NULL);
            neverHoldsState(e);
            return e;
        });
    }
    graph().place(graph().Dump);
    if (!graph().Dump.InGraph()) {
        WriteLog("The Dump filter is not found: nothing can be written");
        return false;
    }
    s.kind = WriterKind::Dump;
    s.writer.reset();
    s.fileSink = ElementRef::ref(graph().Dump.Element());
    return graph().Smarttee.InGraph() &&
           Succeeded(graph().rs(graph().Smarttee, nullptr, graph().Dump));
}

bool TcaptureRun::BuildCaptureMovieBoxBNative()
{
    return buildDump();
}

bool TcaptureRun::BuildCaptureMpeg2Native()
{
    return buildDump();
}

bool TcaptureRun::BuildCaptureMovieBoxBRecompressed(int standard)
{
    return recompressMpegStream(standard, true);
}

bool TcaptureRun::BuildCaptureMpeg2Recompressed(int standard)
{
    return recompressMpegStream(standard, false);
}

// The MPEG-2 stream's picture re-encoded to DV with its sound, into an AVI
// writer. The box's stream goes straight from the source to the splitter:
// it has no Smart Tee to serve while it is captured.
bool TcaptureRun::recompressMpegStream(int standard, bool straightFromBox)
{
    if (!preview().PreviewBuilt()) return false;
    preview().previewBuilt_ = false;
    TcaptureState& s = cap();
    if (!placeAviWriter(graph().Graph(), s, captureFileName_, options_)) return false;
    if (straightFromBox) {
        graph().Smarttee.Remove();
        graph().NullRenderer.Remove();
        graph().rs(Source().Pin().get(), nullptr, graph().demux);
    }
    GstElement* audio = nullptr;
    TfilterSlot* through = nullptr;
    if (preview().Options().EcouterAudioInclus) {
        if (graph().infinite4.InGraph()) {
            audio = graph().infinite4.Element();
        } else if (GstElement* decoded = preview().MpegAudioDecoded()) {
            graph().place(graph().infinite4);
            audio = decoded;
            through = &graph().infinite4;
        }
    }
    return linkDvMuxer(standard, audio, through);
}

bool TcaptureRun::BuildCaptureMovieBoxBWmv()
{
    return encodeMpegStreamToWmv(true);
}

bool TcaptureRun::BuildCaptureMpeg2Wmv()
{
    return encodeMpegStreamToWmv(false);
}

// The MPEG-2 stream's picture and sound into the Windows Media writer. The
// box's stream goes through a fresh Smart Tee straight to the splitter.
bool TcaptureRun::encodeMpegStreamToWmv(bool throughFreshTee)
{
    if (!preview().PreviewBuilt()) return false;
    preview().previewBuilt_ = false;
    if (!placeAsfWriter()) return false;
    TcaptureState& s = cap();
    if (throughFreshTee) {
        graph().Smarttee.Remove();
        graph().place(graph().Smarttee);
        graph().NullRenderer.Remove();
        graph().rs(Source().Pin().get(), &graph().Smarttee, graph().demux);
    }
    if (!Succeeded(linkToWriter(graph().Graph(), s, graph().Infinite2.Element(), nullptr,
                                MediaHint::Video)))
        return false;
    linkStreamAudioToWriter();
    if (preview().Options().EnregistrerSourceAudio && graph().infinite3.InGraph())
        linkToWriter(graph().Graph(), s, graph().infinite3.Element(), nullptr, MediaHint::Audio);
    return true;
}

// "Ecouter Audio inclus": the stream's audio to the writer, through the
// stream-audio tap (made here when the preview did not listen).
void TcaptureRun::linkStreamAudioToWriter()
{
    if (!preview().Options().EcouterAudioInclus) return;
    TcaptureState& s = cap();
    if (!graph().infinite4.InGraph()) {
        GstElement* decoded = preview().MpegAudioDecoded();
        if (!decoded) return;
        graph().place(graph().infinite4);
        RenderStream(graph().Graph(), decoded, nullptr, graph().infinite4.Element());
    }
    linkToWriter(graph().Graph(), s, graph().infinite4.Element(), nullptr, MediaHint::Audio);
}

// ---- The cut ----------------------------------------------------------------------

void TcaptureRun::SetRecordingSplitName(const QString& name)
{
    if (!Capturing() || !capture_->writer) return;
    GstElement* w = capture_->writer.get();
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(w), "split-location"))
        g_object_set(w, "split-location", name.toUtf8().constData(), NULL);
}

bool TcaptureRun::CaptureSwitchBusy() const
{
    return capture_ && (capture_->switchBusy || capture_->fileSwitch.Busy());
}

bool TcaptureRun::SwitchCaptureFile(const QString& name)
{
    if (!Capturing() || CaptureSwitchBusy()) return false;
    TcaptureState& s = *capture_;
    const QString oldName = captureFileName_;
    s.switchFrom = oldName;
    switch (s.kind) {
    case WriterKind::DvType1:
    case WriterKind::Avi:
    case WriterKind::Dump:
        s.switchBusy = true;
        g_object_set(CaptureFileSink(), "next-location", name.toUtf8().constData(), NULL);
        break;
    case WriterKind::Asf: {
        GstBin* where = GST_BIN(s.writer.get());
        GstElement* mux = s.mux.get();
        GstElement* sink = s.fileSink.get();
        QPointer<TcaptureRun> self(this);
        const bool started = s.fileSwitch.Start(
            where, mux, sink, name,
            [self, oldName, name](bool ok, const QString& error) {
                if (!self || !self->capture_) return;
                self->capture_->switchBusy = false;
                if (!ok) {
                    WriteLog("The cut into " + name + " has failed: " + error);
                    if (self->captureFileName_ == name) self->captureFileName_ = oldName;
                    emit self->CaptureSwitchFailed(name, error);
                    return;
                }
                self->capture_->mux = ElementRef::ref(self->capture_->fileSwitch.Mux());
                self->capture_->fileSink = ElementRef::ref(self->capture_->fileSwitch.Sink());
                ReportFileCut(*self, *self->capture_, name, self->capture_->fileSwitch.LastCut());
                WriteLog("The capture goes on in " + name);
                emit self->CaptureFileSwitched(oldName, name);
            },
            [asf = s.kind == WriterKind::Asf](GstElement* newMux, GstElement*) {
                if (asf) KeepAsfPacketsWhole(newMux);
            });
        if (!started) return false;
        s.switchBusy = true;
        break;
    }
    case WriterKind::None:
        return false;
    }
    captureFileName_ = name;
    return true;
}

// The writer's pending next location, cleared: in one step where the writer
// offers it, so that the streaming thread cannot make the cut between the
// look and the clearing.
static GCharPtr TakeNextLocation(GstElement* writer)
{
    gchar* next = nullptr;
    if (!writer) return GCharPtr(next);
    if (g_signal_lookup("take-next-location", G_OBJECT_TYPE(writer)) != 0) {
        g_signal_emit_by_name(writer, "take-next-location", &next);
        return GCharPtr(next);
    }
    g_object_get(writer, "next-location", &next, NULL);
    if (next) g_object_set(writer, "next-location", nullptr, NULL);
    return GCharPtr(next);
}

bool TcaptureRun::GiveUpCaptureSwitch(bool stopping)
{
    if (!capture_ || !CaptureSwitchBusy()) return false;
    TcaptureState& s = *capture_;
    const QString name = captureFileName_;
    switch (s.kind) {
    case WriterKind::DvType1:
    case WriterKind::Avi:
    case WriterKind::Dump: {
        // The writer clears its next location once it has moved on; while
        // it is still there, no frame has come and no file was made.
        const GCharPtr pending = TakeNextLocation(CaptureFileSink());
        if (!pending) return false;
        break;
    }
    case WriterKind::Asf:
        // A stop cancels the switch before its new file is made.
        if (!stopping && !s.fileSwitch.GiveUp()) return false;
        break;
    case WriterKind::None:
        return false;
    }
    s.switchBusy = false;
    captureFileName_ = s.switchFrom;
    WriteLog("The cut into " + name + " was given up: the capture goes on in " + s.switchFrom);
    return true;
}

// ---- Ending the files ------------------------------------------------------------
//
// A capture ends in three steps. The ends are arranged (arrangeFinish): a cut
// still under way is given up, and every writer input is ended once its
// feeder is idle. Then the file sink's inputs are watched: a probe sees each
// take its end of stream, a thread of GStreamer's pool waits for the sink to
// be done with it and posts a message on the bus. Half way through the time
// allowed, inputs whose feeder never went idle are ended at the writer
// itself (forceEnds); at the end of it, the capture is given up as
// unfinished. BeginFinishCapture leaves all of it to the event loop; the
// blocking FinishCapture waits on the flags the pool's threads set.

namespace {

// The bus messages that bring the end of a capture to the GUI thread.
constexpr const char* kSinkThrough = "kad-capture-sink-through";
constexpr const char* kGraphStopped = "kad-capture-graph-stopped";

void postFinishMessage(GstBus* bus, const char* name, guint generation)
{
    gst_bus_post(
        bus, gst_message_new_application(
                 nullptr, gst_structure_new(name, "generation", G_TYPE_UINT, generation, NULL)));
}

using SinkEndsRef = std::shared_ptr<TcaptureRun::TcaptureState::SinkEnds>;

// One file-sink input as its end-of-stream probe and the pool's thread see
// it.
struct SinkInput {
    SinkEndsRef sinks;
    std::size_t index = 0;
    PadRef pad; // only for the pool's thread: the probe's pad is given to it
};

void deleteSinkInput(gpointer data)
{
    std::unique_ptr<SinkInput> owned(static_cast<SinkInput*>(data));
}

// `pad` has taken its end of stream. Its streaming thread holds the stream
// lock while the sink finishes the file: a thread of the pool waits for that
// lock, never the streaming thread itself nor the GUI thread.
void sinkInputEnded(const SinkEndsRef& sinks, std::size_t index, GstPad* pad)
{
    if (sinks->ended[index].exchange(true)) return;
    ElementRef owner(gst_pad_get_parent_element(pad));
    if (!owner) {
        sinks->through[index].store(true);
        postFinishMessage(sinks->bus.get(), kSinkThrough, sinks->generation);
        return;
    }
    gst_element_call_async(
        owner.get(),
        [](GstElement*, gpointer data) {
            auto* in = static_cast<SinkInput*>(data);
            GST_PAD_STREAM_LOCK(in->pad.get());
            GST_PAD_STREAM_UNLOCK(in->pad.get());
            in->sinks->through[in->index].store(true);
            postFinishMessage(in->sinks->bus.get(), kSinkThrough, in->sinks->generation);
        },
        std::make_unique<SinkInput>(SinkInput{sinks, index, PadRef::ref(pad)}).release(),
        deleteSinkInput);
}

GstPadProbeReturn onSinkEos(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
        const auto* in = static_cast<SinkInput*>(data);
        sinkInputEnded(in->sinks, in->index, pad);
    }
    return GST_PAD_PROBE_OK;
}

// The name of the file the writer wrote last: a writer that cuts or renames
// by itself knows it better than the messages still on their way here.
QString lastFileOf(GstElement* sink, const QString& fallback)
{
    if (!sink || !g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "location"))
        return fallback;
    gchar* location = nullptr;
    g_object_get(sink, "location", &location, NULL);
    const GCharPtr owned(location);
    return location && *location ? QString::fromUtf8(location) : fallback;
}

struct GraphStop {
    BusRef bus;
    guint generation = 0;
    std::shared_ptr<TcaptureRun::TcaptureState::Finish::StopOrder> order;
};

void deleteGraphStop(gpointer data)
{
    std::unique_ptr<GraphStop> owned(static_cast<GraphStop*>(data));
}

} // namespace

std::optional<bool> TcaptureRun::arrangeFinish(int timeoutMs)
{
    if (!capture_ || capture_->kind == WriterKind::None || capture_->finished) return true;
    TcaptureState& s = *capture_;
    if (s.diskGuard) s.diskGuard->stop();
    // A cut still under way is given up: the capture ends in the file it is
    // writing and no file is made under the cut's name. Waiting for the cut
    // instead could take longer than the stop allows (an input that sends
    // nothing holds it for seconds), and its held inputs would keep the ends
    // below from reaching the muxer.
    bool switchFinishedFile = false;
    if (s.fileSwitch.Busy() || s.switchBusy) {
        bool givenUp = s.fileSwitch.Busy();
        switchFinishedFile = s.fileSwitch.Cancel();
        if (s.kind == WriterKind::DvType1 || s.kind == WriterKind::Avi ||
            s.kind == WriterKind::Dump) {
            // A writer that switches by itself clears its next location once
            // it has moved on; its message may still be on its way here.
            const GCharPtr pending = TakeNextLocation(CaptureFileSink());
            givenUp = pending != nullptr;
        }
        if (givenUp) {
            WriteLog("The capture stopped before the cut into " + captureFileName_ +
                     ": it ends in " + s.switchFrom);
            captureFileName_ = s.switchFrom;
        }
        s.switchBusy = false;
    }
    s.finished = true;
    if (GST_STATE_TARGET(graph().fg()) < GST_STATE_PAUSED) {
        FinishCaptureReport(*this, s);
        return false;
    }

    // The file sinks: each input of each must take its end of stream
    // (kadaviwriter finishes its file once both of its inputs ended).
    TcaptureState::Finish& f = s.finish.emplace();
    f.clock.start();
    f.timeoutMs = timeoutMs;
    const std::vector<PadRef> sinkInputs = sinkPads(CaptureFileSink());
    f.sinks = std::make_shared<TcaptureState::SinkEnds>(sinkInputs.size());
    f.sinks->bus = BusRef(gst_pipeline_get_bus(graph().fg()));
    f.sinks->generation = ++s.finishGeneration;
    for (std::size_t i = 0; i < sinkInputs.size(); ++i) {
        GstPad* in = sinkInputs[i].get();
        const gulong id = gst_pad_add_probe(
            in, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onSinkEos,
            std::make_unique<SinkInput>(SinkInput{f.sinks, i, {}}).release(), deleteSinkInput);
        f.eosProbes.emplace_back(sinkInputs[i], id);
        // A stream that ended by itself (the source's end) has been through,
        // and so has a file the given-up cut had already finished.
        if (GST_PAD_IS_EOS(in) || switchFinishedFile) sinkInputEnded(f.sinks, i, in);
    }
    // Every input of the writer ends once its feeder is idle.
    GstElement* writer = s.kind == WriterKind::Dump ? graph().Dump.Element() : s.writer.get();
    for (PadRef& writerInput : sinkPads(writer)) {
        PadRef input = writerInput;
        PadRef feeder(gst_pad_get_peer(input.get()));
        if (!feeder) continue;
        // The end goes in front of the queue that feeds the writer, so what
        // the queue still holds reaches the file before it: kadaviwriter may
        // be waiting on one input while the other's queue fills, and asfmux
        // holds its inputs to interleave them. They pass the writer's
        // counter on their way.
        const bool counted = feeder.get() == s.counted.get();
        if (PadRef queueIn = queueInputBehind(feeder.get())) {
            PadRef upstream(gst_pad_get_peer(queueIn.get()));
            if (upstream) {
                input = queueIn;
                feeder = upstream;
            }
        }
        auto end = std::make_unique<TcaptureState::EndInput>();
        end->input = input;
        end->writerInput = writerInput;
        end->feeder = feeder;
        if (counted && input.get() == writerInput.get()) end->counter = &WrittenFrames();
        TcaptureState::EndInput* raw = end.get();
        s.ends.push_back(std::move(end));
        const gulong id =
            gst_pad_add_probe(feeder.get(), GST_PAD_PROBE_TYPE_IDLE, onFeederIdle, raw, nullptr);
        if (!raw->sent) raw->idleProbe = id;
    }
    if (s.kind == WriterKind::Dump) WrittenFrames().Detach();
    return std::nullopt;
}

void TcaptureRun::forceEnds()
{
    // A feeder that is never idle keeps its end from the writer: its thread
    // waits in a full queue whose muxer waits for an input that sends
    // nothing. Such inputs are ended at the writer itself: what their
    // queues still hold is lost, the file is finished.
    TcaptureState& s = *capture_;
    s.finish->forced = true;
    for (auto& e : s.ends) {
        if (e->sent.exchange(true)) continue;
        if (e->idleProbe) gst_pad_remove_probe(e->feeder.get(), e->idleProbe);
        e->idleProbe = 0;
        if (e->counter) e->counter->Detach();
        e->dropProbe = gst_pad_add_probe(e->feeder.get(),
                                         GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER |
                                                         GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                         GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                                         onAfterEnd, nullptr, nullptr);
        endAsync(e->writerInput.get());
        e->done = true;
    }
}

bool TcaptureRun::waitForSinks()
{
    TcaptureState::Finish& f = *capture_->finish;
    while (!f.sinks->allThrough() && f.clock.elapsed() < f.timeoutMs) {
        if (!f.forced && f.clock.elapsed() >= f.timeoutMs / 2) forceEnds();
        g_usleep(2000);
    }
    return f.sinks->allThrough();
}

void TcaptureRun::settleFinish(bool complete)
{
    TcaptureState& s = *capture_;
    TcaptureState::Finish& f = *s.finish;
    if (f.settled) return;
    f.settled = true;
    f.complete = complete;
    for (auto& [pad, id] : f.eosProbes)
        gst_pad_remove_probe(pad.get(), id);
    f.eosProbes.clear();
    // Once ended, a writer refuses whatever still comes; the feeders go on
    // so the rest of the graph is never held.
    if (!complete)
        WriteLog("The capture file " + captureFileName_ + " could not be finished in time");
    FinishCaptureReport(*this, s);
    f.lastFile = lastFileOf(CaptureFileSink(), captureFileName_);
    // The files hold all they will: the counts stay those of the capture
    // while the preview, which may keep the counted pad, runs on.
    WrittenFrames().Detach();
}

void TcaptureRun::finishSettled()
{
    TcaptureState::Finish& f = *capture_->finish;
    // The graph serves nothing more than the preview now, and the next build
    // stops it first: stopping it here, on a thread of the pool, spares the
    // GUI thread the wait for every streaming thread. The MovieBox is never
    // stopped in place (StopGraph rebuilds it).
    if (Source().Kind() != kad::SourceKind::skMovieBoxB && graph().IsRunning()) {
        f.stop = std::make_shared<TcaptureState::Finish::StopOrder>();
        gst_element_call_async(
            GST_ELEMENT(graph().fg()),
            [](GstElement* graph, gpointer data) {
                const auto* stop = static_cast<GraphStop*>(data);
                {
                    std::lock_guard held(stop->order->lock);
                    if (stop->order->calledOff) return;
                    gst_element_set_state(graph, GST_STATE_READY);
                }
                postFinishMessage(stop->bus.get(), kGraphStopped, stop->generation);
            },
            std::make_unique<GraphStop>(GraphStop{f.sinks->bus, f.sinks->generation, f.stop})
                .release(),
            deleteGraphStop);
        return;
    }
    announceFinished(f.lastFile, f.complete);
    capture_->finish.reset();
}

void TcaptureRun::announceFinished(const QString& lastFile, bool complete)
{
    // Always from the event loop: the caller of BeginFinishCapture sees the
    // end after its call has returned, whichever way the end came.
    QMetaObject::invokeMethod(
        this,
        [this, lastFile, complete] {
            finishing_ = false;
            emit CaptureFinished(lastFile, complete);
        },
        Qt::QueuedConnection);
}

bool TcaptureRun::onFinishMessage(GstMessage* message)
{
    const GstStructure* st = gst_message_get_structure(message);
    const bool through = st && gst_structure_has_name(st, kSinkThrough);
    const bool stopped = st && gst_structure_has_name(st, kGraphStopped);
    if (!through && !stopped) return false;
    guint generation = 0;
    gst_structure_get_uint(st, "generation", &generation);
    // Messages of an end that was overtaken (FinishCapture) or of an earlier
    // capture have nothing left to tell.
    if (!capture_ || !capture_->finish || !capture_->finish->announced ||
        capture_->finish->sinks->generation != generation)
        return true;
    TcaptureState::Finish& f = *capture_->finish;
    if (through && !f.settled && f.sinks->allThrough()) {
        settleFinish(true);
        finishSettled();
    } else if (stopped && f.settled) {
        announceFinished(f.lastFile, f.complete);
        capture_->finish.reset();
    }
    return true;
}

bool TcaptureRun::FinishCapture(int timeoutMs)
{
    // This waits on the GUI thread, for the tear-downs that cannot wait for
    // CaptureFinished: the graph is about to be stopped, cleared or
    // destroyed, and its files must be complete before. An end begun by
    // BeginFinishCapture is overtaken here within its own time, and still
    // announced.
    if (capture_ && capture_->finish) {
        TcaptureState::Finish& f = *capture_->finish;
        if (!f.settled) settleFinish(waitForSinks());
        if (f.stop) {
            // What follows stops or rebuilds the graph itself.
            std::lock_guard held(f.stop->lock);
            f.stop->calledOff = true;
        }
        const bool complete = f.complete;
        if (f.announced) announceFinished(f.lastFile, complete);
        capture_->finish.reset();
        return complete;
    }
    if (const std::optional<bool> now = arrangeFinish(timeoutMs)) return *now;
    settleFinish(waitForSinks());
    const bool complete = capture_->finish->complete;
    capture_->finish.reset();
    return complete;
}

void TcaptureRun::BeginFinishCapture(int timeoutMs)
{
    if (finishing_) return;
    finishing_ = true;
    // A capture that ends makes no more files of recordings: the frames
    // still to come stay in the current file.
    if (capture_ && capture_->writer && !capture_->finished) {
        GstElement* w = capture_->writer.get();
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(w), "split-recordings"))
            g_object_set(w, "split-recordings", FALSE, "split-location", nullptr, NULL);
    }
    if (const std::optional<bool> now = arrangeFinish(timeoutMs)) {
        announceFinished(lastFileOf(CaptureFileSink(), captureFileName_), *now);
        return;
    }
    TcaptureState::Finish& f = *capture_->finish;
    f.announced = true;
    const guint generation = f.sinks->generation;
    const auto pending = [this, generation] {
        return capture_ && capture_->finish && capture_->finish->sinks->generation == generation &&
               !capture_->finish->settled;
    };
    QTimer::singleShot(timeoutMs / 2, this, [this, pending] {
        if (pending() && !capture_->finish->forced) forceEnds();
    });
    QTimer::singleShot(timeoutMs, this, [this, pending] {
        if (!pending()) return;
        settleFinish(capture_->finish->sinks->allThrough());
        finishSettled();
    });
    // A sink without inputs has nothing to wait for.
    if (f.sinks->allThrough()) {
        settleFinish(true);
        finishSettled();
    }
}

// ---- The preview after the capture ----------------------------------------------

void TcaptureRun::forgetPreviewBefore()
{
    if (capture_) capture_->previewBefore.reset();
}

bool TcaptureRun::reusePreview()
{
    if (!capture_ || !capture_->previewBefore) return false;
    TcaptureState& s = *capture_;
    const TcaptureState::PreviewBefore before = std::move(*s.previewBefore);
    s.previewBefore.reset();
    // Only a capture that has ended, in a stopped graph whose preview is
    // still the one the capture was added to, with the same source and
    // options.
    if (!s.finished || s.finish || GST_STATE_TARGET(graph().fg()) > GST_STATE_READY) return false;
    if (Source().Kind() != before.kind || !before.source ||
        graph().VideoSource.Element() != before.source.get() ||
        preview().Options() != before.options || !before.smartTee || !before.nullRenderer ||
        graph().NullRenderer.InGraph())
        return false;
    // The capture took the null renderer off the Smart Tee's capture output,
    // and for a DV source it may have taken the Smart Tee out too, the
    // source going straight to the DV splitter. Every other element of the
    // preview is still there.
    const std::vector<ElementRef> now = childrenOf(graph().Graph());
    const bool teeKept = holds(now, before.smartTee.get());
    if (teeKept != (graph().Smarttee.Element() == before.smartTee.get())) return false;
    for (const ElementRef& e : before.children)
        if (e.get() != before.nullRenderer.get() && e.get() != before.smartTee.get() &&
            !holds(now, e.get()))
            return false;
    PadRef sourceToSplitter;
    if (!teeKept) {
        PadRef splitterIn(graph().DVsplitter.InGraph()
                              ? gst_element_get_static_pad(graph().DVsplitter.Element(), "sink")
                              : nullptr);
        PadRef peer(Source().Pin() ? gst_pad_get_peer(Source().Pin().get()) : nullptr);
        if (Source().Kind() != kad::SourceKind::skDV || !splitterIn ||
            peer.get() != splitterIn.get())
            return false;
        sourceToSplitter = Source().Pin();
    }
    PadRef captureOut(teeKept ? gst_element_get_static_pad(graph().Smarttee.Element(), "capture")
                              : nullptr);
    if (teeKept && !captureOut) return false;

    // What the capture added: every element placed since but the link
    // helpers, and the helpers linked to those. Other helpers came from the
    // preview's own links to pads its demultiplexers made meanwhile.
    const auto neighbours = [](GstElement* e) {
        std::vector<std::pair<PadRef, ElementRef>> linked;
        for (PadRef& pad : padsOf(e)) {
            PadRef peer(gst_pad_get_peer(pad.get()));
            ElementRef owner(peer ? gst_pad_get_parent_element(peer.get()) : nullptr);
            if (owner) linked.emplace_back(std::move(peer), std::move(owner));
        }
        return linked;
    };
    std::vector<ElementRef> added;
    for (const ElementRef& e : now)
        if (!holds(before.children, e.get()) && !IsLinkHelperElement(e.get())) added.push_back(e);
    for (std::size_t i = 0; i < added.size(); ++i)
        for (auto& [peer, owner] : neighbours(added[i].get()))
            if (!holds(before.children, owner.get()) && !holds(added, owner.get()) &&
                holds(now, owner.get()))
                added.push_back(std::move(owner));
    // They hang off the preview only at the Smart Tee's capture output and at
    // outputs they asked the preview's tees for (given back as they leave).
    for (const ElementRef& e : added)
        for (auto& [peer, owner] : neighbours(e.get())) {
            if (holds(added, owner.get()) || peer.get() == captureOut.get()) continue;
            GstPadTemplate* made = GST_PAD_PAD_TEMPLATE(peer.get());
            GstElementFactory* factory = gst_element_get_factory(owner.get());
            if (!made || GST_PAD_TEMPLATE_PRESENCE(made) != GST_PAD_REQUEST || !factory ||
                g_strcmp0(GST_OBJECT_NAME(factory), "tee") != 0)
                return false;
        }
    // Between the preview's own elements, no link was made or undone but
    // the source's straight one to the splitter.
    std::vector<ElementRef> kept;
    for (const ElementRef& e : before.children)
        if (holds(now, e.get())) kept.push_back(e);
    const auto linksNow = linksBetween(kept);
    const auto linked = [](const std::vector<std::pair<PadRef, PadRef>>& links, GstPad* out) {
        return std::any_of(links.begin(), links.end(),
                           [out](const auto& l) { return l.first.get() == out; });
    };
    for (const auto& link : linksNow)
        if (link.first.get() != sourceToSplitter.get() && !linked(before.links, link.first.get()))
            return false;
    for (const auto& link : before.links)
        if (holds(kept, GST_PAD_PARENT(link.first.get())) &&
            holds(kept, GST_PAD_PARENT(link.second.get())) && !linked(linksNow, link.first.get()))
            return false;

    // The writers' feeders are let through again: every end is done and the
    // graph is stopped.
    s.removeBlocks();
    for (const ElementRef& e : added)
        ForgetDeferredLinks(e.get());
    for (const ElementRef& e : added) {
        if (TfilterSlot* slot = TfilterSlot::OfElement(e.get())) {
            slot->Remove();
            continue;
        }
        UnlinkAllPads(e.get());
        gst_element_set_state(e.get(), GST_STATE_NULL);
        gst_bin_remove(graph().Graph(), e.get());
    }
    graph().place(graph().NullRenderer);
    if (!teeKept) {
        // As the preview's build links them.
        gst_pad_unlink(Source().Pin().get(), PadRef(gst_pad_get_peer(Source().Pin().get())).get());
        graph().place(graph().Smarttee);
        if (graph().rs(Source().Pin().get(), &graph().Smarttee, graph().NullRenderer) ==
                LinkResult::MissingElement ||
            graph().rs(graph().Smarttee, nullptr, graph().DVsplitter) == LinkResult::MissingElement)
            return false;
    } else {
        PadRef nullIn(graph().NullRenderer.InGraph()
                          ? gst_element_get_static_pad(graph().NullRenderer.Element(), "sink")
                          : nullptr);
        if (!nullIn || gst_pad_link(captureOut.get(), nullIn.get()) != GST_PAD_LINK_OK)
            return false;
    }
    preview().previewBuilt_ = true;
    preview().ReadFormat();
    return true;
}

// ---- Counters -----------------------------------------------------------------------

namespace {

// kadaviwriter's own counts: frames in its current file (filled slots
// included) and slots it filled during the whole capture.
std::pair<guint64, guint64> aviWriterCounts(GstElement* writer)
{
    guint64 written = 0;
    guint64 filled = 0;
    if (writer) g_object_get(writer, "frames-written", &written, "lost-frames", &filled, NULL);
    return {written, filled};
}

} // namespace

guint64 TcaptureRun::CapturedFrames() const
{
    if (!capture_ || capture_->kind != WriterKind::Avi || !capture_->writer)
        return writtenFrames_->Frames();
    // What the writer wrote from the source: every frame of its files but
    // the slots it filled with a copy of the frame before.
    const auto [written, filled] = aviWriterCounts(capture_->writer.get());
    const guint64 all = capture_->finishedFileFrames + written;
    const guint64 captured = all > filled ? all - filled : 0;
    guint64 shown = capture_->capturedShown.load();
    while (captured > shown && !capture_->capturedShown.compare_exchange_weak(shown, captured)) {
    }
    return std::max(captured, shown);
}

guint64 TcaptureRun::LostFrames() const
{
    // A frame missing at the source is missing at the writer too wherever
    // the writer sees the source's own frame numbers (DV type 1 and 2): one
    // lost frame, not two. Where the graph numbers the frames anew (an
    // encoder) the source's gaps are the ones that tell. kadaviwriter fills
    // the slot of every frame that did not come: each is one lost frame.
    guint64 lost = std::max(preview().SourceFrames().Gaps(), writtenFrames_->Gaps());
    if (capture_ && capture_->kind == WriterKind::Avi && capture_->writer)
        lost = std::max(lost, aviWriterCounts(capture_->writer.get()).second);
    return lost;
}

} // namespace kad
