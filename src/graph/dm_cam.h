#pragma once

// TdmCam: the data module that owns the media graph for the life of the
// process. It holds the pipeline `fg`, the sample grabber `sg` and one
// TfilterSlot per element any graph of Kadrillo may contain. Graph builds
// only place, link and remove those slots:
//
//   ConnectSource    (Source()) puts the chosen device in the graph as
//                    VideoSource and classifies it (its kind and pad);
//   BuildPreview...  build a preview from an emptied graph (FreeAllFilters)
//                    and leave the taps Infinite2, infinite3 and infinite4
//                    for the capture builders;
//   RunGraph/StopGraph run and stop it.
//
// Everything here runs on the GUI thread. Bus messages arrive through a bus
// watch on the default GLib main context (which the Qt event loop runs) and
// come out as the signals below.

#include "graph/capture_report.h"
#include "graph/filter_slot.h"
#include "graph/render_stream.h"
#include "graph/source_connection.h"
#include "platform/media/gst_ptr.h"
#include "system/kinds.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace kad {

class TframeCounter;

// What the graph builders read from the preferences and the sources panel.
// The window fills it before each build, so the graph itself depends on no
// settings table.
struct TgraphOptions {
    bool DeinterlacerOn = false;         // "Deinterlacer On"
    bool PermettreIncruster = false;     // "Permettre Incruster"
    bool EcouterAudioInclus = false;     // "Ecouter Audio inclus"
    bool EnregistrerSourceAudio = false; // "Enregistrer Source Audio"
    int CorrectionSync = 0;              // "Correction Sync", in frames
    bool UtiliserCirrus = false;         // "Utiliser Cirrus"
    // The "Listen audio DV" choice is its second item ("force 44100 Hz").
    bool ForceDVAudio44100 = false;
    AudioKind Audio = AudioKind::akNone;
    // "Capture report": a text report beside each file a capture ends. The
    // program sets it from the preference; graphs built elsewhere write none.
    bool CaptureReport = false;

    bool operator==(const TgraphOptions&) const = default;
};

// The categories a filter is looked up in: any element, or a video or
// audio capture device.
enum class FilterCategory { DirectShowFilters, VideoInputDevices, AudioInputDevices };

// Frame duration before any format is known: 25 frames per second.
inline constexpr gint64 kDefaultFrameDuration = 400000;

class TdmCam : public QObject {
    Q_OBJECT
public:
    explicit TdmCam(QObject* parent = nullptr);
    ~TdmCam() override;
    TdmCam(const TdmCam&) = delete;
    TdmCam& operator=(const TdmCam&) = delete;

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
    // The start-up presence checks, in their order; sets the flags below.
    void CheckOptionalFilters();

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

    // Empties the graph of everything the last build placed, except
    // VideoSource and the video window.
    void FreeAllFilters();
    // The module's end: full volume, source out, graph stopped (not for the
    // MovieBox) and cleared. The destructor calls it.
    void DataModuleDestroy();

    // ---- Running ---------------------------------------------------------
    bool RunGraph();
    // Stops a running graph (READY). For the MovieBox the graph is rebuilt
    // from scratch instead and MovieBoxRebuild is called.
    void StopGraph();
    bool IsRunning() const;
    GstState GraphState() const;

    // The window's part of the MovieBox rebuild in StopGraph: connect the
    // source again, build the preview and, while capturing, the capture.
    // Without one the rebuilt graph is left empty and stopped.
    std::function<void()> MovieBoxRebuild;

    // Linear volume 0..10000 of the played audio.
    void SetVolume(int volume);
    int Volume() const { return volume_; }

    // The window's video display (kaddisplaysink); it stays in fg across
    // builds. VideoWindowFilter is what the builders link to.
    void SetVideoWindow(GstElement* display);
    GstElement* VideoWindowFilter() const { return videoWindow_.get(); }

    // ---- Source connection -----------------------------------------------
    TsourceConnection& Source() { return source_; }
    const TsourceConnection& Source() const { return source_; }

    // ---- Preview ---------------------------------------------------------
    TgraphOptions Options;
    bool PreviewBuilt = false;

    bool BuildPreviewGraph();
    bool BuildPreviewDV();
    bool BuildPreviewAnalog();
    // The MPEG-2 previews are in preview_mpeg2.cpp.
    bool BuildPreviewMovieBoxB();
    bool BuildPreviewMpeg2();

    bool UpdateIncludedAudio();
    bool AddAudioSourceBranch();
    bool UpdateAudioSourceBranch();
    bool SelectAudioSource(const QString& name);
    // rate <= 0: the DV audio's own rate (returned in rate); > 0: forced.
    bool SetDVAudioRate(int& rate);
    // The companion filters' set-up after a build: InlaySetup (the overlay's
    // flip and the inlay started again), then the timestamp filters.
    void ConfigureCompanionFilters();
    std::function<void()> InlaySetup;

