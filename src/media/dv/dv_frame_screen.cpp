#include "media/dv/dv_frame_screen.h"

#include "media/dv/dv_frame.h"

#include <atomic>
#include <memory>

namespace kad {

namespace {

constexpr const char* kScreenKey = "kad-dv-frame-screen";

struct Screen {
    std::atomic<guint64> dropped{0};
    std::atomic<bool> gap{false};
};

GstPadProbeReturn onSourceBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    auto* screen = static_cast<Screen*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    bool whole = false;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        whole = IsWholeDvData(map.data, map.size);
        gst_buffer_unmap(buffer, &map);
    }
    if (!whole) {
        ++screen->dropped;
        screen->gap = true;
        GST_WARNING_OBJECT(pad, "dropped a damaged DV frame of %" G_GSIZE_FORMAT " bytes",
                           gst_buffer_get_size(buffer));
        return GST_PAD_PROBE_DROP;
    }
    if (screen->gap.exchange(false)) {
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

void deleteScreen(gpointer data)
{
    // GLib hands the screen back here; adopting it frees it.
    std::unique_ptr<Screen> owned(static_cast<Screen*>(data));
}

} // namespace

bool IsWholeDvData(const guint8* data, gsize size)
{
    if (!data || size < kad::dv::kDifBlockSize) return false;
    for (gsize off = 0; off < size;) {
        if (size - off < kad::dv::kDifBlockSize || !kad::dv::isFrameHeaderBlock(data + off))
            return false;
        const gsize frame = kad::dv::announcedFrameSize(data + off);
        if (size - off < frame) return false;
        off += frame;
    }
    return true;
}

void ScreenDvFrames(GstPad* pad)
{
    if (!pad || g_object_get_data(G_OBJECT(pad), kScreenKey)) return;
    Screen* screen = std::make_unique<Screen>().release();
    // The pad keeps the screen for as long as the probe may run.
    g_object_set_data_full(G_OBJECT(pad), kScreenKey, screen, deleteScreen);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onSourceBuffer, screen, nullptr);
}

guint64 ScreenedDvFrames(GstPad* pad)
{
    auto* screen =
        pad ? static_cast<Screen*>(g_object_get_data(G_OBJECT(pad), kScreenKey)) : nullptr;
    return screen ? screen->dropped.load() : 0;
}

} // namespace kad
