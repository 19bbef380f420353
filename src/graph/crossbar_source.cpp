#include "graph/crossbar_source.h"

#include "graph/crossbar_v4l2.h"
#include "graph/crossbar_webcam.h"
#include "platform/media/gst_ptr.h"

namespace kad {

namespace {

bool isV4l2Source(GstElement* element)
{
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory && g_strcmp0(GST_OBJECT_NAME(factory), "v4l2src") == 0;
}

// The v4l2src itself, or the first one inside a bin.
ElementRef findV4l2Source(GstElement* source)
{
    if (isV4l2Source(source)) return ElementRef::ref(source);
    if (!GST_IS_BIN(source)) return {};
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(source));
    ElementRef found;
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK: {
            auto* element = GST_ELEMENT(g_value_get_object(&item));
            if (isV4l2Source(element)) {
                found = ElementRef::ref(element);
                done = true;
            }
            g_value_reset(&item);
            break;
        }
        case GST_ITERATOR_RESYNC:
            gst_iterator_resync(it);
            break;
        default:
            done = true;
            break;
        }
    }
    if (G_IS_VALUE(&item)) g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

} // namespace

ElementRef V4l2SourceOf(GstElement* source)
{
    return source ? findV4l2Source(source) : ElementRef{};
}

CrossbarUpstream CaptureUpstreamOf(GstElement* source)
{
    if (!source) return {};
    if (WebcamCrossbar::Handles(source))
        return CrossbarUpstream::OutputOf(std::make_shared<WebcamCrossbar>(source), 0);
    ElementRef v4l2 = findV4l2Source(source);
    if (!v4l2) return {};
    gchar* device = nullptr;
    g_object_get(v4l2.get(), "device", &device, nullptr);
    GCharPtr path(device);
    return path ? V4l2CaptureUpstream(path.get()) : CrossbarUpstream{};
}

} // namespace kad
