#include "graph/filter_graph.h"

#include "graph/dm_cam.h"

#include "graph/crossbar.h"
#include "graph/frame_counter.h"
#include "platform/media/cam_transport.h"
#include "platform/media/element_catalogue.h"
#include "platform/media/media_platform.h"
#include "system/devices/video_sources.h"
#include "system/log.h"

#include <vector>

namespace kad {

namespace {

GstElement* makeElement(const std::string& factory)
{
    return factory.empty() ? nullptr : gst_element_factory_make(factory.c_str(), nullptr);
}

TfilterSlot::Maker factoryMaker(std::string factory, void (*setup)(GstElement*) = nullptr)
{
    return [factory, setup]() -> GstElement* {
        GstElement* e = makeElement(factory);
        if (e && setup) setup(e);
        return e;
    };
}

void bindFactory(TfilterSlot& slot, std::initializer_list<const char*> factories,
                 void (*setup)(GstElement*) = nullptr)
{
    const std::string factory = FirstInstalled(factories);
    if (!factory.empty()) slot.Bind(factory, factoryMaker(factory, setup));
}

// Taps: a tee that never stops the stream while nothing is connected to it.
void setupTap(GstElement* tee)
{
    g_object_set(tee, "allow-not-linked", TRUE, NULL);
}

// Ends the Smart Tee's capture output during preview: takes everything at
// once, never waits for a clock, never holds a state change.
void setupNullRenderer(GstElement* sink)
{
    g_object_set(sink, "sync", FALSE, "async", FALSE, NULL);
}

// A bin of one chain of elements with the chain's ends as its pads.
GstElement* makeChainBin(std::initializer_list<GstElement*> chain)
{
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* previous = nullptr;
    for (GstElement* e : chain) {
        if (!e) {
            gst_object_unref(gst_object_ref_sink(bin));
            return nullptr;
        }
        gst_bin_add(GST_BIN(bin), e);
        if (previous) gst_element_link(previous, e);
        previous = e;
    }
    PadRef sink(gst_element_get_static_pad(*chain.begin(), "sink"));
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", sink.get()));
    if (PadRef src{gst_element_get_static_pad(previous, "src")})
        gst_element_add_pad(bin, gst_ghost_pad_new("src", src.get()));
    return bin;
}

// The ACM Wrapper: converts audio; its "rate" capsfilter forces the output
// rate when asked.
GstElement* makeAudioConverter()
{
    GstElement* rate = gst_element_factory_make("capsfilter", "rate");
    return makeChainBin({gst_element_factory_make("audioconvert", nullptr),
                         gst_element_factory_make("audioresample", nullptr), rate});
}

// The audio renderer: a volume in front of the sound output.
GstElement* makeAudioRenderer()
{
    return makeChainBin({gst_element_factory_make("volume", "volume"), MakeAudioOutput()});
}

GstElement* innerByName(GstElement* bin, const char* name)
{
    if (!bin || !GST_IS_BIN(bin)) return nullptr;
    return gst_bin_get_by_name(GST_BIN(bin), name);
}

// Bus messages of element or of anything inside it.
bool comesFrom(GstMessage* message, GstElement* element)
{
    GstObject* src = GST_MESSAGE_SRC(message);
    return element && src &&
           (src == GST_OBJECT(element) || gst_object_has_as_ancestor(src, GST_OBJECT(element)));
}

} // namespace

TfilterGraph::TfilterGraph(TsourceConnection& source, TpreviewBuilder& preview,
                           TcaptureRun& capture, QObject* parent)
    : QObject(parent), source_(source), preview_(preview), capture_(capture)
{
    createGraph();
    bindFixedSlots();
}

TfilterGraph::~TfilterGraph()
{
    destroyGraph();
}

void TfilterGraph::removeAllSlots()
{
    for (TfilterSlot* slot : {&DVencoder,    &color,         &Smarttee,    &Infinite,
                              &Infinite2,    &infinite3,     &infinite4,   &NullRenderer,
                              &DVsplitter,   &DVsplitter2,   &AudioRender, &DVDEcoder,
                              &MpegAudioDec, &DVmuxer,       &acm,         &asf,
                              &VideoSource,  &AudioSource,   &demux,       &Dump,
                              &Deinterlacer, &Mpeg2VideoDec, &Lumatex,     &Chronix,
                              &hdVideo,      &hdAudio,       &hdAuto,      &sg})
        slot->Remove();
}

void TfilterGraph::createGraph()
{
    fg_ = ElementRef::sink(gst_pipeline_new("fg"));
    // "Active": ready to take devices, which probe their formats in READY.
    gst_element_set_state(fg_.get(), GST_STATE_READY);
    BusRef bus(gst_pipeline_get_bus(fg()));
    busWatch_ = gst_bus_add_watch(bus.get(), &TfilterGraph::onBusMessage, this);
}

void TfilterGraph::destroyGraph()
{
    if (busWatch_) g_source_remove(busWatch_);
    busWatch_ = 0;
    if (fg_) gst_element_set_state(fg_.get(), GST_STATE_NULL);
    fg_.reset();
}

void TfilterGraph::bindFixedSlots()
{
    bindFactory(DVencoder, {"avenc_dvvideo"});
    bindFactory(color, {"videoconvert"});
    bindFactory(Smarttee, {"kadsmarttee"});
    for (TfilterSlot* tap : {&Infinite, &Infinite2, &infinite3, &infinite4})
        bindFactory(*tap, {"tee"}, setupTap);
    bindFactory(NullRenderer, {"fakesink"}, setupNullRenderer);
    bindFactory(DVsplitter, {"dvdemux"});
    bindFactory(DVsplitter2, {"dvdemux"});
    AudioRender.Bind("volume ! audio output", [this]() -> GstElement* {
        GstElement* bin = makeAudioRenderer();
        if (GstElement* volume = innerByName(bin, "volume")) {
            g_object_set(volume, "volume", volume_ / 10000.0, NULL);
            gst_object_unref(volume);
        }
        return bin;
    });
    // libav's DV decoder takes about half libdv's time per picture.
    bindFactory(DVDEcoder, {"avdec_dvvideo", "dvdec"}, SetPictureByPictureDecoding);
    bindFactory(MpegAudioDec, {"mpg123audiodec", "avdec_mp2float"});
    bindFactory(DVmuxer, {"avmux_dv"});
    acm.Bind("audioconvert ! audioresample ! capsfilter", makeAudioConverter);
    bindFactory(asf, {"asfmux"});
    bindFactory(sg, {"kadsamplegrabber"});
}

// ---- Catalogue ---------------------------------------------------------------

bool TfilterGraph::BindFilterByName(FilterCategory category, const QString& name, TfilterSlot& slot)
{
    if (category == FilterCategory::DirectShowFilters) {
        const std::optional<std::string> factory = FindFilterByName(name);
        if (!factory) {
            slot.Unbind();
            return false;
        }
        slot.Bind(*factory, factoryMaker(*factory));
        return true;
    }
    slot.Remove();
    const auto devices =
        EnumerateDevices(category == FilterCategory::AudioInputDevices ? DeviceCategory::Audio
                                                                       : DeviceCategory::Video);
    if (devices) {
        for (auto it = devices->rbegin(); it != devices->rend(); ++it) {
            if (it->FriendlyName.compare(name, Qt::CaseInsensitive) != 0 || !it->Device) continue;
            DeviceRef device = it->Device;
            slot.Bind(it->FriendlyName.toStdString(), [device]() -> GstElement* {
                return gst_device_create_element(device.get(), nullptr);
            });
            return true;
        }
    }
    slot.Unbind();
    return false;
}

static QString DeviceClassId(GstDevice* device)
{
    GstStructurePtr props(device ? gst_device_get_properties(device) : nullptr);
    const char* clsid = props ? gst_structure_get_string(props.get(), "kadrillo.clsid") : nullptr;
    return clsid ? QString::fromUtf8(clsid) : QString();
}

bool TfilterGraph::BindFilterByClsid(FilterCategory category, const QString& clsid,
                                     TfilterSlot& slot)
{
    slot.Remove();
    if (category == FilterCategory::DirectShowFilters) {
        const std::optional<std::string> factory = FindFilterByClsid(clsid);
        if (!factory) return false;
        slot.Bind(*factory, factoryMaker(*factory));
        return true;
    }
    const auto devices =
        EnumerateDevices(category == FilterCategory::AudioInputDevices ? DeviceCategory::Audio
                                                                       : DeviceCategory::Video);
    if (!devices) return false;
    for (const TdeviceEntry& entry : *devices) {
        if (!entry.Device ||
            DeviceClassId(entry.Device.get()).compare(clsid, Qt::CaseInsensitive) != 0)
            continue;
        DeviceRef device = entry.Device;
        slot.Bind(entry.FriendlyName.toStdString(), [device]() -> GstElement* {
            return gst_device_create_element(device.get(), nullptr);
        });
        return true;
    }
    return false;
}

void TfilterGraph::CheckOptionalFilters()
{
    const auto filters = FilterCategory::DirectShowFilters;
    presence_.DeinterlacerPresent =
        BindFilterByName(filters, "Pinnacle Video Deinterlacer", Deinterlacer);
    presence_.LumatexPresent = BindFilterByName(filters, "Tavrel Lumatex3", Lumatex);
    presence_.ChronixPresent = BindFilterByName(filters, "Tavrel Chronix2", Chronix);
    presence_.HorodexPresent = BindFilterByName(filters, "Tavrel Horodex", hdVideo);
    if (presence_.HorodexPresent) {
        BindFilterByName(filters, "Tavrel Horodex", hdAudio);
        BindFilterByName(filters, "Tavrel Horodex", hdAuto);
    }
    presence_.InlayFiltersAvailable = presence_.LumatexPresent && presence_.ChronixPresent;
    presence_.DumpPresent = BindFilterByName(filters, "Dump", Dump);
    presence_.CirrusSplitterPresent = BindFilterByClsid(filters, kClsidCirrusSplitter, demux);
    presence_.PinnacleDecoderPresent =
        BindFilterByName(filters, "Pinnacle MPEG 2 Decoder", Mpeg2VideoDec);
    presence_.MovieBoxDevicePresent =
        BindFilterByClsid(FilterCategory::VideoInputDevices, kClsidMovieBoxB, VideoSource);
    presence_.PinnacleDemuxPresent = BindFilterByClsid(filters, kClsidPinnacleDemux, demux);
    presence_.WmvAvailable = Installed("asfmux") &&
                             (Installed("avenc_wmv1") || Installed("avenc_wmv2")) &&
                             Installed("avenc_wmav2");
}

// ---- Tear-down ---------------------------------------------------------------

void TfilterGraph::clearGraph()
{
    capture_.FinishCapture();
    capture_.forgetPreviewBefore();
    gst_element_set_state(fg_.get(), GST_STATE_READY);
    std::vector<ElementRef> children;
    GST_OBJECT_LOCK(fg_.get());
    for (GList* l = GST_BIN(fg_.get())->children; l; l = l->next)
        children.push_back(ElementRef::ref(GST_ELEMENT(l->data)));
    GST_OBJECT_UNLOCK(fg_.get());
    for (const ElementRef& child : children) {
        ForgetDeferredLinks(child.get());
        UnlinkAllPads(child.get());
    }
    for (const ElementRef& child : children) {
        if (TfilterSlot::OfElement(child.get()) || child.get() == videoWindow_.get()) continue;
        gst_element_set_state(child.get(), GST_STATE_NULL);
        gst_bin_remove(Graph(), child.get());
    }
}

void TfilterGraph::pruneHelpers()
{
    // A helper whose input or output side lost every link serves no branch
    // any more; taking it out may orphan the next one, hence the loop.
    for (bool removed = true; removed;) {
        removed = false;
        std::vector<ElementRef> children;
        GST_OBJECT_LOCK(fg_.get());
        for (GList* l = GST_BIN(fg_.get())->children; l; l = l->next)
            if (IsLinkHelperElement(GST_ELEMENT(l->data)))
                children.push_back(ElementRef::ref(GST_ELEMENT(l->data)));
        GST_OBJECT_UNLOCK(fg_.get());
        for (const ElementRef& helper : children) {
            auto sideUnlinked = [&](GList* pads) {
                if (!pads) return false;
                for (GList* l = pads; l; l = l->next)
                    if (gst_pad_is_linked(GST_PAD(l->data))) return false;
                return true;
            };
            GST_OBJECT_LOCK(helper.get());
            const bool orphan = sideUnlinked(helper->sinkpads) || sideUnlinked(helper->srcpads);
            GST_OBJECT_UNLOCK(helper.get());
            if (!orphan) continue;
            UnlinkAllPads(helper.get());
            gst_element_set_state(helper.get(), GST_STATE_NULL);
            gst_bin_remove(Graph(), helper.get());
            removed = true;
        }
    }
}

void TfilterGraph::FreeAllFilters()
{
    clearGraph();
    asf.Remove();
    for (TfilterSlot* slot :
         {&hdVideo,     &hdAudio,     &Smarttee,     &NullRenderer, &DVsplitter,    &sg,
          &AudioSource, &DVDEcoder,   &Deinterlacer, &Lumatex,      &Chronix,       &DVsplitter2,
          &Infinite,    &Infinite2,   &color,        &DVencoder,    &infinite4,     &AudioRender,
          &infinite3,   &Dump,        &demux,        &MpegAudioDec, &Mpeg2VideoDec, &DVmuxer,
          &acm,         &DVsplitter2, &hdAuto})
        slot->Remove();
}

// ---- Linking slots -------------------------------------------------------------

bool TfilterGraph::place(TfilterSlot& slot)
{
    return slot.Place(Graph());
}

// A slot given to a link must be in the graph; a missing one is reported
// as MissingElement, which ends the build (the builders check for it only;
// every other outcome of a link is left for the picture to show).
LinkResult TfilterGraph::rs(TfilterSlot& a, TfilterSlot* b, TfilterSlot& c, MediaHint hint)
{
    if (b && !b->InGraph()) return LinkResult::MissingElement;
    return RenderStream(Graph(), a.Element(), b ? b->Element() : nullptr, c.Element(), hint);
}

LinkResult TfilterGraph::rs(GstPad* a, TfilterSlot* b, TfilterSlot& c)
{
    if (b && !b->InGraph()) return LinkResult::MissingElement;
    return RenderStreamFromPad(Graph(), a, b ? b->Element() : nullptr, c.Element());
}

LinkResult TfilterGraph::rsToWindow(TfilterSlot& a, TfilterSlot* b)
{
    if (b && !b->InGraph()) return LinkResult::MissingElement;
    return RenderStream(Graph(), a.Element(), b ? b->Element() : nullptr, videoWindow_.get());
}

// ---- Running -------------------------------------------------------------------

bool TfilterGraph::RunGraph()
{
    // The sources send their stream from its start again at each run; the
    // decoders, which may have seen it in the run before, must start with it.
    if (GST_STATE_TARGET(fg_.get()) <= GST_STATE_READY) RestartDecoders(Graph());
    return gst_element_set_state(fg_.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

GstState TfilterGraph::GraphState() const
{
    GstState state = GST_STATE_NULL;
    gst_element_get_state(fg_.get(), &state, nullptr, 0);
    return state;
}

bool TfilterGraph::IsRunning() const
{
    return GST_STATE_TARGET(fg_.get()) == GST_STATE_PLAYING;
}

void TfilterGraph::StopGraph()
{
    // A capture still ending (BeginFinishCapture) is finished here, also
    // when its graph has stopped already: what follows rebuilds the graph.
    if (!IsRunning()) {
        if (capture_.CaptureFinishing()) capture_.FinishCapture();
        return;
    }
    capture_.FinishCapture();
    if (source_.Kind() != kad::SourceKind::skMovieBoxB) {
        gst_element_set_state(fg_.get(), GST_STATE_READY);
        return;
    }
    // The MovieBox cannot be stopped and run again in place: its graph is
    // made anew from the connection on.
    FreeAllFilters();
    VideoSource.Remove();
    source_.releasePin();
    ElementRef window = videoWindow_;
    if (window) {
        gst_element_set_state(window.get(), GST_STATE_NULL);
        gst_bin_remove(Graph(), window.get());
    }
    videoWindow_.reset();
    destroyGraph();
    preview_.previewBuilt_ = false;
    createGraph();
    SetVideoWindow(window.get());
    if (movieBoxRebuild_) movieBoxRebuild_();
}

void TfilterGraph::SetVolume(int volume)
{
    volume_ = std::clamp(volume, 0, 10000);
    if (GstElement* v = innerByName(AudioRender.Element(), "volume")) {
        g_object_set(v, "volume", volume_ / 10000.0, NULL);
        gst_object_unref(v);
    }
}

void TfilterGraph::SetVideoWindow(GstElement* display)
{
    if (videoWindow_.get() == display) return;
    if (videoWindow_ && GST_OBJECT_PARENT(videoWindow_.get()) == GST_OBJECT(fg_.get())) {
        UnlinkAllPads(videoWindow_.get());
        gst_element_set_state(videoWindow_.get(), GST_STATE_NULL);
        gst_bin_remove(Graph(), videoWindow_.get());
    }
    videoWindow_.reset();
    if (!display) return;
    videoWindow_ =
        g_object_is_floating(display) ? ElementRef::sink(display) : ElementRef::ref(display);
    gst_bin_add(Graph(), videoWindow_.get());
    gst_element_sync_state_with_parent(videoWindow_.get());
}

// ---- Bus -------------------------------------------------------------------------

gboolean TfilterGraph::onBusMessage(GstBus*, GstMessage* message, gpointer self)
{
    static_cast<TfilterGraph*>(self)->handleBusMessage(message);
    return G_SOURCE_CONTINUE;
}

void TfilterGraph::handleBusMessage(GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        GErrorPtr owned(error);
        const GCharPtr detail(debug);
        // The window says what went wrong; which element said it, and its
        // own account, are what a report needs to find why.
        const GCharPtr from(GST_MESSAGE_SRC(message)
                                ? gst_object_get_path_string(GST_MESSAGE_SRC(message))
                                : nullptr);
        WriteLog(QStringLiteral("Graph error from %1: %2 (%3)")
                     .arg(QString::fromUtf8(from ? from.get() : "?"),
                          error ? QString::fromUtf8(error->message) : QString(),
                          QString::fromUtf8(detail ? detail.get() : "").simplified()));
        if (comesFrom(message, VideoSource.Element()) && error &&
            error->domain == GST_RESOURCE_ERROR) {
            capture_.SetCaptureEndReason(CaptureEnd::DeviceLost, MediaErrorText(error));
            emit DeviceLost();
        } else
            emit GraphError(MediaErrorText(error));
        break;
    }
    case GST_MESSAGE_DEVICE_REMOVED: {
        GstDevice* gone = nullptr;
        gst_message_parse_device_removed(message, &gone);
        GRef<GstDevice> owned(gone);
        if (gone && source_.Device() && gone == source_.Device()) {
            capture_.SetCaptureEndReason(CaptureEnd::DeviceLost);
            emit DeviceLost();
        }
        break;
    }
    case GST_MESSAGE_EOS:
        emit EndOfStream();
        break;
    case GST_MESSAGE_APPLICATION: {
        if (capture_.onFinishMessage(message)) break;
        const GstStructure* s = gst_message_get_structure(message);
        gint64 duration = 0;
        int width = 0, height = 0;
        if (gst_structure_has_name(s, "kad-format") &&
            gst_structure_get_int64(s, "duration", &duration) &&
            gst_structure_get_int(s, "width", &width) &&
            gst_structure_get_int(s, "height", &height))
            preview_.applyFormat(duration, width, height);
        break;
    }
    default:
        break;
    }
}

} // namespace kad
