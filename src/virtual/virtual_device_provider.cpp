#include "virtual/virtual_device_provider.h"

#include "platform/media/gst_ptr.h"
#include "virtual/dv_file_reader.h"
#include "virtual/virtual_dv_src.h"
#include "virtual/virtual_dvfile_src.h"
#include "virtual/virtual_mic_src.h"
#include "virtual/virtual_mpeg_src.h"
#include "virtual/virtual_webcam_src.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(virtual_provider_debug);
#define GST_CAT_DEFAULT virtual_provider_debug

namespace {

struct Kind {
    const char* id;
    const char* name;
    const char* description;
    const char* deviceClass;
    const char* caps;
};

constexpr Kind kKinds[] = {
    {"dv-pal-vcr", "Virtual DV Camcorder (PAL)", "Kadrillo virtual DV camcorder, PAL, VCR mode",
     "Video/Source", "video/x-dv, systemstream=(boolean)true"},
    {"dv-ntsc-camera", "Virtual DV Camcorder (NTSC)",
     "Kadrillo virtual DV camcorder, NTSC, camera mode", "Video/Source",
     "video/x-dv, systemstream=(boolean)true"},
    {"webcam", "Virtual Webcam", "Kadrillo virtual webcam (tuner, composite, S-Video inputs)",
     "Video/Source",
     "video/x-raw, format=(string){ YUY2, I420 }, width=(int)640, height=(int)480, "
     "framerate=(fraction){ 30/1, 15/1 }; video/x-raw, format=(string){ YUY2, I420 }, "
     "width=(int)320, height=(int)240, framerate=(fraction){ 30/1, 15/1 }"},
    {"mpeg2", "Virtual MPEG-2 Encoder", "Kadrillo virtual MPEG-2 program-stream encoder",
     "Video/Source", "video/mpeg, mpegversion=(int)2, systemstream=(boolean)true"},
    {"moviebox", kad::kMovieBoxFriendlyName, "Pinnacle MovieBox USB model B (virtual)",
     "Video/Source", "video/mpeg, mpegversion=(int)2, systemstream=(boolean)true"},
    {"mic", "Virtual Microphone", "Kadrillo virtual microphone", "Audio/Source",
     "audio/x-raw, format=(string)S16LE, rate=(int){ 48000, 44100, 32000 }, "
     "channels=(int){ 2, 1 }, layout=(string)interleaved"},
};

const Kind* findKind(const std::string& id)
{
    for (const Kind& k : kKinds)
        if (id == k.id) return &k;
    return nullptr;
}

// A DV file played as a camcorder tape ("dvfile:PATH"): named after the
// file, so its display name is made per device.
constexpr Kind kDvFileKind = {"dvfile", "DV file", "Kadrillo DV file played as a camcorder tape",
                              "Video/Source", "video/x-dv, systemstream=(boolean)true"};
constexpr const char* kDvFilePrefix = "dvfile:";

struct Listed {
    const Kind* kind;
    std::string path;
    std::string location; // dvfile only
    std::string name;     // dvfile only: the display name
};

std::mutex reportedLock;
std::set<std::string> reportedFiles; // unreadable files already reported

// Whether the file can be played; says once per file on stderr (and in the
// log every time) why not.
bool dvFilePlayable(const std::string& location)
{
    std::string reason;
    if (kad::dv::DvFileReader::open(location, &reason)) return true;
    GST_WARNING("KADRILLO_VIRTUAL_DEVICES: \"%s\" is not listed: %s", location.c_str(),
                reason.c_str());
    std::lock_guard lock(reportedLock);
    if (reportedFiles.insert(location).second)
        g_printerr("Kadrillo: the DV file \"%s\" cannot be used as a source: %s\n",
                   location.c_str(), reason.c_str());
    return false;
}

// The devices the environment asks for, in order.
std::vector<Listed> requestedDevices()
{
    std::vector<Listed> out;
    const char* env = std::getenv("KADRILLO_VIRTUAL_DEVICES");
    if (!env || !*env || std::string(env) == "0") return out;
    std::vector<std::string> ids;
    if (std::string(env) == "1") {
        for (const Kind& k : kKinds)
            ids.emplace_back(k.id);
    } else {
        std::stringstream list(env);
        std::string id;
        while (std::getline(list, id, ',')) {
            id.erase(0, id.find_first_not_of(" \t"));
            id.erase(id.find_last_not_of(" \t") + 1);
            if (!id.empty()) ids.push_back(id);
        }
    }
    std::map<std::string, int> seen;
    for (const std::string& id : ids) {
        if (id.rfind(kDvFilePrefix, 0) == 0) {
            const std::string location = id.substr(std::strlen(kDvFilePrefix));
            if (!dvFilePlayable(location)) continue;
            kad::GCharPtr base(g_path_get_basename(location.c_str()));
            const int n = seen[kDvFileKind.id]++;
            out.push_back(
                {&kDvFileKind,
                 std::string("/virtual/kadrillo/") + kDvFileKind.id + "/" + std::to_string(n),
                 location, std::string("DV file ") + base.get()});
            continue;
        }
        const Kind* kind = findKind(id);
        if (!kind) {
            GST_WARNING("unknown virtual device \"%s\" in KADRILLO_VIRTUAL_DEVICES", id.c_str());
            continue;
        }
        const int n = seen[id]++;
        out.push_back({kind, "/virtual/kadrillo/" + id + "/" + std::to_string(n), {}, {}});
    }
    return out;
}

// Process-wide: which devices are unplugged, and which providers are
// started (they announce removals). Guarded by registryLock.
std::mutex registryLock;
std::set<std::string> unplugged;
std::vector<KadVirtualDeviceProvider*> started;

} // namespace

