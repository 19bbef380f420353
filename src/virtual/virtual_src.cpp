#include "virtual/virtual_src.h"

#include "platform/media/gst_ptr.h"
#include "virtual/virtual_device_provider.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

GST_DEBUG_CATEGORY_STATIC(virtual_src_debug);
#define GST_CAT_DEFAULT virtual_src_debug

namespace {

struct Private {
    std::string devicePath;
    std::string deviceName;
    std::string virtualId;
    gboolean live = TRUE;
    gint numBuffers = -1;
    kad::VirtualTapSettings settings;
    bool unplugged = false;
    std::string missing;          // elements the device could not be built from
    KadVirtualTap* tap = nullptr; // owned by the bin
};

struct PrivateBox {
    Private* p;
    alignas(Private) unsigned char storage[sizeof(Private)];
};

enum {
    PROP_0,
    PROP_DEVICE_PATH,
    PROP_DEVICE_NAME,
    PROP_VIRTUAL_ID,
    PROP_IS_LIVE,
    PROP_NUM_BUFFERS,
    PROP_DROP_FRAMES,
    PROP_DROP_COUNT,
    PROP_UNPLUG,
    PROP_SENT_LOCATION,
    PROP_FRAMES_SENT,
};

// setVirtualDeviceOpening's table, by device path.
struct Opening {
    int delayMs = 0;
    bool fails = false;
};
std::mutex openingLock;
std::map<std::string, Opening>& openings()
{
    static std::map<std::string, Opening> table;
    return table;
}

Opening openingOf(const std::string& path)
{
    std::lock_guard lock(openingLock);
    const auto it = openings().find(path);
    return it == openings().end() ? Opening{} : it->second;
}

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

} // namespace

using KadVirtualSrcPrivate = PrivateBox;

G_DEFINE_ABSTRACT_TYPE_WITH_PRIVATE(KadVirtualSrc, kad_virtual_src, GST_TYPE_BIN)

