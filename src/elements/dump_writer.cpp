#include "elements/dump_writer.h"

#include <glib/gstdio.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(kad_dump_writer_debug);
#define GST_CAT_DEFAULT kad_dump_writer_debug

namespace {

// Streaming-thread state of the writer.
struct DumpState {
    int fd = -1;
    std::string path;
    guint64 bytes = 0;
    bool programStream = false;
    bool failed = false;
    // Up to three bytes held back while a switch waits for a pack header, so
    // that a start code split between two buffers is still found.
    std::vector<guint8> held;

    ~DumpState() { closeFd(); }

    bool open(const std::string& p)
    {
        closeFd();
        fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        path = p;
        bytes = 0;
        return true;
    }

    bool write(const guint8* data, gsize size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = EIO;
                return false;
            }
            bytes += guint64(n);
            data += n;
            size -= gsize(n);
        }
        return true;
    }

    bool closeFd()
    {
        if (fd < 0) return true;
        const bool ok = close(fd) == 0;
        fd = -1;
        return ok;
    }
};

constexpr guint8 kPackStart[4] = {0x00, 0x00, 0x01, 0xBA};

// Position of the first pack header in data, or size when there is none.
gsize findPackStart(const guint8* data, gsize size)
{
    for (gsize i = 0; i + 4 <= size; ++i) {
        if (data[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xBA) return i;
    }
    return size;
}

} // namespace

struct _KadDumpWriter {
    GstBaseSink parent;

    // Guarded by the object lock.
    gchar* location;
    gchar* nextLocation;
    guint64 bytesWritten;

    // Streaming thread (and start/stop) only.
    std::unique_ptr<DumpState> state;
};

enum {
    PROP_0,
    PROP_LOCATION,
    PROP_NEXT_LOCATION,
    PROP_BYTES_WRITTEN,
};

G_DEFINE_TYPE(KadDumpWriter, kad_dump_writer, GST_TYPE_BASE_SINK)

static GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

namespace {

void postWriteError(KadDumpWriter* self, int err, const std::string& path)
{
    if (err == ENOSPC || err == EFBIG || err == EDQUOT) {
        GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT,
                          ("The disk is full: the capture was stopped and the file written "
                           "so far was kept."),
                          ("writing %s failed: %s", path.c_str(), g_strerror(err)));
    } else {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE,
                          ("The capture file could not be written: the capture was stopped "
                           "and the file written so far was kept."),
                          ("writing %s failed: %s", path.c_str(), g_strerror(err)));
    }
}

bool openFile(KadDumpWriter* self, const gchar* path)
{
    if (!self->state->open(path)) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                          ("The capture file \"%s\" could not be created.", path),
                          ("open: %s", g_strerror(errno)));
        return false;
    }
    return true;
}

bool writeOrFail(KadDumpWriter* self, const guint8* data, gsize size)
{
    DumpState& st = *self->state;
    if (st.write(data, size)) return true;
    postWriteError(self, errno, st.path);
    st.closeFd();
    st.failed = true;
    return false;
}

void publishBytes(KadDumpWriter* self)
{
    GST_OBJECT_LOCK(self);
    self->bytesWritten = self->state->bytes;
    GST_OBJECT_UNLOCK(self);
}

// Ends the current file and continues into `next`.
bool switchTo(KadDumpWriter* self, const gchar* next)
{
    DumpState& st = *self->state;
    const std::string old = st.path;
    const guint64 bytes = st.bytes;
    if (!st.closeFd()) GST_WARNING_OBJECT(self, "closing %s: %s", old.c_str(), g_strerror(errno));
    if (!openFile(self, next)) {
        st.failed = true;
        return false;
    }
    GST_OBJECT_LOCK(self);
    g_free(self->location);
    self->location = g_strdup(next);
    GST_OBJECT_UNLOCK(self);
    gst_element_post_message(
        GST_ELEMENT(self),
        gst_message_new_element(
            GST_OBJECT(self), gst_structure_new("kad-file-switched", "old-location", G_TYPE_STRING,
                                                old.c_str(), "new-location", G_TYPE_STRING, next,
                                                "bytes", G_TYPE_UINT64, bytes, nullptr)));
    return true;
}

bool flushHeld(KadDumpWriter* self)
{
    DumpState& st = *self->state;
    if (st.held.empty() || st.fd < 0) return true;
    std::vector<guint8> held = std::move(st.held);
    st.held.clear();
    return writeOrFail(self, held.data(), held.size());
}

} // namespace