struct _KadVirtualDevice {
    GstDevice parent;
    gchar* id;
    gchar* path;
    gchar* location; // dvfile only
};

G_DEFINE_TYPE(KadVirtualDevice, kad_virtual_device, GST_TYPE_DEVICE)

namespace {

GstElement* createElement(GstDevice* device, const gchar* name)
{
    auto* self = KAD_VIRTUAL_DEVICE(device);
    const std::string id = self->id;
    kad::GCharPtr display(gst_device_get_display_name(device));
    GstElement* element = nullptr;
    if (id == "dv-pal-vcr" || id == "dv-ntsc-camera") {
        const gboolean ntsc = id == "dv-ntsc-camera";
        element = GST_ELEMENT(
            g_object_new(KAD_TYPE_VIRTUAL_DV_SRC, "ntsc", ntsc, "camera", ntsc, nullptr));
    } else if (id == "webcam") {
        element = GST_ELEMENT(g_object_new(KAD_TYPE_VIRTUAL_WEBCAM_SRC, nullptr));
    } else if (id == "mpeg2" || id == "moviebox") {
        element = GST_ELEMENT(
            g_object_new(KAD_TYPE_VIRTUAL_MPEG_SRC, "moviebox", id == "moviebox", nullptr));
    } else if (id == "mic") {
        element = GST_ELEMENT(g_object_new(KAD_TYPE_VIRTUAL_MIC_SRC, nullptr));
    } else if (id == kDvFileKind.id) {
        element = GST_ELEMENT(
            g_object_new(KAD_TYPE_VIRTUAL_DVFILE_SRC, "location", self->location, nullptr));
    }
    if (!element) return nullptr;
    g_object_set(element, "device-path", self->path, "device-name", display.get(), "virtual-id",
                 self->id, nullptr);
    if (name) gst_object_set_name(GST_OBJECT(element), name);
    return element;
}

void deviceFinalize(GObject* object)
{
    auto* self = KAD_VIRTUAL_DEVICE(object);
    g_free(self->id);
    g_free(self->path);
    g_free(self->location);
    G_OBJECT_CLASS(kad_virtual_device_parent_class)->finalize(object);
}

GstDevice* makeDevice(const Listed& listed)
{
    const Kind& k = *listed.kind;
    GstStructure* props = gst_structure_new(
        "kadrillo-virtual-device", "device.path", G_TYPE_STRING, listed.path.c_str(),
        "device.description", G_TYPE_STRING, k.description, "device.api", G_TYPE_STRING,
        "kadrillo-virtual", "kadrillo.virtual-id", G_TYPE_STRING, k.id, nullptr);
    if (std::string(k.id) == "moviebox")
        gst_structure_set(props, "kadrillo.clsid", G_TYPE_STRING, kad::kMovieBoxClsid, nullptr);
    GstCaps* caps = gst_caps_from_string(k.caps);
    if (!listed.location.empty())
        gst_structure_set(props, "device.location", G_TYPE_STRING, listed.location.c_str(),
                          nullptr);
    const char* name = listed.name.empty() ? k.name : listed.name.c_str();
    auto* device = KAD_VIRTUAL_DEVICE(g_object_new(KAD_TYPE_VIRTUAL_DEVICE, "display-name", name,
                                                   "device-class", k.deviceClass, "caps", caps,
                                                   "properties", props, nullptr));
    gst_caps_unref(caps);
    gst_structure_free(props);
    device->id = g_strdup(k.id);
    device->path = g_strdup(listed.path.c_str());
    device->location = listed.location.empty() ? nullptr : g_strdup(listed.location.c_str());
    return GST_DEVICE(device);
}

} // namespace

static void kad_virtual_device_class_init(KadVirtualDeviceClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = deviceFinalize;
    GST_DEVICE_CLASS(klass)->create_element = createElement;
}

