#pragma once

// Follows the capture devices while the program runs: a started device
// monitor for video and audio sources whose bus is watched on the default
// main context (the GUI thread, whose event loop runs GLib's), so a device
// plugged in or pulled out is reported without anyone asking.
//
// The watch only says which list changed; the lists themselves are read
// again with LoadVideoSources/LoadAudioSources, so a burst of messages (the
// monitor announces every present device when it starts) costs one reading
// per list and per turn of the event loop.
//
// GUI thread only.

#include "platform/media/gst_ptr.h"
#include "system/devices/video_sources.h"

#include <gst/gst.h>

#include <functional>

namespace kad {

class TdeviceWatch {
public:
    using ChangeHandler = std::function<void(DeviceCategory)>;

    explicit TdeviceWatch(ChangeHandler onChange);
    ~TdeviceWatch();
    TdeviceWatch(const TdeviceWatch&) = delete;
    TdeviceWatch& operator=(const TdeviceWatch&) = delete;

    // Starts the monitor; false when no device provider could be started
    // (the lists then change only by the refresh button). Starting twice is
    // harmless.
    bool Start();
    // Stops the monitor; no handler call follows.
    void Stop();
    bool Running() const { return busWatch_ != 0; }

private:
    static gboolean onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void handle(GstMessage* message);

    ChangeHandler onChange_;
    GRef<GstDeviceMonitor> monitor_;
    guint busWatch_ = 0;
};

// The monitor of the running watch (the device lists read the devices of
// the moment from it), or null when no watch runs.
GRef<GstDeviceMonitor> WatchedMonitor();

} // namespace kad
