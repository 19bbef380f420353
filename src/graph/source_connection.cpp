// Connecting the chosen device: ConnectSource and what it asks of the source.

#include "graph/source_connection.h"

#include "graph/crossbar.h"
#include "graph/dm_cam.h"

#include "elements/kad_transport.h"
#include "graph/crossbar_source.h"
#include "graph/frame_counter.h"
#include "media/dv/dv_frame_screen.h"
#include "platform/media/cam_transport.h"
#include "platform/media/element_catalogue.h"
#include "system/devices/video_sources.h"
#include "system/dialogs.h"
#include "system/log.h"
#include "system/texts.h"

#include <QMetaObject>

#include <memory>
#include <vector>

namespace kad {

namespace {

// What the source's pads carry, in the order the classification asks.
constexpr const char* kStreamCaps = "video/mpeg, systemstream=(boolean)true";
constexpr const char* kInterleavedCaps = "video/x-dv, systemstream=(boolean)true";
constexpr const char* kCaptureCaps = "video/x-raw; image/jpeg";

// The first free source pad of element whose caps meet wanted.
PadRef findPin(GstElement* element, const char* wanted)
{
    CapsRef want(gst_caps_from_string(wanted));
    std::vector<PadRef> pads;
    GST_OBJECT_LOCK(element);
    for (GList* l = element->srcpads; l; l = l->next)
        pads.push_back(PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(element);
    for (PadRef& pad : pads) {
        if (gst_pad_is_linked(pad.get())) continue;
        CapsRef caps(gst_pad_query_caps(pad.get(), nullptr));
        if (caps && !gst_caps_is_any(caps.get()) && gst_caps_can_intersect(caps.get(), want.get()))
            return std::move(pad);
    }
    return {};
}

// The class identifier a device or its element carries ("{...}"), or empty.
QString classIdOf(GstElement* element, GstDevice* device)
{
    if (device) {
        GstStructurePtr props(gst_device_get_properties(device));
        if (const char* id =
                props ? gst_structure_get_string(props.get(), "kadrillo.clsid") : nullptr)
            return QString::fromUtf8(id);
    }
    if (element && g_object_class_find_property(G_OBJECT_GET_CLASS(element), "class-id")) {
        gchar* id = nullptr;
        g_object_get(element, "class-id", &id, NULL);
        GCharPtr owned(id);
        return QString::fromUtf8(id ? id : "");
    }
    return {};
}

void logError(const QString& text)
{
    WriteLogSection(text);
}

} // namespace

TsourceConnection::TsourceConnection(TfilterGraph& graph, TpreviewBuilder& preview, QObject* parent)
    : QObject(parent), graph_(graph), preview_(preview)
{
}

void TsourceConnection::SetVideoCrossbar(std::unique_ptr<TCrossbar> crossbar, int inputs)
{
    crossbar_ = std::move(crossbar);
    facts_.VideoInputCount = inputs;
}

void TsourceConnection::ForgetSource()
{
    facts_.Kind = kad::SourceKind::skNoVideo;
    transport_.reset();
    facts_.HasExtTransport = false;
    facts_.HasTimecodeReader = false;
    facts_.IsCamera = false;
    facts_.IsVCR = false;
    facts_.Description.clear();
}

TconnectResult TsourceConnection::failed(const QString& text)
{
    return TconnectResult::Failed(text);
}

TconnectResult TsourceConnection::ConnectSource(const TvideoSource& source)
{
    // The device is looked up again when the slot is placed once more after
    // a rebuild; the first placing uses the element bound here.
    TboundSource bound = BindVideoSource(source, nullptr);
    device_ = source.Device;
    if (!bound) {
        WriteLog("Try to connect " + source.Name);
        const QString text = "The connection of " + source.Name + " has failed";
        logError(text);
        return failed(text);
    }
    return ConnectSourceElement(source.Name, bound.Element.release(), source.Description);
}

TconnectResult TsourceConnection::ConnectSourceElement(const QString& name,
                                                       GstElement* floatingElement,
                                                       const QString& description)
{
    ElementRef element;
    if (floatingElement)
        element = g_object_is_floating(floatingElement) ? ElementRef::sink(floatingElement)
                                                        : ElementRef(floatingElement);
    beginConnect(name);
    if (!element) {
        const QString text = "The connection of " + name + " has failed";
        logError(text);
        return failed(text);
    }
    return finishConnect(name, std::move(element), description);
}

void TsourceConnection::beginConnect(const QString& name)
{
    WriteLog("Try to connect " + name);
    preview_.unwatchSourceFormat();
    pin_.reset();
    // A source placed into a running graph would start streaming into
    // nothing (a capture's graph has PreviewBuilt false but still runs).
    if (preview_.PreviewBuilt() || graph_.IsRunning()) {
        graph_.StopGraph();
        graph_.clearGraph();
    }
}

TconnectResult TsourceConnection::finishConnect(const QString& name, ElementRef element,
                                                const QString& description)
{
    GRef<GstDevice> device = device_;
    auto first = std::make_shared<ElementRef>(std::move(element));
    graph_.VideoSource.Bind(name.toStdString(), [first, device]() -> GstElement* {
        if (*first) return first->release();
        return device ? gst_device_create_element(device.get(), nullptr) : nullptr;
    });
    WriteLog("The connection of " + name + " has succeeded");
    if (!graph_.VideoSource.Place(graph_.Graph()))
        return failed("The source " + name + " could not be put in the graph");

    facts_.Description = description;
    if (!facts_.Description.isEmpty()) WriteLog("description = " + facts_.Description);
    if (!DetectTransport()) return failed("The source " + name + " has no element");
    FindCaptureInterfaces();
    return classify();
}

// ---- Connecting without waiting for the device ------------------------------

namespace {

// Closes a device off the GUI thread: a device that took seconds to open
// may take as long to close.
void closeOffThread(ElementRef element)
{
    if (!element) return;
    gst_element_call_async(
        element.get(), [](GstElement* e, gpointer) { gst_element_set_state(e, GST_STATE_NULL); },
        nullptr, nullptr);
}

// An opened element on its way back to the GUI thread. Should the way be
// cut (the connection object gone before the call is delivered), the device
// is closed when the call is dropped, so no element is disposed open.
struct TopenedElement {
    ElementRef element;
    TopenedElement(ElementRef e) : element(std::move(e)) {}
    TopenedElement(const TopenedElement&) = delete;
    TopenedElement& operator=(const TopenedElement&) = delete;
    ~TopenedElement()
    {
        if (element) gst_element_set_state(element.get(), GST_STATE_NULL);
    }
};

} // namespace

TsourceConnection::~TsourceConnection()
{
    // A pool thread still opening a device finds this object gone and closes
    // the device itself.
    std::lock_guard lock(guard_->lock);
    guard_->alive = false;
}

void TsourceConnection::CancelConnect()
{
    {
        std::lock_guard lock(guard_->lock);
        guard_->generation = ++generation_;
    }
    connecting_ = false;
}

void TsourceConnection::ConnectSourceAsync(const TvideoSource& source)
{
    CancelConnect();
    const int generation = generation_;
    connecting_ = true;
    const QString name = source.Name;
    const QString description = source.Description;
    TboundSource bound = BindVideoSource(source, nullptr);
    device_ = source.Device;
    if (!bound) {
        WriteLog("Try to connect " + name);
        const QString text = "The connection of " + name + " has failed";
        logError(text);
        // Told later like every other outcome, so the caller's way is one.
        QMetaObject::invokeMethod(
            this,
            [this, generation, text] {
                if (generation != generation_) return;
                connecting_ = false;
                emit SourceConnected(failed(text));
            },
            Qt::QueuedConnection);
        return;
    }
    beginConnect(name);
    // Nothing may place or preview the source being left while the next
    // one opens.
    graph_.VideoSource.Unbind();
    ForgetSource();

    struct Job {
        std::shared_ptr<Tguard> guard;
        int generation;
        TsourceConnection* owner;
        QString name;
        QString description;
    };
    Job* job = std::make_unique<Job>(Job{guard_, generation, this, name, description}).release();
    gst_element_call_async(
        bound.Element.get(),
        [](GstElement* element, gpointer data) {
            const Job& j = *static_cast<Job*>(data);
            const bool ok =
                gst_element_set_state(element, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
            {
                std::lock_guard lock(j.guard->lock);
                if (j.guard->alive && j.guard->generation == j.generation) {
                    auto opened = std::make_shared<TopenedElement>(ElementRef::ref(element));
                    TsourceConnection* owner = j.owner;
                    QMetaObject::invokeMethod(
                        owner,
                        [owner, opened, ok, generation = j.generation, name = j.name,
                         description = j.description] {
                            owner->opened(generation, std::move(opened->element), ok, name,
                                          description);
                        },
                        Qt::QueuedConnection);
                    return;
                }
            }
            // A newer connection is wanted, or there is none to tell.
            gst_element_set_state(element, GST_STATE_NULL);
        },
        job, [](gpointer data) { std::unique_ptr<Job> owned(static_cast<Job*>(data)); });
}

void TsourceConnection::opened(int generation, ElementRef element, bool ok, const QString& name,
                               const QString& description)
{
    if (generation != generation_) {
        closeOffThread(std::move(element));
        return;
    }
    connecting_ = false;
    if (!ok) {
        const QString text = "The connection of " + name + " has failed";
        logError(text);
        closeOffThread(std::move(element));
        emit SourceConnected(failed(text));
        return;
    }
    // The graph may have been started without a source in the meantime.
    if (preview_.PreviewBuilt() || graph_.IsRunning()) {
        graph_.StopGraph();
        graph_.clearGraph();
    }
    emit SourceConnected(finishConnect(name, std::move(element), description));
}

bool TsourceConnection::DetectTransport()
{
    GstElement* source = graph_.VideoSource.Element();
    if (!source) return false;
    transport_ = MakeCamTransport(source);
    facts_.HasExtDevice = transport_ != nullptr;
    facts_.HasExtTransport = transport_ && transport_->HasExtTransport();
    facts_.HasTimecodeReader = transport_ && transport_->HasTimecodeReader();
    const int type = transport_ ? transport_->DeviceType() : KAD_DEVICE_TYPE_NONE;
    facts_.IsCamera = type == KAD_DEVICE_TYPE_CAMERA;
    facts_.IsVCR = type == KAD_DEVICE_TYPE_VCR;
    if (transport_) {
        connect(transport_.get(), &TcamTransport::deviceTypeChanged, this, [this](int late) {
            facts_.IsCamera = late == KAD_DEVICE_TYPE_CAMERA;
            facts_.IsVCR = late == KAD_DEVICE_TYPE_VCR;
            emit TransportFactsChanged();
        });
    }
    return true;
}

bool TsourceConnection::FindCaptureInterfaces()
{
    // Stream configuration, compression and driver dialogs are read from the
    // source's caps and V4L2 controls where they are used (settings pages);
    // only the crossbar is kept.
    crossbar_.reset();
    facts_.VideoInputCount = 0;
    const CrossbarUpstream upstream = CaptureUpstreamOf(graph_.VideoSource.Element());
    if (upstream.kind == CrossbarUpstream::Kind::CrossbarOutput && upstream.Crossbar) {
        int outputs = 0;
        upstream.Crossbar->PinCounts(outputs, facts_.VideoInputCount);
        crossbar_ = std::make_unique<TCrossbar>(upstream);
    }
    return true;
}

TconnectResult TsourceConnection::classify()
{
    GstElement* source = graph_.VideoSource.Element();
    if ((pin_ = findPin(source, kStreamCaps))) {
        facts_.Kind = kad::SourceKind::skMpeg2;
        WriteLog("The source is MPGE2");
        const QString clsid = classIdOf(source, device_.get());
        WriteLog("sourceGUID = " + clsid);
        bool found = false;
        QString missing;
        if (clsid.compare(QLatin1String(kClsidMovieBoxB), Qt::CaseInsensitive) == 0) {
            facts_.Kind = kad::SourceKind::skMovieBoxB;
            WriteLog("The source is MovieBox_B");
            if (preview_.Options().UtiliserCirrus) {
                found = graph_.BindFilterByClsid(FilterCategory::DirectShowFilters,
                                                 kClsidCirrusSplitter, graph_.demux);
                if (!found) missing = Text(TextId::CirrusSplitterMissing);
            } else {
                found = graph_.BindFilterByClsid(FilterCategory::DirectShowFilters,
                                                 kClsidPinnacleDemux, graph_.demux);
                if (!found) missing = Text(TextId::PinnacleDemuxMissing);
            }
        } else {
            found = graph_.BindFilterByClsid(FilterCategory::DirectShowFilters,
                                             kClsidMpeg2Demultiplexer, graph_.demux);
            if (!found) missing = Text(TextId::Mpeg2DemuxMissing);
        }
        if (!found) {
            dialogs().error(missing);
            return failed(missing);
        }
        if (!graph_.Presence().DumpPresent) dialogs().warning(Text(TextId::DumpFilterMissing));
        return TconnectResult::Connected(facts_);
    }
    if ((pin_ = findPin(source, kInterleavedCaps))) {
        facts_.Kind = kad::SourceKind::skDV;
        WriteLog("The source is DV");
        ScreenDvFrames(pin_.get());
        return TconnectResult::Connected(facts_);
    }
    pin_ = findPin(source, kCaptureCaps);
    facts_.Kind = kad::SourceKind::skAnalog;
    WriteLog("The source is analogic");
    if (!pin_) return failed("The source sends no picture");
    return TconnectResult::Connected(facts_);
}

} // namespace kad