namespace {

Private& priv(KadVirtualSrc* self)
{
    return *static_cast<PrivateBox*>(kad_virtual_src_get_instance_private(self))->p;
}

bool envLive()
{
    const char* v = std::getenv("KADRILLO_VIRTUAL_LIVE");
    return !(v && (std::strcmp(v, "0") == 0 || g_ascii_strcasecmp(v, "false") == 0 ||
                   g_ascii_strcasecmp(v, "no") == 0));
}

gint envNumBuffers()
{
    const char* v = std::getenv("KADRILLO_VIRTUAL_NUM_BUFFERS");
    if (!v || !*v) return -1;
    gint64 n = 0;
    if (!g_ascii_string_to_signed(v, 10, -1, G_MAXINT, &n, nullptr)) return -1;
    return static_cast<gint>(n);
}

void envDrop(kad::VirtualTapSettings& settings)
{
    const char* v = std::getenv("KADRILLO_VIRTUAL_DROP_FRAMES");
    if (!v || !*v) return;
    char* end = nullptr;
    const unsigned long period = std::strtoul(v, &end, 10);
    settings.dropPeriod = static_cast<guint>(period);
    if (end && *end == ':')
        settings.dropCount = static_cast<guint>(std::strtoul(end + 1, nullptr, 10));
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_SRC(object);
    Private& p = priv(self);
    if (id == PROP_UNPLUG) {
        if (g_value_get_boolean(value)) kad_virtual_src_unplug(self);
        return;
    }
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_DEVICE_PATH:
        p.devicePath = g_value_get_string(value) ? g_value_get_string(value) : "";
        break;
    case PROP_DEVICE_NAME:
        p.deviceName = g_value_get_string(value) ? g_value_get_string(value) : "";
        break;
    case PROP_VIRTUAL_ID:
        p.virtualId = g_value_get_string(value) ? g_value_get_string(value) : "";
        break;
    case PROP_IS_LIVE:
        p.live = g_value_get_boolean(value);
        break;
    case PROP_NUM_BUFFERS:
        p.numBuffers = g_value_get_int(value);
        break;
    case PROP_DROP_FRAMES:
        p.settings.dropPeriod = g_value_get_uint(value);
        break;
    case PROP_DROP_COUNT:
        p.settings.dropCount = g_value_get_uint(value);
        break;
    case PROP_SENT_LOCATION:
        p.settings.sentLocation = g_value_get_string(value) ? g_value_get_string(value) : "";
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
    if (id == PROP_DROP_FRAMES || id == PROP_DROP_COUNT || id == PROP_SENT_LOCATION) {
        auto settings = kad::virtualSrcSettings(self);
        if (!KAD_VIRTUAL_SRC_GET_CLASS(self)->drops_in_tap) settings.dropPeriod = 0;
        kad::virtualTapSetSettings(p.tap, settings);
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_SRC(object);
    Private& p = priv(self);
    if (id == PROP_FRAMES_SENT) {
        g_value_set_uint64(value, kad::virtualTapFramesSent(p.tap));
        return;
    }
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_DEVICE_PATH:
        g_value_set_string(value, p.devicePath.c_str());
        break;
    case PROP_DEVICE_NAME:
        g_value_set_string(value, p.deviceName.c_str());
        break;
    case PROP_VIRTUAL_ID:
        g_value_set_string(value, p.virtualId.c_str());
        break;
    case PROP_IS_LIVE:
        g_value_set_boolean(value, p.live);
        break;
    case PROP_NUM_BUFFERS:
        g_value_set_int(value, p.numBuffers);
        break;
    case PROP_DROP_FRAMES:
        g_value_set_uint(value, p.settings.dropPeriod);
        break;
    case PROP_DROP_COUNT:
        g_value_set_uint(value, p.settings.dropCount);
        break;
    case PROP_UNPLUG:
        g_value_set_boolean(value, p.unplugged);
        break;
    case PROP_SENT_LOCATION:
        g_value_set_string(value, p.settings.sentLocation.c_str());
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    auto* self = KAD_VIRTUAL_SRC(element);
    if (transition == GST_STATE_CHANGE_NULL_TO_READY ||
        transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        Private& p = priv(self);
        GST_OBJECT_LOCK(self);
        const gboolean live = p.live;
        const gint numBuffers = p.numBuffers;
        const bool unplugged = p.unplugged;
        const std::string missing = p.missing;
        const std::string name = p.deviceName;
        const std::string path = p.devicePath;
        GST_OBJECT_UNLOCK(self);
        if (!missing.empty()) {
            GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN,
                              ("The virtual device \"%s\" needs GStreamer elements that are not "
                               "installed: %s.",
                               name.c_str(), missing.c_str()),
                              ("missing %s", missing.c_str()));
            return GST_STATE_CHANGE_FAILURE;
        }
        if (unplugged) {
            GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND,
                              ("Device lost: \"%s\" is not connected.", name.c_str()),
                              ("virtual device %s was unplugged", path.c_str()));
            return GST_STATE_CHANGE_FAILURE;
        }
        if (transition == GST_STATE_CHANGE_NULL_TO_READY) {
            const Opening opening = openingOf(path);
            if (opening.delayMs > 0) g_usleep(static_cast<gulong>(opening.delayMs) * 1000);
            if (opening.fails) {
                GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ,
                                  ("The device \"%s\" could not be opened.", name.c_str()),
                                  ("virtual device %s told to fail its opening", path.c_str()));
                return GST_STATE_CHANGE_FAILURE;
            }
        }
        // Every run starts from the settings of the moment (a device can be
        // stopped to READY, switched to non-live and run again).
        auto* klass = KAD_VIRTUAL_SRC_GET_CLASS(self);
        if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && klass->configure)
            klass->configure(self, live, numBuffers);
    }
    return GST_ELEMENT_CLASS(kad_virtual_src_parent_class)->change_state(element, transition);
}

void constructed(GObject* object)
{
    G_OBJECT_CLASS(kad_virtual_src_parent_class)->constructed(object);
    // The subclass has built its chain by now; the tap settings follow the
    // class's drop policy.
    auto* self = KAD_VIRTUAL_SRC(object);
    auto settings = kad::virtualSrcSettings(self);
    if (!KAD_VIRTUAL_SRC_GET_CLASS(self)->drops_in_tap) settings.dropPeriod = 0;
    kad::virtualTapSetSettings(priv(self).tap, settings);
}

void finalize(GObject* object)
{
    auto* box =
        static_cast<PrivateBox*>(kad_virtual_src_get_instance_private(KAD_VIRTUAL_SRC(object)));
    std::destroy_at(box->p);
    G_OBJECT_CLASS(kad_virtual_src_parent_class)->finalize(object);
}

} // namespace