static void kad_virtual_device_init(KadVirtualDevice*) {}

struct _KadVirtualDeviceProvider {
    GstDeviceProvider parent;
};

G_DEFINE_TYPE(KadVirtualDeviceProvider, kad_virtual_device_provider, GST_TYPE_DEVICE_PROVIDER)

namespace {

std::vector<Listed> pluggedDevices()
{
    std::vector<Listed> devices = requestedDevices();
    std::lock_guard lock(registryLock);
    std::erase_if(devices, [](const Listed& l) { return unplugged.count(l.path) > 0; });
    return devices;
}

GList* probe(GstDeviceProvider*)
{
    GList* list = nullptr;
    for (const Listed& l : pluggedDevices())
        list = g_list_append(list, gst_object_ref_sink(makeDevice(l)));
    return list;
}

gboolean start(GstDeviceProvider* provider)
{
    for (const Listed& l : pluggedDevices())
        gst_device_provider_device_add(provider, makeDevice(l));
    std::lock_guard lock(registryLock);
    started.push_back(KAD_VIRTUAL_DEVICE_PROVIDER(provider));
    return TRUE;
}

void stop(GstDeviceProvider* provider)
{
    std::lock_guard lock(registryLock);
    std::erase(started, KAD_VIRTUAL_DEVICE_PROVIDER(provider));
}

// The device of this path among a started provider's devices (a new reference).
GstDevice* findDevice(GstDeviceProvider* provider, const std::string& path)
{
    GstDevice* found = nullptr;
    GList* devices = gst_device_provider_get_devices(provider);
    for (GList* l = devices; l; l = l->next) {
        auto* device = GST_DEVICE(l->data);
        if (!found && KAD_IS_VIRTUAL_DEVICE(device) && path == KAD_VIRTUAL_DEVICE(device)->path)
            found = GST_DEVICE(gst_object_ref(device));
    }
    g_list_free_full(devices, gst_object_unref);
    return found;
}

std::vector<GstDeviceProvider*> startedProviders()
{
    std::lock_guard lock(registryLock);
    std::vector<GstDeviceProvider*> out;
    for (KadVirtualDeviceProvider* p : started)
        out.push_back(GST_DEVICE_PROVIDER(gst_object_ref(p)));
    return out;
}

} // namespace

static void kad_virtual_device_provider_class_init(KadVirtualDeviceProviderClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(virtual_provider_debug, "kadvirtualdeviceprovider", 0,
                            "Kadrillo virtual devices");
    auto* provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = probe;
    provider->start = start;
    provider->stop = stop;
    gst_device_provider_class_set_static_metadata(
        provider, "Kadrillo virtual devices", "Source/Video/Audio",
        "Lists Kadrillo's simulated capture devices (KADRILLO_VIRTUAL_DEVICES)", "Kadrillo");
}

static void kad_virtual_device_provider_init(KadVirtualDeviceProvider*) {}

gboolean kad_virtual_devices_register(GstPlugin* plugin)
{
    gboolean ok = gst_device_provider_register(plugin, "kadvirtualdeviceprovider", GST_RANK_PRIMARY,
                                               KAD_TYPE_VIRTUAL_DEVICE_PROVIDER);
    ok = kad_virtual_dv_src_register(plugin) && ok;
    ok = kad_virtual_dvfile_src_register(plugin) && ok;
    ok = kad_virtual_webcam_src_register(plugin) && ok;
    ok = kad_virtual_mpeg_src_register(plugin) && ok;
    ok = kad_virtual_mic_src_register(plugin) && ok;
    return ok;
}

namespace kad {

void unplugVirtualDevice(const std::string& devicePath)
{
    {
        std::lock_guard lock(registryLock);
        if (!unplugged.insert(devicePath).second) return;
    }
    for (GstDeviceProvider* provider : startedProviders()) {
        if (GstDevice* device = findDevice(provider, devicePath)) {
            gst_device_provider_device_remove(provider, device);
            gst_object_unref(device);
        }
        gst_object_unref(provider);
    }
}

void replugVirtualDevice(const std::string& devicePath)
{
    {
        std::lock_guard lock(registryLock);
        if (unplugged.erase(devicePath) == 0) return;
    }
    for (const Listed& l : requestedDevices()) {
        if (l.path != devicePath) continue;
        for (GstDeviceProvider* provider : startedProviders()) {
            gst_device_provider_device_add(provider, makeDevice(l));
            gst_object_unref(provider);
        }
    }
}

bool virtualDeviceUnplugged(const std::string& devicePath)
{
    std::lock_guard lock(registryLock);
    return unplugged.count(devicePath) > 0;
}

} // namespace kad