    // Read after every build, refined when the first frame tells more.
    gint64 FrameDuration = kDefaultFrameDuration;
    int VideoWidth = 0;
    int VideoHeight = 0;
    void ReadFormat();

    // Frames that left the source and frames that reached the capture
    // writer; the capture builders attach the second to the writer's pad.
    TframeCounter& SourceFrames() { return *sourceFrames_; }
    TframeCounter& WrittenFrames() { return *writtenFrames_; }

    // ==== Capture graphs and the MPEG-2 path (capture_graph.cpp, ========
    // ==== preview_mpeg2.cpp) ==============================================
    // The choices of the Sources and Options panels a capture reads; the
    // window fills them before BuildCaptureGraph.
    struct TcaptureOptions {
        int FormatIndex = 0;    // rgFormat
        int Standard = 0;       // "Pal"/"NTSC": 0 PAL, 1 NTSC
        int FrequencyIndex = 0; // "Frequency": 0 native, 1 32000 Hz, 2 48000 Hz
        int ProfileLevel = 0;   // rgProfiles: 0 High .. 3 Internet
        int MediaEntry = 0;     // cboxMedia entry (0 or less: the level)
        int VersionIndex = 2;   // rgversion: 0 "4", 1 "7", 2 "8"
        // The AVI writers' largest RIFF chunk and longest time between two
        // syncs of the file, in bytes and nanoseconds; 0 keeps the writers'
        // own (1 GiB, 5 s). Tests lower them to reach many chunks and syncs
        // in a short capture.
        guint64 AviRiffLimit = 0;
        guint64 AviSyncInterval = 0;
        QString FormatName; // the format as the Sources panel names it
        // DV captures (type 1 and 2): a new file at each new recording on
        // the tape, the first into SplitFileName (then SetRecordingSplitName
        // names the next); files renamed DateNameRoot_YYYY.MM.DD_HH-MM-SS
        // after their first recording date (empty: numbered names stay).
        bool SplitAtRecording = false;
        QString SplitFileName;
        QString DateNameRoot;
    };
    TcaptureOptions Capture;
    QString CurrentVideoFileName; // set by the window before a capture start
    QString CaptureFileName;
    // Bytes kept free on the capture's disk: below them the capture is
    // stopped and its file finalised.
    qint64 DiskReserveBytes = 32 * 1024 * 1024;

