#include "platform/media/beeps.h"

#include <QFile>

#include <gst/app/gstappsrc.h>

#include <cstring>
#include <mutex>

#include "platform/media/gst_ptr.h"

// The resources live in the static core library; nothing there references
// them, so the linker keeps them only when someone asks for them by name.
static void initCoreResources()
{
    Q_INIT_RESOURCE(core);
}

namespace kad {

namespace {

// A beep lasts about 60 ms; a sink that has not finished long after that is
// stuck, and the GUI must not wait for it forever.
constexpr GstClockTime kPlaybackLimit = 3 * GST_SECOND;

// autoaudiosink always reaches READY: when no real sink opens, it holds a
// fakesink instead.
bool holdsOnlyFakeSink(GstElement* sink)
{
    if (!GST_IS_BIN(sink)) return false;
    bool fake = false;
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK: {
            auto* child = GST_ELEMENT(g_value_get_object(&item));
            GstElementFactory* factory = gst_element_get_factory(child);
            if (factory && std::strcmp(GST_OBJECT_NAME(factory), "fakesink") == 0) fake = true;
            g_value_reset(&item);
            break;
        }
        case GST_ITERATOR_RESYNC:
            gst_iterator_resync(it);
            fake = false;
            break;
        case GST_ITERATOR_ERROR:
        case GST_ITERATOR_DONE:
            done = true;
            break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return fake;
}

// Stops the pipeline whatever way playback ends.
struct PipelineStopper {
    GstElement* pipeline;
    ~PipelineStopper() { gst_element_set_state(pipeline, GST_STATE_NULL); }
};

} // namespace

QByteArray BeepResource(int index)
{
    static std::once_flag once;
    std::call_once(once, initCoreResources);
    if (index != 0 && index != 1) return {};
    QFile file(index == 0 ? QStringLiteral(":/sounds/BEEP0.wav")
                          : QStringLiteral(":/sounds/BEEP1.wav"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

BeepResult PlayBeep(int index, const char* sinkFactory)
{
    const QByteArray wav = BeepResource(index);
    if (wav.isEmpty()) return BeepResult::Failed;

    ElementRef sink = ElementRef::sink(gst_element_factory_make(sinkFactory, nullptr));
    if (!sink) return BeepResult::NoSoundOutput;
    if (gst_element_set_state(sink.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE ||
        holdsOnlyFakeSink(sink.get())) {
        gst_element_set_state(sink.get(), GST_STATE_NULL);
        return BeepResult::NoSoundOutput;
    }

    ElementRef pipeline = ElementRef::sink(gst_pipeline_new("kadrillo-beep"));
    GstElement* source = gst_element_factory_make("appsrc", nullptr);
    GstElement* parse = gst_element_factory_make("wavparse", nullptr);
    GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
    GstElement* resample = gst_element_factory_make("audioresample", nullptr);
    if (!pipeline || !source || !parse || !convert || !resample) {
        for (GstElement* e : {source, parse, convert, resample})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        gst_element_set_state(sink.get(), GST_STATE_NULL);
        return BeepResult::Failed;
    }
    gst_bin_add_many(GST_BIN(pipeline.get()), source, parse, convert, resample,
                     GST_ELEMENT(gst_object_ref(sink.get())), nullptr);
    PipelineStopper stopper{pipeline.get()};
    if (!gst_element_link_many(source, parse, convert, resample, sink.get(), nullptr))
        return BeepResult::Failed;

    CapsRef caps(gst_caps_new_empty_simple("audio/x-wav"));
    g_object_set(source, "caps", caps.get(), "format", GST_FORMAT_BYTES, nullptr);
    GstBuffer* buffer = gst_buffer_new_memdup(wav.constData(), static_cast<gsize>(wav.size()));
    if (gst_app_src_push_buffer(GST_APP_SRC(source), buffer) != GST_FLOW_OK)
        return BeepResult::Failed;
    gst_app_src_end_of_stream(GST_APP_SRC(source));

    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return BeepResult::Failed;
    BusRef bus(gst_element_get_bus(pipeline.get()));
    MessageRef message(gst_bus_timed_pop_filtered(
        bus.get(), kPlaybackLimit,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    if (!message || GST_MESSAGE_TYPE(message.get()) != GST_MESSAGE_EOS) return BeepResult::Failed;
    return BeepResult::Played;
}

BeepResult PlayBeep0()
{
    return PlayBeep(0);
}

BeepResult PlayBeep1()
{
    return PlayBeep(1);
}

} // namespace kad
