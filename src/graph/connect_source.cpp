// Connecting the chosen device: ConnectSource and what it asks of the source.

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

bool TdmCam::ConnectSource(const TvideoSource& source)
{
    // The device is looked up again when the slot is placed once more after
    // a rebuild; the first placing uses the element bound here.
    TboundSource bound = BindVideoSource(source, nullptr);
    device_ = source.Device;
    if (!bound) {
        WriteLog("Try to connect " + source.Name);
        logError("The connection of " + source.Name + " has failed");
        return false;
    }
    return ConnectSourceElement(source.Name, bound.Element.release(), source.Description);
}

bool TdmCam::ConnectSourceElement(const QString& name, GstElement* floatingElement,
                                  const QString& description)
{
    ElementRef element;
    if (floatingElement)
        element = g_object_is_floating(floatingElement) ? ElementRef::sink(floatingElement)
                                                        : ElementRef(floatingElement);
    WriteLog("Try to connect " + name);
    unwatchSourceFormat();
    SourcePin.reset();
    // A source placed into a running graph would start streaming into
    // nothing (a capture's graph has PreviewBuilt false but still runs).
    if (PreviewBuilt || IsRunning()) {
        StopGraph();
        clearGraph();
    }
    if (!element) {
        logError("The connection of " + name + " has failed");
        return false;
    }
    GRef<GstDevice> device = device_;
    auto first = std::make_shared<ElementRef>(std::move(element));
    VideoSource.Bind(name.toStdString(), [first, device]() -> GstElement* {
        if (*first) return first->release();
        return device ? gst_device_create_element(device.get(), nullptr) : nullptr;
    });
    WriteLog("The connection of " + name + " has succeeded");
    if (!VideoSource.Place(Graph())) return false;

    SourceDescription = description;
    if (!SourceDescription.isEmpty()) WriteLog("description = " + SourceDescription);
    if (!DetectTransport()) return false;
    FindCaptureInterfaces();
    return classify();
}

bool TdmCam::DetectTransport()
{
    GstElement* source = VideoSource.Element();
    if (!source) return false;
    Transport = MakeCamTransport(source);
    HasExtDevice = Transport != nullptr;
    HasExtTransport = Transport && Transport->HasExtTransport();
    HasTimecodeReader = Transport && Transport->HasTimecodeReader();
    const int type = Transport ? Transport->DeviceType() : KAD_DEVICE_TYPE_NONE;
    IsCamera = type == KAD_DEVICE_TYPE_CAMERA;
    IsVCR = type == KAD_DEVICE_TYPE_VCR;
    if (Transport) {
        connect(Transport.get(), &TcamTransport::deviceTypeChanged, this, [this](int late) {
            IsCamera = late == KAD_DEVICE_TYPE_CAMERA;
            IsVCR = late == KAD_DEVICE_TYPE_VCR;
            emit TransportFactsChanged();
        });
    }
    return true;
}

bool TdmCam::FindCaptureInterfaces()
{
    // Stream configuration, compression and driver dialogs are read from the
    // source's caps and V4L2 controls where they are used (settings pages);
    // only the crossbar is kept.
    VideoCrossbar.reset();
    VideoInputCount = 0;
    const CrossbarUpstream upstream = CaptureUpstreamOf(VideoSource.Element());
    if (upstream.kind == CrossbarUpstream::Kind::CrossbarOutput && upstream.Crossbar) {
        int outputs = 0;
        upstream.Crossbar->PinCounts(outputs, VideoInputCount);
        VideoCrossbar = std::make_unique<TCrossbar>(upstream);
    }
    return true;
}

bool TdmCam::classify()
{
    GstElement* source = VideoSource.Element();
    if ((SourcePin = findPin(source, kStreamCaps))) {
        SourceKind = kad::SourceKind::skMpeg2;
        WriteLog("The source is MPGE2");
        const QString clsid = classIdOf(source, device_.get());
        WriteLog("sourceGUID = " + clsid);
        bool found = false;
        if (clsid.compare(QLatin1String(kClsidMovieBoxB), Qt::CaseInsensitive) == 0) {
            SourceKind = kad::SourceKind::skMovieBoxB;
            WriteLog("The source is MovieBox_B");
            if (Options.UtiliserCirrus) {
                found = BindFilterByClsid(FilterCategory::DirectShowFilters, kClsidCirrusSplitter,
                                          demux);
                if (!found) dialogs().error(Text(TextId::CirrusSplitterMissing));
            } else {
                found = BindFilterByClsid(FilterCategory::DirectShowFilters, kClsidPinnacleDemux,
                                          demux);
                if (!found) dialogs().error(Text(TextId::PinnacleDemuxMissing));
            }
        } else {
            found = BindFilterByClsid(FilterCategory::DirectShowFilters, kClsidMpeg2Demultiplexer,
                                      demux);
            if (!found) dialogs().error(Text(TextId::Mpeg2DemuxMissing));
        }
        if (!found) return false;
        if (!DumpPresent) dialogs().warning(Text(TextId::DumpFilterMissing));
        return true;
    }
    if ((SourcePin = findPin(source, kInterleavedCaps))) {
        SourceKind = kad::SourceKind::skDV;
        WriteLog("The source is DV");
        ScreenDvFrames(SourcePin.get());
        return true;
    }
    SourcePin = findPin(source, kCaptureCaps);
    SourceKind = kad::SourceKind::skAnalog;
    WriteLog("The source is analogic");
    return static_cast<bool>(SourcePin);
}

} // namespace kad
