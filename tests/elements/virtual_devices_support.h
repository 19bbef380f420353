#pragma once

// Helpers shared by the virtual device tests: choosing the listed devices,
// creating a device's element and running it into an app sink.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/gst_ptr.h"

namespace vtest {

// Sets KADRILLO_VIRTUAL_DEVICES (or unsets it for nullptr) for one scope.
class DevicesEnv {
public:
    explicit DevicesEnv(const char* value)
    {
        if (const char* old = std::getenv("KADRILLO_VIRTUAL_DEVICES")) old_ = old;
        if (value)
            setenv("KADRILLO_VIRTUAL_DEVICES", value, 1);
        else
            unsetenv("KADRILLO_VIRTUAL_DEVICES");
    }
    ~DevicesEnv()
    {
        if (old_)
            setenv("KADRILLO_VIRTUAL_DEVICES", old_->c_str(), 1);
        else
            unsetenv("KADRILLO_VIRTUAL_DEVICES");
    }

private:
    std::optional<std::string> old_;
};

inline std::vector<kad::GRef<GstDevice>> listDevices()
{
    std::vector<kad::GRef<GstDevice>> out;
    kad::GRef<GstDeviceProvider> provider(
        gst_device_provider_factory_get_by_name("kadvirtualdeviceprovider"));
    if (!provider) return out;
    GList* devices = gst_device_provider_get_devices(provider.get());
    for (GList* l = devices; l; l = l->next)
        out.emplace_back(GST_DEVICE(l->data));
    g_list_free(devices);
    return out;
}

inline std::string deviceProperty(GstDevice* device, const char* name)
{
    kad::GstStructurePtr props(gst_device_get_properties(device));
    const char* v = props ? gst_structure_get_string(props.get(), name) : nullptr;
    return v ? v : "";
}

// A non-live element of the virtual device of that id (the first listed).
inline kad::ElementRef makeDevice(const char* id, int numBuffers)
{
    DevicesEnv env(id);
    auto devices = listDevices();
    if (devices.empty()) return {};
    kad::ElementRef element =
        kad::ElementRef::sink(gst_device_create_element(devices.front().get(), nullptr));
    if (element) g_object_set(element.get(), "is-live", FALSE, "num-buffers", numBuffers, nullptr);
    return element;
}

struct Run {
    std::vector<kad::BufferRef> buffers;
    kad::CapsRef caps;
    bool eos = false;
    std::string error;
    GQuark errorDomain = 0;
    int errorCode = 0;
    GstObject* errorSource = nullptr; // compared only, not dereferenced

    std::vector<std::uint8_t> bytes() const
    {
        std::vector<std::uint8_t> all;
        for (const auto& b : buffers) {
            kad::BufferMap map(b.get(), GST_MAP_READ);
            all.insert(all.end(), map.data(), map.data() + map.size());
        }
        return all;
    }
};

// Takes an error waiting on `bus` into `run`; false when there is none.
inline bool takeError(GstBus* bus, Run& run)
{
    kad::MessageRef msg(gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR));
    if (!msg) return false;
    GError* err = nullptr;
    gst_message_parse_error(msg.get(), &err, nullptr);
    run.error = err->message;
    run.errorDomain = err->domain;
    run.errorCode = err->code;
    run.errorSource = GST_MESSAGE_SRC(msg.get());
    g_error_free(err);
    return true;
}

// Runs source ! appsink until end of stream or error. onBuffer is called
// on the test thread with each buffer's index.
inline Run runDevice(GstElement* source, const std::function<void(std::size_t)>& onBuffer = {},
                     GstClockTime timeout = 30 * GST_SECOND)
{
    Run run;
    kad::ElementRef pipeline = kad::ElementRef::sink(gst_pipeline_new("test"));
    GstElement* sink = gst_element_factory_make("appsink", "sink");
    // One buffer ahead at most: a test that acts on frame N (a tape mode
    // change) finds the source near frame N, however slowly it pulls.
    g_object_set(sink, "sync", FALSE, "max-buffers", 1, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, sink, nullptr);
    if (!gst_element_link(source, sink)) {
        run.error = "link failed";
        return run;
    }
    kad::BusRef bus(gst_element_get_bus(pipeline.get()));
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        run.error = "state change failed";
        takeError(bus.get(), run);
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline.get()), source);
        return run;
    }
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeout / 1000);
    while (g_get_monotonic_time() < deadline) {
        kad::SampleRef sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 20 * GST_MSECOND));
        if (sample) {
            if (!run.caps) run.caps = kad::CapsRef::ref(gst_sample_get_caps(sample.get()));
            run.buffers.push_back(kad::BufferRef::ref(gst_sample_get_buffer(sample.get())));
            if (onBuffer) onBuffer(run.buffers.size() - 1);
            continue;
        }
        if (gst_app_sink_is_eos(GST_APP_SINK(sink))) {
            run.eos = true;
            break;
        }
        if (takeError(bus.get(), run)) break;
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    // The caller may run the same device again in a new pipeline.
    gst_bin_remove(GST_BIN(pipeline.get()), source);
    return run;
}

// A fresh folder per call, all of them removed when the test program ends.
inline std::string tempPath(const std::string& name)
{
    static std::vector<std::unique_ptr<QTemporaryDir>> made;
    made.push_back(std::make_unique<QTemporaryDir>());
    return made.back()->filePath(QString::fromStdString(name)).toStdString();
}

inline bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

} // namespace vtest