    bool BuildCaptureGraph();
    bool BuildCaptureDVType1();
    bool BuildCaptureDVType2();
    bool BuildCaptureDVRecompressed(int standard);
    bool BuildCaptureDVWmv();
    bool BuildCaptureAnalogNative();
    bool BuildCaptureAnalogRecompressed(int standard);
    bool BuildCaptureAnalogWmv();
    bool BuildCaptureMovieBoxBNative();
    bool BuildCaptureMovieBoxBRecompressed(int standard);
    bool BuildCaptureMovieBoxBWmv();
    bool BuildCaptureMpeg2Native();
    bool BuildCaptureMpeg2Recompressed(int standard);
    bool BuildCaptureMpeg2Wmv();
    // False when no capture file writer is in the graph. While the graph
    // runs this is the cut (SwitchCaptureFile); otherwise the next run
    // writes to name.
    bool SetCaptureFileName(const QString& name);
    // The cut: every writer moves to name while the graph keeps running; the
    // old file is finalised, the new one starts with the next frame.
    // CaptureFileSwitched follows. False when there is no file writer or a
    // cut is still under way.
    bool SwitchCaptureFile(const QString& name);
    bool CaptureSwitchBusy() const;
    // Gives up a cut still waiting for its first frame (a source that sends
    // nothing, a stopped tape): the capture goes on in the file it was
    // writing and no file is made under the cut's name. True when the cut
    // will certainly not be made; false when no cut waits, when it is made
    // already (CaptureFileSwitched is on its way) or when a muxer writer has
    // begun finishing its file (the cut then completes by itself, or fails
    // with CaptureSwitchFailed). `stopping`: the capture ends next, which
    // gives up a muxer writer's cut in any case.
    bool GiveUpCaptureSwitch(bool stopping = false);
    // The file the next new recording of a DV capture goes into.
    void SetRecordingSplitName(const QString& name);
    // Why the file being written will end, for its capture report: the
    // schedule's end, for one. The first reason given holds until that file
    // has ended; without one a stop is the user's and a cut is a cut.
    void SetCaptureEndReason(CaptureEnd why, const QString& detail = {});
    // Ends every writer's stream so its file is complete and readable, and
    // waits for them (at most timeoutMs) on this thread. Only for what
    // cannot wait for CaptureFinished: stopping or clearing the graph does it
    // first, and it overtakes an end BeginFinishCapture started (within that
    // end's time). True when there was nothing to finish or all finished.
    bool FinishCapture(int timeoutMs = 5000);
    // Starts ending every writer's stream and returns at once; the graph
    // keeps running while the files are finished. Then the graph is stopped
    // (READY) away from this thread, so the next build starts at once, and
    // CaptureFinished follows on this thread: every file complete, or not
    // within timeoutMs. With no capture to finish it follows too, at the
    // next turn of the event loop.
    void BeginFinishCapture(int timeoutMs = 5000);
    // Between BeginFinishCapture and CaptureFinished.
    bool CaptureFinishing() const { return finishing_; }
    bool Capturing() const;
    // The status bar's counters: frames that reached the file writer, and
    // frames the source produced that never did.
    guint64 CapturedFrames() const;
    guint64 LostFrames() const;
    GstElement* CaptureMux() const;
    GstElement* CaptureFileSink() const;
    // The MPEG-2 demultiplexer's video and audio outputs ("MpegVideo",
    // "MpegAudio"): parsed elementary streams.
    GstElement* MpegVideoPin() const;
    GstElement* MpegAudioPin() const;
    struct TcaptureState;
    struct TcaptureStateDeleter {
        void operator()(TcaptureState* s) const;
    };

signals:
    // A capture ended by itself (disk full, write error, lost source); the
    // text says why and was shown. The files written are complete.
    void CaptureStopped(const QString& reason);
    void CaptureFileSwitched(const QString& oldName, const QString& newName);
    // A muxer writer's cut into name could not be made; the capture goes on
    // in the file it was writing, or has stopped.
    void CaptureSwitchFailed(const QString& name, const QString& error);
    // A DV capture file was named after its recording date while written.
    void CaptureFileRenamed(const QString& oldName, const QString& newName);
    // The sound card failed during a capture that goes on without sound; the
    // text says from when and was logged.
    void CaptureSoundLost(const QString& text);
    // The capture's files are finished: lastFile is the one written last,
    // complete is false when it could not be finished in time.
    void CaptureFinished(const QString& lastFile, bool complete);

private:
    bool UpdateIncludedAudioMpeg2();
    GstElement* MpegAudioDecoded();
    TcaptureState& cap();
    bool placeAsfWriter();
    bool buildDump();
    bool linkDvMuxer(int standard, GstElement* streamAudio, TfilterSlot* streamAudioThrough);
    void linkStreamAudioToWriter();
    ElementRef previewDownstream();
    void onCaptureMessage(GstMessage* message);
    void soundCardLost(const GError* error);
    void stopCaptureWith(const QString& reason);
    // The end of a capture's files (capture_graph.cpp).
    std::optional<bool> arrangeFinish(int timeoutMs);
    void forceEnds();
    bool waitForSinks();
    void settleFinish(bool complete);
    void finishSettled();
    void announceFinished(const QString& lastFile, bool complete);
    bool onFinishMessage(GstMessage* message);
    // The preview the last capture was added to, had back once that capture
    // has ended (BuildPreviewGraph); false when a new build is needed.
    bool reusePreview();
    void forgetPreviewBefore();
    std::unique_ptr<TcaptureState, TcaptureStateDeleter> capture_;
    bool finishing_ = false;

public:
    // ==== end of capture graphs ============================================

signals:
    // The connected device went away or failed with a device error.
    void DeviceLost();
    // Any other error of the graph, as MediaErrorText words it.
    void GraphError(const QString& text);
    void EndOfStream();
    // FrameDuration, VideoWidth and VideoHeight changed.
    void FormatChanged();

private:
    friend class TsourceConnection;
    void createGraph();
    void destroyGraph();
    void bindFixedSlots();
    void clearGraph();
    // Takes out the link helper's elements left without a branch to serve.
    void pruneHelpers();
    bool place(TfilterSlot& slot);
    LinkResult rs(TfilterSlot& a, TfilterSlot* b, TfilterSlot& c, MediaHint hint = MediaHint::Any);
    LinkResult rs(GstPad* a, TfilterSlot* b, TfilterSlot& c);
    LinkResult rsToWindow(TfilterSlot& a, TfilterSlot* b);
    TfilterSlot* deint();
    void watchSourceFormat();
    void unwatchSourceFormat();
    void applyFormat(gint64 duration, int width, int height);
    void applySyncOffset();
    static gboolean onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void handleBusMessage(GstMessage* message);

    ElementRef fg_;
    guint busWatch_ = 0;
    ElementRef videoWindow_;
    int volume_ = 10000;
    PadRef formatPad_;
    gulong formatProbe_ = 0;
    std::unique_ptr<TframeCounter> sourceFrames_;
    std::unique_ptr<TframeCounter> writtenFrames_;
    TsourceConnection source_{*this};
};

} // namespace kad
