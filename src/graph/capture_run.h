#pragma once

// TcaptureRun: the capture. Its builders add a file writer to the running
// preview (BuildCaptureGraph), then it follows the files: the cut into a new
// file while the graph runs, the counters, the end of the files when the
// capture stops and what happens when a file cannot be written or the source
// goes away.
//
// A part of TdmCam, on the GUI thread like the rest of it.

#include "graph/capture_report.h"
#include "platform/media/gst_ptr.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace kad {

class TdmCam;
class TfilterGraph;
class TsourceConnection;
class TpreviewBuilder;
class TframeCounter;
class TfilterSlot;

// The choices of the Sources and Options panels a capture reads; the
// window sets them before BuildCaptureGraph.
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

class TcaptureRun : public QObject {
    Q_OBJECT
public:
    TcaptureRun(TfilterGraph& graph, TsourceConnection& source, TpreviewBuilder& preview,
                QObject* parent = nullptr);
    ~TcaptureRun() override;
    TcaptureRun(const TcaptureRun&) = delete;
    TcaptureRun& operator=(const TcaptureRun&) = delete;

    const TcaptureOptions& Options() const { return options_; }
    void SetOptions(const TcaptureOptions& options) { options_ = options; }
    // The file the next capture starts into; the window sets it before a
    // capture start.
    const QString& CurrentVideoFileName() const { return currentVideoFileName_; }
    void SetCurrentVideoFileName(const QString& name) { currentVideoFileName_ = name; }
    // The file being written (after the cuts and renames so far).
    const QString& CaptureFileName() const { return captureFileName_; }
    // Bytes kept free on the capture's disk: below them the capture is
    // stopped and its file finalised.
    qint64 DiskReserveBytes() const { return diskReserveBytes_; }
    void SetDiskReserveBytes(qint64 bytes) { diskReserveBytes_ = bytes; }

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
    // Frames that reached the capture writer; the capture builders attach it
    // to the writer's pad.
    TframeCounter& WrittenFrames() { return *writtenFrames_; }
    GstElement* CaptureMux() const;
    GstElement* CaptureFileSink() const;

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
    friend class TdmCam;
    friend class TfilterGraph;
    friend class TpreviewBuilder;
    friend void BeginCaptureReport(TcaptureRun& run, TcaptureState& s);
    friend void ReportFileSwitched(TcaptureRun& run, TcaptureState& s,
                                   const GstStructure* switched);
    friend void ReportFileCut(TcaptureRun& run, TcaptureState& s, const QString& newFile,
                              GstClockTime cutTime);
    friend void FinishCaptureReport(TcaptureRun& run, TcaptureState& s);

    // The parts of the data module the capture builds on.
    TfilterGraph& graph() const { return graph_; }
    TpreviewBuilder& preview() const { return preview_; }
    TsourceConnection& Source() const { return source_; }

    TcaptureState& cap();
    bool placeAsfWriter();
    bool buildDump();
    bool linkDvMuxer(int standard, GstElement* streamAudio, TfilterSlot* streamAudioThrough);
    void linkStreamAudioToWriter();
    bool recompressMpegStream(int standard, bool straightFromBox);
    bool encodeMpegStreamToWmv(bool throughFreshTee);
    ElementRef previewDownstream();
    void onCaptureMessage(GstMessage* message);
    void soundCardLost(const GError* error);
    void stopCaptureWith(const QString& reason);
    // The end of a capture's files.
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

    TfilterGraph& graph_;
    TsourceConnection& source_;
    TpreviewBuilder& preview_;
    TcaptureOptions options_;
    QString currentVideoFileName_;
    QString captureFileName_;
    qint64 diskReserveBytes_ = 32 * 1024 * 1024;
    // Declared before the state that points into it.
    std::unique_ptr<TframeCounter> writtenFrames_;
    std::unique_ptr<TcaptureState, TcaptureStateDeleter> capture_;
    bool finishing_ = false;
};

} // namespace kad