static void kad_dump_writer_set_property(GObject* object, guint id, const GValue* value,
                                         GParamSpec* pspec)
{
    auto* self = KAD_DUMP_WRITER(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LOCATION:
        if (GST_STATE(self) > GST_STATE_READY) {
            GST_WARNING_OBJECT(self,
                               "location can only change in NULL or READY; use next-location");
        } else {
            g_free(self->location);
            self->location = g_value_dup_string(value);
        }
        break;
    case PROP_NEXT_LOCATION:
        g_free(self->nextLocation);
        self->nextLocation = g_value_dup_string(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void kad_dump_writer_get_property(GObject* object, guint id, GValue* value,
                                         GParamSpec* pspec)
{
    auto* self = KAD_DUMP_WRITER(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LOCATION:
        g_value_set_string(value, self->location);
        break;
    case PROP_NEXT_LOCATION:
        g_value_set_string(value, self->nextLocation);
        break;
    case PROP_BYTES_WRITTEN:
        g_value_set_uint64(value, self->bytesWritten);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static gboolean kad_dump_writer_start(GstBaseSink* sink)
{
    auto* self = KAD_DUMP_WRITER(sink);
    GST_OBJECT_LOCK(self);
    gchar* path = g_strdup(self->location);
    g_clear_pointer(&self->nextLocation, g_free);
    self->bytesWritten = 0;
    GST_OBJECT_UNLOCK(self);
    self->state->failed = false;
    self->state->held.clear();
    bool ok = false;
    if (!path || !*path) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No file name was given for the capture."),
                          ("the location property is empty"));
    } else {
        ok = openFile(self, path);
    }
    g_free(path);
    return ok;
}

static gboolean kad_dump_writer_stop(GstBaseSink* sink)
{
    auto* self = KAD_DUMP_WRITER(sink);
    flushHeld(self);
    if (!self->state->closeFd())
        GST_WARNING_OBJECT(self, "closing %s: %s", self->state->path.c_str(), g_strerror(errno));
    return TRUE;
}

static gboolean kad_dump_writer_set_caps(GstBaseSink* sink, GstCaps* caps)
{
    auto* self = KAD_DUMP_WRITER(sink);
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    gboolean system = FALSE;
    self->state->programStream = gst_structure_has_name(s, "video/mpeg") &&
                                 gst_structure_get_boolean(s, "systemstream", &system) && system;
    return TRUE;
}

static GstFlowReturn kad_dump_writer_render(GstBaseSink* sink, GstBuffer* buffer)
{
    auto* self = KAD_DUMP_WRITER(sink);
    DumpState& st = *self->state;
    if (st.failed) return GST_FLOW_ERROR;

    GST_OBJECT_LOCK(self);
    gchar* next = self->nextLocation ? g_strdup(self->nextLocation) : nullptr;
    GST_OBJECT_UNLOCK(self);

    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        g_free(next);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("The stream could not be read."),
                          ("gst_buffer_map failed"));
        return GST_FLOW_ERROR;
    }
    bool ok = true;
    if (!next) {
        ok = flushHeld(self) && writeOrFail(self, map.data, map.size);
    } else if (!st.programStream) {
        ok = switchTo(self, next) && writeOrFail(self, map.data, map.size);
    } else {
        std::vector<guint8> work = std::move(st.held);
        st.held.clear();
        work.insert(work.end(), map.data, map.data + map.size);
        const gsize cut = findPackStart(work.data(), work.size());
        if (cut < work.size()) {
            ok = writeOrFail(self, work.data(), cut) && switchTo(self, next) &&
                 writeOrFail(self, work.data() + cut, work.size() - cut);
        } else {
            const gsize keep = std::min<gsize>(3, work.size());
            ok = writeOrFail(self, work.data(), work.size() - keep);
            st.held.assign(work.end() - keep, work.end());
            g_clear_pointer(&next, g_free);
        }
    }
    gst_buffer_unmap(buffer, &map);
    if (next) {
        // The switch was made (or failed): forget the request unless a newer
        // one came in meanwhile.
        GST_OBJECT_LOCK(self);
        if (g_strcmp0(self->nextLocation, next) == 0) g_clear_pointer(&self->nextLocation, g_free);
        GST_OBJECT_UNLOCK(self);
        g_free(next);
    }
    publishBytes(self);
    return ok ? GST_FLOW_OK : GST_FLOW_ERROR;
}

static gboolean kad_dump_writer_event(GstBaseSink* sink, GstEvent* event)
{
    auto* self = KAD_DUMP_WRITER(sink);
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && !self->state->failed) {
        flushHeld(self);
        if (self->state->fd >= 0 && fsync(self->state->fd) != 0 && errno != EINVAL)
            GST_WARNING_OBJECT(self, "fsync %s: %s", self->state->path.c_str(), g_strerror(errno));
        publishBytes(self);
    }
    return GST_BASE_SINK_CLASS(kad_dump_writer_parent_class)->event(sink, event);
}

static void kad_dump_writer_finalize(GObject* object)
{
    auto* self = KAD_DUMP_WRITER(object);
    std::destroy_at(&self->state);
    g_free(self->location);
    g_free(self->nextLocation);
    G_OBJECT_CLASS(kad_dump_writer_parent_class)->finalize(object);
}

static void kad_dump_writer_class_init(KadDumpWriterClass* klass)
{
    auto* gobject = G_OBJECT_CLASS(klass);
    auto* element = GST_ELEMENT_CLASS(klass);
    auto* base = GST_BASE_SINK_CLASS(klass);
    gobject->set_property = kad_dump_writer_set_property;
    gobject->get_property = kad_dump_writer_get_property;
    gobject->finalize = kad_dump_writer_finalize;

    g_object_class_install_property(
        gobject, PROP_LOCATION,
        g_param_spec_string("location", "File location", "The file to write the stream to", nullptr,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_NEXT_LOCATION,
        g_param_spec_string("next-location", "Next file location",
                            "File to continue into at the next buffer or pack boundary", nullptr,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_BYTES_WRITTEN,
        g_param_spec_uint64("bytes-written", "Bytes written", "Bytes written to the current file",
                            0, G_MAXUINT64, 0,
                            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_set_static_metadata(element, "Dump", "Sink/File",
                                          "Writes the stream to a file exactly as received",
                                          "Kadrillo");
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    base->start = kad_dump_writer_start;
    base->stop = kad_dump_writer_stop;
    base->set_caps = kad_dump_writer_set_caps;
    base->render = kad_dump_writer_render;
    base->event = kad_dump_writer_event;
}

static void kad_dump_writer_init(KadDumpWriter* self)
{
    std::construct_at(&self->state, std::make_unique<DumpState>());
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}

gboolean kad_dump_writer_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_dump_writer_debug, "kaddump", 0, "Kadrillo Dump writer");
    return gst_element_register(plugin, "kaddump", GST_RANK_NONE, KAD_TYPE_DUMP_WRITER);
}
