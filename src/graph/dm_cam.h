#pragma once

// TdmCam: the data module that owns the media graph for the life of the
// process. It is made of four parts, each given the others it works with:
//
//   FilterGraph()  the pipeline `fg` and its slots, one TfilterSlot per
//                  element any graph of Kadrillo may contain; runs and stops
//                  the graph and turns its bus messages into signals;
//   Source()       ConnectSource puts the chosen device in the graph as
//                  VideoSource and classifies it (its kind and pad);
//                  ConnectSourceAsync does it with the device opened on a
//                  pool thread;
//   Preview()      the BuildPreview... builders make a preview from an
//                  emptied graph (FreeAllFilters) and leave the taps
//                  Infinite2, infinite3 and infinite4 for the capture;
//   Capture()      the capture builders add a file writer to the running
//                  preview; the cut, the counters and the end of the files.
//
// Everything here runs on the GUI thread, but for the opening of a device.

#include "graph/capture_run.h"
#include "graph/filter_graph.h"
#include "graph/preview_builder.h"
#include "graph/source_connection.h"

#include <QObject>

#include <functional>

namespace kad {

class TdmCam : public QObject {
    Q_OBJECT
public:
    explicit TdmCam(QObject* parent = nullptr);
    ~TdmCam() override;
    TdmCam(const TdmCam&) = delete;
    TdmCam& operator=(const TdmCam&) = delete;

    TfilterGraph& FilterGraph() { return graph_; }
    const TfilterGraph& FilterGraph() const { return graph_; }
    TsourceConnection& Source() { return source_; }
    const TsourceConnection& Source() const { return source_; }
    TpreviewBuilder& Preview() { return preview_; }
    const TpreviewBuilder& Preview() const { return preview_; }
    TcaptureRun& Capture() { return capture_; }
    const TcaptureRun& Capture() const { return capture_; }

    // The module's end: full volume, source out, graph stopped (not for the
    // MovieBox) and cleared. The destructor calls it.
    void DataModuleDestroy();

    // The window's part of the MovieBox rebuild in StopGraph: connect the
    // source again, build the preview and, while capturing, the capture.
    // Without one the rebuilt graph is left empty and stopped.
    void SetMovieBoxRebuild(std::function<void()> rebuild);

private:
    TfilterGraph graph_{source_, preview_, capture_};
    TsourceConnection source_{graph_, preview_};
    TpreviewBuilder preview_{graph_, source_, capture_};
    TcaptureRun capture_{graph_, source_, preview_};
};

} // namespace kad
