#include "platform/media/element_catalogue.h"

#include "platform/media/gst_ptr.h"

namespace kad {

namespace {

struct Standin {
    const char* friendlyName;
    std::initializer_list<const char*> factories;
};

// Third-party filters Kadrillo knows by friendly name, and the GStreamer
// elements that do their work here.
const Standin kStandins[] = {
    {"Pinnacle Video Deinterlacer", {"deinterlace"}},
    {"Pinnacle MPEG 2 Decoder", {"mpeg2dec", "avdec_mpeg2video"}},
};

struct ClsidStandin {
    const char* clsid;
    std::initializer_list<const char*> factories;
};

const ClsidStandin kClsidStandins[] = {
    {kClsidCirrusSplitter, {"mpegpsdemux"}},
    {kClsidPinnacleDemux, {"mpegpsdemux"}},
    {kClsidMpeg2Demultiplexer, {"mpegpsdemux"}},
};

} // namespace

bool Installed(const char* factory)
{
    GRef<GstElementFactory> f(gst_element_factory_find(factory));
    return static_cast<bool>(f);
}

std::string FirstInstalled(std::initializer_list<const char*> factories)
{
    for (const char* f : factories)
        if (Installed(f)) return f;
    return {};
}

void SetPictureByPictureDecoding(GstElement* decoder)
{
    if (!decoder) return;
    GObjectClass* c = G_OBJECT_GET_CLASS(decoder);
    if (g_object_class_find_property(c, "thread-type"))
        gst_util_set_object_arg(G_OBJECT(decoder), "thread-type", "slice");
    if (g_object_class_find_property(c, "max-threads"))
        g_object_set(decoder, "max-threads", 1, NULL);
}

std::vector<TfilterEntry> EnumerateFilters()
{
    std::vector<TfilterEntry> entries;
    GList* features = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_ELEMENT_FACTORY);
    for (GList* l = features; l; l = l->next) {
        auto* factory = GST_ELEMENT_FACTORY(l->data);
        const char* longName =
            gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
        if (longName) entries.push_back({QString::fromUtf8(longName), GST_OBJECT_NAME(factory)});
    }
    gst_plugin_feature_list_free(features);
    for (const Standin& s : kStandins) {
        const std::string factory = FirstInstalled(s.factories);
        if (!factory.empty()) entries.push_back({QString::fromUtf8(s.friendlyName), factory});
    }
    return entries;
}

std::optional<std::string> FindFilterByName(const QString& name)
{
    const std::vector<TfilterEntry> entries = EnumerateFilters();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (it->FriendlyName.compare(name, Qt::CaseInsensitive) == 0) return it->Factory;
    return std::nullopt;
}

std::optional<std::string> FindFilterByClsid(const QString& clsid)
{
    for (const ClsidStandin& s : kClsidStandins) {
        if (clsid.compare(QLatin1String(s.clsid), Qt::CaseInsensitive) != 0) continue;
        const std::string factory = FirstInstalled(s.factories);
        if (!factory.empty()) return factory;
    }
    return std::nullopt;
}

GstElement* MakeAudioOutput()
{
    // autoaudiosink finding no working output settles on a fake sink of its
    // own, after trying every output again each time it is readied (some
    // milliseconds of the GUI thread at each preview built): that counts as
    // no sound.
    static const bool haveSound = [] {
        ElementRef probe = ElementRef::sink(gst_element_factory_make("autoaudiosink", nullptr));
        if (!probe) return false;
        bool ok = gst_element_set_state(probe.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
        if (ok && GST_IS_BIN(probe.get())) {
            GstIterator* it = gst_bin_iterate_elements(GST_BIN(probe.get()));
            GValue item = G_VALUE_INIT;
            while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
                GstElementFactory* f =
                    gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
                if (f && g_str_has_prefix(GST_OBJECT_NAME(f), "fake")) ok = false;
                g_value_reset(&item);
            }
            g_value_unset(&item);
            gst_iterator_free(it);
        }
        gst_element_set_state(probe.get(), GST_STATE_NULL);
        return ok;
    }();
    if (haveSound) return gst_element_factory_make("autoaudiosink", nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", TRUE, NULL);
    return sink;
}

} // namespace kad
