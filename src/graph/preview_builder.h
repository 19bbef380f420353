#pragma once

// TpreviewBuilder: the previews. Each builder empties the graph
// (FreeAllFilters), links the connected source to the video window and
// leaves the taps Infinite2, infinite3 and infinite4 for the capture
// builders; the audio branches are added to and taken from a built preview.
// After every build the source's format is read, and refined when the first
// frame tells more.
//
// A part of TdmCam, on the GUI thread like the rest of it.

#include "graph/render_stream.h"
#include "platform/media/gst_ptr.h"
#include "system/kinds.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace kad {

class TdmCam;
class TfilterGraph;
class TsourceConnection;
class TcaptureRun;
class TframeCounter;
class TfilterSlot;

// What the graph builders read from the preferences and the sources panel.
// The window sets it before each build, so the graph itself depends on no
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

// Frame duration before any format is known: 25 frames per second.
inline constexpr gint64 kDefaultFrameDuration = 400000;

// The picture the source sends.
struct TvideoFormat {
    gint64 FrameDuration = kDefaultFrameDuration; // in 100 ns units
    int VideoWidth = 0;
    int VideoHeight = 0;

    bool operator==(const TvideoFormat&) const = default;
};

class TpreviewBuilder : public QObject {
    Q_OBJECT
public:
    TpreviewBuilder(TfilterGraph& graph, TsourceConnection& source, TcaptureRun& capture,
                    QObject* parent = nullptr);
    ~TpreviewBuilder() override;
    TpreviewBuilder(const TpreviewBuilder&) = delete;
    TpreviewBuilder& operator=(const TpreviewBuilder&) = delete;

    const TgraphOptions& Options() const { return options_; }
    void SetOptions(const TgraphOptions& options) { options_ = options; }
    // A preview is in the graph (a capture added to it clears this).
    bool PreviewBuilt() const { return previewBuilt_; }
    // The preview is taken as gone (a new video window): the next start
    // builds it anew.
    void ForgetPreview() { previewBuilt_ = false; }

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
    // The companion filters' set-up after a build: the InlaySetup (the
    // overlay's flip and the inlay started again), then the timestamp
    // filters.
    void ConfigureCompanionFilters();
    void SetInlaySetup(std::function<void()> setup) { inlaySetup_ = std::move(setup); }

    // Read after every build, refined when the first frame tells more.
    const TvideoFormat& Format() const { return format_; }
    void ReadFormat();

    // Frames that left the source.
    TframeCounter& SourceFrames() { return *sourceFrames_; }

    // The MPEG-2 demultiplexer's video and audio outputs ("MpegVideo",
    // "MpegAudio"): parsed elementary streams.
    GstElement* MpegVideoPin() const;
    GstElement* MpegAudioPin() const;

signals:
    // The format changed.
    void FormatChanged();

private:
    friend class TdmCam;
    friend class TfilterGraph;
    friend class TsourceConnection;
    friend class TcaptureRun;

    // The parts of the data module the previews build on.
    TfilterGraph& graph() const { return graph_; }
    TsourceConnection& Source() const { return source_; }

    bool UpdateIncludedAudioMpeg2();
    GstElement* MpegAudioDecoded();
    TfilterSlot* deint();
    void watchSourceFormat();
    void unwatchSourceFormat();
    void applyFormat(gint64 duration, int width, int height);
    void applySyncOffset();

    TfilterGraph& graph_;
    TsourceConnection& source_;
    TcaptureRun& capture_;
    TgraphOptions options_;
    bool previewBuilt_ = false;
    std::function<void()> inlaySetup_;
    TvideoFormat format_;
    PadRef formatPad_;
    gulong formatProbe_ = 0;
    // The probe's watch, owned by the probe; set while formatProbe_ is.
    struct FormatWatch* formatWatch_ = nullptr;
    std::unique_ptr<TframeCounter> sourceFrames_;
    ElementRef mpegVideo_;
    ElementRef mpegAudio_;
};

} // namespace kad
