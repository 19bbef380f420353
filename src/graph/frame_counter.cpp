#include "graph/frame_counter.h"

namespace kad {

void TframeCounter::Attach(GstPad* pad)
{
    Detach();
    Reset();
    if (!pad) return;
    pad_ = PadRef::ref(pad);
    probe_ = gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, this, nullptr);
}

void TframeCounter::Detach()
{
    if (pad_ && probe_) gst_pad_remove_probe(pad_.get(), probe_);
    probe_ = 0;
    pad_.reset();
}

void TframeCounter::Reset()
{
    frames_ = 0;
    gaps_ = 0;
    nextOffset_ = GST_BUFFER_OFFSET_NONE;
}

GstPadProbeReturn TframeCounter::onBuffer(GstPad*, GstPadProbeInfo* info, gpointer self)
{
    auto* counter = static_cast<TframeCounter*>(self);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const guint64 offset = GST_BUFFER_OFFSET(buffer);
    const guint64 expected = counter->nextOffset_.load();
    if (offset != GST_BUFFER_OFFSET_NONE && expected != GST_BUFFER_OFFSET_NONE && offset > expected)
        counter->gaps_ += offset - expected;
    else if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT) && counter->frames_ > 0 &&
             offset == GST_BUFFER_OFFSET_NONE)
        counter->gaps_ += 1;
    counter->nextOffset_ = offset == GST_BUFFER_OFFSET_NONE ? offset : offset + 1;
    ++counter->frames_;
    return GST_PAD_PROBE_OK;
}

} // namespace kad
