#include "system/devices/device_watch.h"

#include <mutex>
#include <utility>

namespace kad {

namespace {
// The running watch's monitor. The watch lives on the GUI thread; a device
// list may be read from another one, hence the lock.
std::mutex watchedLock;
GstDeviceMonitor* watched = nullptr;

void setWatched(GstDeviceMonitor* monitor)
{
    std::lock_guard lock(watchedLock);
    watched = monitor;
}
} // namespace

GRef<GstDeviceMonitor> WatchedMonitor()
{
    std::lock_guard lock(watchedLock);
    return GRef<GstDeviceMonitor>::ref(watched);
}

TdeviceWatch::TdeviceWatch(ChangeHandler onChange) : onChange_(std::move(onChange)) {}

TdeviceWatch::~TdeviceWatch()
{
    Stop();
}

bool TdeviceWatch::Start()
{
    if (Running()) return true;
    GstDeviceMonitor* raw = gst_device_monitor_new();
    if (!raw) return false;
    if (g_object_is_floating(raw)) gst_object_ref_sink(raw);
    GRef<GstDeviceMonitor> monitor(raw);
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    gst_device_monitor_add_filter(monitor.get(), "Audio/Source", nullptr);

    // The watch is in place before the start so that no announcement of the
    // start is missed.
    BusRef bus(gst_device_monitor_get_bus(monitor.get()));
    const guint watch = gst_bus_add_watch(bus.get(), &TdeviceWatch::onBusMessage, this);
    if (watch == 0) return false;
    if (!gst_device_monitor_start(monitor.get())) {
        g_source_remove(watch);
        return false;
    }
    monitor_ = std::move(monitor);
    busWatch_ = watch;
    setWatched(monitor_.get());
    return true;
}

void TdeviceWatch::Stop()
{
    if (busWatch_) g_source_remove(busWatch_);
    busWatch_ = 0;
    // Stopping the monitor stops the providers it started (they are shared
    // with every other monitor of the process), so a later listing probes
    // afresh instead of reading a stopped provider's last devices.
    if (monitor_) setWatched(nullptr);
    if (monitor_) gst_device_monitor_stop(monitor_.get());
    monitor_ = GRef<GstDeviceMonitor>();
}

gboolean TdeviceWatch::onBusMessage(GstBus*, GstMessage* message, gpointer self)
{
    static_cast<TdeviceWatch*>(self)->handle(message);
    return G_SOURCE_CONTINUE;
}

void TdeviceWatch::handle(GstMessage* message)
{
    GstDevice* raw = nullptr;
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_DEVICE_ADDED:
        gst_message_parse_device_added(message, &raw);
        break;
    case GST_MESSAGE_DEVICE_REMOVED:
        gst_message_parse_device_removed(message, &raw);
        break;
    case GST_MESSAGE_DEVICE_CHANGED:
        gst_message_parse_device_changed(message, &raw, nullptr);
        break;
    default:
        return;
    }
    GRef<GstDevice> device(raw);
    if (!device || !onChange_) return;
    const DeviceCategory category = gst_device_has_classes(device.get(), "Audio/Source")
                                        ? DeviceCategory::Audio
                                        : DeviceCategory::Video;
    onChange_(category);
}

} // namespace kad
