#pragma once

// TfilterGraph: the pipeline `fg` and one TfilterSlot per element any graph
// of Kadrillo may contain (the sample grabber `sg` among them); the builders
// only place, link and remove those slots. It looks the optional filters up
// (the catalogue), runs and stops the graph, holds the video window and the
// volume, and turns the bus messages into the signals below: a bus watch on
// the default GLib main context, which the Qt event loop runs.
//
// A part of TdmCam, on the GUI thread like the rest of it.

#include "graph/filter_slot.h"
#include "graph/render_stream.h"
#include "platform/media/gst_ptr.h"

#include <QObject>
#include <QString>

#include <functional>

namespace kad {

class TsourceConnection;
class TpreviewBuilder;
class TcaptureRun;

// The categories a filter is looked up in: any element, or a video or
// audio capture device.
enum class FilterCategory { DirectShowFilters, VideoInputDevices, AudioInputDevices };

// Which optional filters CheckOptionalFilters found.
struct TfilterPresence {
    bool DeinterlacerPresent = false;
    bool LumatexPresent = false;
    bool ChronixPresent = false;
    bool HorodexPresent = false;
    bool InlayFiltersAvailable = false;
    bool DumpPresent = false;
    bool CirrusSplitterPresent = false;
    bool PinnacleDecoderPresent = false;
    bool MovieBoxDevicePresent = false;
    bool PinnacleDemuxPresent = false;
    bool WmvAvailable = false;
};

class TfilterGraph : public QObject {
    Q_OBJECT
public:
    TfilterGraph(TsourceConnection& source, TpreviewBuilder& preview, TcaptureRun& capture,
                 QObject* parent = nullptr);
    ~TfilterGraph() override;
    TfilterGraph(const TfilterGraph&) = delete;
    TfilterGraph& operator=(const TfilterGraph&) = delete;

    // ---- The graph and its slots -------------------------------------
    GstPipeline* fg() const { return GST_PIPELINE(fg_.get()); }
    GstBin* Graph() const { return GST_BIN(fg_.get()); }

    TfilterSlot DVencoder{"DVencoder"};
    TfilterSlot color{"color"};
    TfilterSlot Smarttee{"Smarttee"};
    TfilterSlot Infinite{"Infinite"};
    TfilterSlot Infinite2{"Infinite2"};
    TfilterSlot infinite3{"infinite3"};
    TfilterSlot infinite4{"infinite4"};
    TfilterSlot NullRenderer{"NullRenderer"};
    TfilterSlot DVsplitter{"DVsplitter"};
    TfilterSlot DVsplitter2{"DVsplitter2"};
    TfilterSlot AudioRender{"AudioRender"};
    TfilterSlot DVDEcoder{"DVDEcoder"};
    TfilterSlot MpegAudioDec{"MpegAudioDec"};
    TfilterSlot DVmuxer{"DVmuxer"};
    TfilterSlot acm{"acm"};
    TfilterSlot asf{"asf"};
    TfilterSlot VideoSource{"VideoSource"};
    TfilterSlot AudioSource{"AudioSource"};
    TfilterSlot demux{"demux"};
    TfilterSlot Dump{"Dump"};
    TfilterSlot Deinterlacer{"Deinterlacer"};
    TfilterSlot Mpeg2VideoDec{"Mpeg2VideoDec"};
    TfilterSlot Lumatex{"Lumatex"};
    TfilterSlot Chronix{"Chronix"};
    TfilterSlot hdVideo{"hdVideo"};
    TfilterSlot hdAudio{"hdAudio"};
    TfilterSlot hdAuto{"hdAuto"};
    // The sample grabber: kadsamplegrabber, the latest frame as 24-bit RGB.
    TfilterSlot sg{"sg"};

    // ---- Catalogue (filter look-ups, presence) -------------------------
    // Binds slot to the entry of category called name (ignoring case; of
    // equal names the last enumerated wins). False leaves the slot unbound.
    bool BindFilterByName(FilterCategory category, const QString& name, TfilterSlot& slot);
    // Binds slot to the first entry of category with this class identifier.
    bool BindFilterByClsid(FilterCategory category, const QString& clsid, TfilterSlot& slot);
    // The start-up presence checks, in their order; sets Presence().
    void CheckOptionalFilters();

    const TfilterPresence& Presence() const { return presence_; }

    // Empties the graph of everything the last build placed, except
    // VideoSource and the video window.
    void FreeAllFilters();

    // ---- Running ---------------------------------------------------------
    bool RunGraph();
    // Stops a running graph (READY). For the MovieBox the graph is rebuilt
    // from scratch instead, then the window's rebuild (TdmCam::SetMovieBoxRebuild)
    // is called.
    void StopGraph();
    bool IsRunning() const;
    GstState GraphState() const;

    // Linear volume 0..10000 of the played audio.
    void SetVolume(int volume);
    int Volume() const { return volume_; }

    // The window's video display (kaddisplaysink); it stays in fg across
    // builds. VideoWindowFilter is what the builders link to.
    void SetVideoWindow(GstElement* display);
    GstElement* VideoWindowFilter() const { return videoWindow_.get(); }

    // ---- For the builders ---------------------------------------------------
    bool place(TfilterSlot& slot);
    // A slot given to a link must be in the graph; a missing one is reported
    // as MissingElement.
    LinkResult rs(TfilterSlot& a, TfilterSlot* b, TfilterSlot& c, MediaHint hint = MediaHint::Any);
    LinkResult rs(GstPad* a, TfilterSlot* b, TfilterSlot& c);
    LinkResult rsToWindow(TfilterSlot& a, TfilterSlot* b);
    // Takes out the link helper's elements left without a branch to serve.
    void pruneHelpers();

signals:
    // The connected device went away or failed with a device error.
    void DeviceLost();
    // Any other error of the graph, as MediaErrorText words it.
    void GraphError(const QString& text);
    void EndOfStream();

private:
    friend class TdmCam;
    friend class TsourceConnection;
    void createGraph();
    void destroyGraph();
    void bindFixedSlots();
    void clearGraph();
    // Every slot, for the end of the graph.
    void removeAllSlots();
    static gboolean onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void handleBusMessage(GstMessage* message);

    TsourceConnection& source_;
    TpreviewBuilder& preview_;
    TcaptureRun& capture_;
    ElementRef fg_;
    guint busWatch_ = 0;
    ElementRef videoWindow_;
    int volume_ = 10000;
    TfilterPresence presence_;
    // The window's part of the MovieBox rebuild (TdmCam's MovieBoxRebuild).
    std::function<void()> movieBoxRebuild_;
};

} // namespace kad
