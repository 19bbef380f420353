#pragma once

// Counts the frames that pass one pad, and the frames missing between them
// (gaps in the buffer offsets a source numbers its frames with, or a
// discontinuity the source flags). The capture counters of the window read
// a source-side counter (frames produced) and a writer-side one (frames
// that reached the file); the difference plus the gaps is what was lost.
//
// The pad probe runs on the streaming thread and only touches the atomics;
// Attach, Detach and the reads run on the GUI thread.

#include "platform/media/gst_ptr.h"

#include <atomic>

namespace kad {

class TframeCounter {
public:
    TframeCounter() = default;
    TframeCounter(const TframeCounter&) = delete;
    TframeCounter& operator=(const TframeCounter&) = delete;
    ~TframeCounter() { Detach(); }

    // Counts from now on at pad (zeroing the counts); replaces an earlier pad.
    void Attach(GstPad* pad);
    void Detach();
    void Reset();

    guint64 Frames() const { return frames_.load(); }
    guint64 Gaps() const { return gaps_.load(); }

private:
    static GstPadProbeReturn onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self);

    PadRef pad_;
    gulong probe_ = 0;
    std::atomic<guint64> frames_{0};
    std::atomic<guint64> gaps_{0};
    std::atomic<guint64> nextOffset_{GST_BUFFER_OFFSET_NONE};
};

} // namespace kad
