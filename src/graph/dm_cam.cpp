#include "graph/dm_cam.h"

#include "graph/frame_counter.h"

namespace kad {

TdmCam::TdmCam(QObject* parent) : QObject(parent) {}

TdmCam::~TdmCam()
{
    DataModuleDestroy();
    preview_.unwatchSourceFormat();
    capture_.WrittenFrames().Detach();
    graph_.removeAllSlots();
    source_.releasePin();
    graph_.destroyGraph();
}

void TdmCam::DataModuleDestroy()
{
    if (!graph_.fg_) return;
    // A device still opening is closed by its pool thread.
    source_.CancelConnect();
    // A capture still ending is finished before its source goes.
    if (capture_.CaptureFinishing()) capture_.FinishCapture();
    graph_.SetVolume(10000);
    graph_.VideoSource.Remove();
    if (source_.Kind() != kad::SourceKind::skMovieBoxB)
        gst_element_set_state(graph_.fg_.get(), GST_STATE_READY);
    graph_.clearGraph();
    gst_element_set_state(graph_.fg_.get(), GST_STATE_NULL);
}

void TdmCam::SetMovieBoxRebuild(std::function<void()> rebuild)
{
    graph_.movieBoxRebuild_ = std::move(rebuild);
}

} // namespace kad