static void kad_virtual_src_class_init(KadVirtualSrcClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(virtual_src_debug, "kadvirtualsrc", 0, "Kadrillo virtual devices");
    auto* gobject = G_OBJECT_CLASS(klass);
    gobject->set_property = setProperty;
    gobject->get_property = getProperty;
    gobject->constructed = constructed;
    gobject->finalize = finalize;
    klass->drops_in_tap = TRUE;
    const auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(gobject, PROP_DEVICE_PATH,
                                    g_param_spec_string("device-path", "Device path",
                                                        "Stable path of the virtual device", "",
                                                        rw));
    g_object_class_install_property(gobject, PROP_DEVICE_NAME,
                                    g_param_spec_string("device-name", "Device name",
                                                        "Friendly name of the virtual device", "",
                                                        rw));
    g_object_class_install_property(gobject, PROP_VIRTUAL_ID,
                                    g_param_spec_string("virtual-id", "Virtual id",
                                                        "Kind of virtual device (dv-pal-vcr, ...)",
                                                        "", rw));
    g_object_class_install_property(
        gobject, PROP_IS_LIVE,
        g_param_spec_boolean("is-live", "Is live",
                             "Paced by the clock like hardware (FALSE: as fast as possible)", TRUE,
                             rw));
    g_object_class_install_property(
        gobject, PROP_NUM_BUFFERS,
        g_param_spec_int("num-buffers", "Number of buffers",
                         "Frames to send before end of stream (-1 = endless)", -1, G_MAXINT, -1,
                         rw));
    g_object_class_install_property(
        gobject, PROP_DROP_FRAMES,
        g_param_spec_uint("drop-frames", "Drop frames",
                          "Period in frames of the simulated frame drops (0 = never drop)", 0,
                          G_MAXUINT, 0, rw));
    g_object_class_install_property(
        gobject, PROP_DROP_COUNT,
        g_param_spec_uint("drop-count", "Drop count",
                          "Frames dropped at the end of each drop-frames period", 0, G_MAXUINT, 1,
                          rw));
    g_object_class_install_property(
        gobject, PROP_UNPLUG,
        g_param_spec_boolean("unplug", "Unplug",
                             "Set to TRUE to disconnect the device (the stream fails, the "
                             "device is reported removed)",
                             FALSE, rw));
    g_object_class_install_property(
        gobject, PROP_SENT_LOCATION,
        g_param_spec_string("sent-location", "Sent location",
                            "File to which every byte the device sends is appended", "", rw));
    g_object_class_install_property(
        gobject, PROP_FRAMES_SENT,
        g_param_spec_uint64("frames-sent", "Frames sent", "Frames sent in this run", 0, G_MAXUINT64,
                            0,
                            static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    auto* element = GST_ELEMENT_CLASS(klass);
    element->change_state = changeState;
    gst_element_class_add_static_pad_template(element, &srcTemplate);
}

static void kad_virtual_src_init(KadVirtualSrc* self)
{
    auto* box = static_cast<PrivateBox*>(kad_virtual_src_get_instance_private(self));
    box->p = std::construct_at(reinterpret_cast<Private*>(box->storage));
    Private& p = *box->p;
    p.live = envLive();
    p.numBuffers = envNumBuffers();
    envDrop(p.settings);

    p.tap = KAD_VIRTUAL_TAP(g_object_new(KAD_TYPE_VIRTUAL_TAP, "name", "tap", nullptr));
    gst_bin_add(GST_BIN(self), GST_ELEMENT(p.tap));
    kad::GRef<GstPad> target(gst_element_get_static_pad(GST_ELEMENT(p.tap), "src"));
    GstPad* ghost = gst_ghost_pad_new_from_template(
        "src", target.get(),
        gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(self), "src"));
    gst_element_add_pad(GST_ELEMENT(self), ghost);
}

void kad_virtual_src_unplug(KadVirtualSrc* self)
{
    g_return_if_fail(KAD_IS_VIRTUAL_SRC(self));
    Private& p = priv(self);
    GST_OBJECT_LOCK(self);
    const bool already = p.unplugged;
    p.unplugged = true;
    const std::string path = p.devicePath;
    const std::string name = p.deviceName;
    GST_OBJECT_UNLOCK(self);
    if (already) return;
    GST_INFO_OBJECT(self, "unplugging %s", path.c_str());
    kad::virtualTapUnplug(p.tap, name);
    if (!path.empty()) kad::unplugVirtualDevice(path);
}

namespace kad {

KadVirtualTap* virtualSrcTap(KadVirtualSrc* self)
{
    return priv(self).tap;
}

VirtualTapSettings virtualSrcSettings(KadVirtualSrc* self)
{
    GST_OBJECT_LOCK(self);
    VirtualTapSettings settings = priv(self).settings;
    GST_OBJECT_UNLOCK(self);
    return settings;
}

void virtualSrcSetMissing(KadVirtualSrc* self, const char* elements)
{
    GST_OBJECT_LOCK(self);
    priv(self).missing = elements;
    GST_OBJECT_UNLOCK(self);
}

bool virtualSrcUnplugged(KadVirtualSrc* self)
{
    GST_OBJECT_LOCK(self);
    const bool unplugged = priv(self).unplugged;
    GST_OBJECT_UNLOCK(self);
    return unplugged;
}

void setVirtualDeviceOpening(const std::string& devicePath, int delayMs, bool fails)
{
    std::lock_guard lock(openingLock);
    if (delayMs <= 0 && !fails)
        openings().erase(devicePath);
    else
        openings()[devicePath] = Opening{delayMs, fails};
}

} // namespace kad
