#pragma once

// What TcaptureRun keeps about the running capture; for capture_graph.cpp
// and the capture report's hooks only.

#include "graph/capture_report.h"
#include "graph/capture_run.h"
#include "graph/dm_cam.h"
#include "graph/file_switch.h"
#include "graph/frame_counter.h"
#include "graph/preview_builder.h"
#include "settings/wm_profiles.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace kad {

// The file writers a capture can use.
enum class WriterKind {
    None,
    DvType1, // kaddvaviwriter: one element, switches by itself
    Avi,     // kadaviwriter: picture and PCM sound, one element, switches by itself
    Asf,     // the Windows Media writer bin (encoders, asfmux, filesink)
    Dump,    // kaddump, the program stream as it comes
};

struct TcaptureRun::TcaptureState {
    WriterKind kind = WriterKind::None;
    // The writer: for Asf the bin (writer) with the muxer and file sink
    // inside it; DvType1, Avi and Dump are their own sink (for Avi, mux is
    // the writer too: it interleaves).
    ElementRef writer;
    ElementRef mux;
    ElementRef fileSink;
    std::optional<WmEncoderSettings> wm;
    // The rate the DV muxer's audio is converted to (DV carries 48 kHz;
    // 32 kHz needs a packer of its own).
    int dvAudioRate = 48000;
    // Where the written frames are counted.
    PadRef counted;
    // kadaviwriter: frames of the files finished by its cuts (added from
    // the streaming thread that posts the switch), and the highest count
    // the window was given. Its own count of the current file drops to 0
    // at a cut a moment before the finished file's frames are added here;
    // the counter never shows that dip.
    std::atomic<guint64> finishedFileFrames{0};
    std::atomic<guint64> capturedShown{0};
    bool finished = false;
    bool running = false;
    // When this capture began (gst_util_get_timestamp): errors posted
    // before it belong to the graph it replaced.
    GstClockTime startedAt = 0;
    // The sound card failed during this capture: the picture went on alone.
    bool soundLost = false;
    // The report beside each file (when the option is on).
    TcaptureReporter report;

    // The cut.
    TfileSwitch fileSwitch;
    bool switchBusy = false;
    QString switchTo;
    // The file being written when the cut was asked for: the capture ends
    // there when it stops before the cut is made.
    QString switchFrom;

    // How each writer input was ended: the end of stream sent once its
    // feeder was idle, then the feeder's data dropped. Set by the feeder's
    // streaming thread while the GUI thread waits; read after.
    struct EndInput {
        PadRef input;
        PadRef writerInput; // input, or the writer's own behind its queue
        PadRef feeder;
        TframeCounter* counter = nullptr;
        std::atomic<bool> sent{false};
        std::atomic<gulong> dropProbe{0};
        std::atomic<bool> done{false};
        gulong idleProbe = 0;
    };
    std::vector<std::unique_ptr<EndInput>> ends;

    // The file sink's inputs while the capture ends. Each input's flags are
    // set by the threads that see its end of stream: `ended` when it takes
    // it, `through` once the sink is done with it (its stream lock passed).
    // Then a message on the bus tells the GUI thread; a GUI thread that
    // cannot wait for the bus reads the flags.
    struct SinkEnds {
        explicit SinkEnds(std::size_t inputs) : ended(inputs), through(inputs) {}
        std::vector<std::atomic<bool>> ended;
        std::vector<std::atomic<bool>> through;
        BusRef bus;
        guint generation = 0;
        bool allThrough() const
        {
            for (const auto& t : through)
                if (!t.load()) return false;
            return true;
        }
    };
    // The end of the capture, from the ends' arrangement until its files are
    // finished or the time is up, then until the graph has stopped.
    struct Finish {
        std::shared_ptr<SinkEnds> sinks;
        std::vector<std::pair<PadRef, gulong>> eosProbes;
        QElapsedTimer clock;
        int timeoutMs = 0;
        bool forced = false;
        // Begun by BeginFinishCapture: CaptureFinished tells its end.
        bool announced = false;
        // The files are done with; the graph is on its way to READY.
        bool settled = false;
        // That stop, made on a thread of GStreamer's pool. Whoever overtakes
        // the end calls it off, or waits for it under the lock, so that a
        // stop coming late never stops the graph built next.
        struct StopOrder {
            std::mutex lock;
            bool calledOff = false;
        };
        std::shared_ptr<StopOrder> stop;
        bool complete = false;
        QString lastFile;
    };
    std::optional<Finish> finish;
    // Tells the messages of one end from those of an earlier one.
    guint finishGeneration = 0;

    // The preview this capture was added to: the graph's elements before
    // the capture's, and what the preview was built from. The capture's own
    // elements come out again once it has ended, instead of a new build.
    struct PreviewBefore {
        std::vector<ElementRef> children;
        // Every link between them, output first.
        std::vector<std::pair<PadRef, PadRef>> links;
        ElementRef smartTee;
        ElementRef nullRenderer;
        ElementRef source;
        kad::SourceKind kind = kad::SourceKind::skNoVideo;
        TgraphOptions options;
    };
    std::optional<PreviewBefore> previewBefore;

    // Errors and element messages from the streaming threads.
    BusRef bus;
    gulong syncHandler = 0;
    QPointer<QTimer> diskGuard;

    // Lets the writers' feeders through again (a new capture on the same
    // taps). Only while no end is pending: the GUI thread calls it with the
    // graph stopped or every end done.
    void removeBlocks()
    {
        for (auto& e : ends) {
            if (!e->sent.exchange(true) && e->idleProbe)
                gst_pad_remove_probe(e->feeder.get(), e->idleProbe);
            if (e->dropProbe) gst_pad_remove_probe(e->feeder.get(), e->dropProbe);
        }
        ends.clear();
    }
};

// True when e is in graph (directly or inside a bin of it).
inline bool inGraph(GstElement* e, GstBin* graph)
{
    return e && gst_object_has_as_ancestor(GST_OBJECT(e), GST_OBJECT(graph));
}

} // namespace kad
