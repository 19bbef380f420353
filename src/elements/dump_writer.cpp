#include "elements/dump_writer.h"

#include "elements/file_writer.h"
#include "platform/media/gst_ptr.h"

#include <glib/gstdio.h>

#include <algorithm>
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

namespace fw = kad::filewriter;

// Streaming-thread state of the writer.
struct DumpState {
    // fd and path change under the writer's file lock too, which the syncer
    // takes to borrow them.
    int fd = -1;
    std::string path;
    guint64 bytes = 0;
    // Bytes written since the last sync (under the file lock).
    bool unsynced = false;
    bool programStream = false;
    bool failed = false;
    // Up to three bytes held back while a switch waits for a pack header, so
    // that a start code split between two buffers is still found.
    std::vector<guint8> held;
    fw::Syncer syncer;

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
            unsynced = true;
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
    kad::filewriter::Locations props;
    guint64 bytesWritten;

    // Streaming thread (and start/stop) only; the descriptor and path also
    // under fileLock, which the syncer takes to borrow them.
    std::unique_ptr<DumpState> state;

    // The syncer (state->syncer): a thread of its own, so what was written
    // reaches the disk even while no buffer comes (a stopped tape). fileLock
    // guards state->fd, state->path, state->unsynced and the syncer.
    GMutex fileLock;
    GCond wake;
};

enum {
    PROP_0,
    PROP_LOCATION,
    PROP_NEXT_LOCATION,
    PROP_BYTES_WRITTEN,
    PROP_SYNC_INTERVAL,
};

constexpr kad::filewriter::PropertyIds kPropertyIds{PROP_LOCATION, PROP_NEXT_LOCATION,
                                                    PROP_SYNC_INTERVAL};

G_DEFINE_TYPE(KadDumpWriter, kad_dump_writer, GST_TYPE_BASE_SINK)

static GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

namespace {

bool openFile(KadDumpWriter* self, const gchar* path)
{
    g_mutex_lock(&self->fileLock);
    const bool opened = self->state->open(path);
    const int err = errno;
    g_mutex_unlock(&self->fileLock);
    errno = err;
    if (!opened) {
        fw::postOpenError(GST_ELEMENT(self), path, err);
        return false;
    }
    return true;
}

bool closeFile(KadDumpWriter* self)
{
    g_mutex_lock(&self->fileLock);
    const bool ok = self->state->closeFd();
    const int err = errno;
    g_mutex_unlock(&self->fileLock);
    errno = err;
    return ok;
}

// The file is opened with the first data, so a writer that never receives
// any (a capture stopped or given up before its first buffer) leaves no
// empty file behind.
bool ensureOpen(KadDumpWriter* self)
{
    DumpState& st = *self->state;
    if (st.fd >= 0) return true;
    const std::string path = fw::currentLocation(GST_ELEMENT(self), self->props);
    if (!openFile(self, path.c_str())) {
        st.failed = true;
        return false;
    }
    return true;
}

bool writeOrFail(KadDumpWriter* self, const guint8* data, gsize size)
{
    DumpState& st = *self->state;
    if (!ensureOpen(self)) return false;
    g_mutex_lock(&self->fileLock);
    const bool written = st.write(data, size);
    const int err = errno;
    g_mutex_unlock(&self->fileLock);
    if (written) return true;
    fw::postWriteError(GST_ELEMENT(self), err, st.path);
    closeFile(self);
    st.failed = true;
    return false;
}

void publishBytes(KadDumpWriter* self)
{
    GST_OBJECT_LOCK(self);
    self->bytesWritten = self->state->bytes;
    GST_OBJECT_UNLOCK(self);
}

// Ends the current file and continues into `next`. A file that received
// nothing yet was never made: the writer simply starts with `next`.
bool switchTo(KadDumpWriter* self, const gchar* next)
{
    DumpState& st = *self->state;
    std::string old = st.path;
    const guint64 bytes = st.fd >= 0 ? st.bytes : 0;
    if (st.fd < 0) old = fw::currentLocation(GST_ELEMENT(self), self->props);
    if (!closeFile(self))
        GST_WARNING_OBJECT(self, "closing %s: %s", old.c_str(), g_strerror(errno));
    if (!openFile(self, next)) {
        st.failed = true;
        return false;
    }
    fw::setLocation(GST_ELEMENT(self), self->props, next);
    fw::postSwitched(GST_ELEMENT(self), old, next, "bytes", bytes, nullptr);
    return true;
}

bool flushHeld(KadDumpWriter* self)
{
    DumpState& st = *self->state;
    if (st.held.empty() || st.failed) return true;
    std::vector<guint8> held = std::move(st.held);
    st.held.clear();
    return writeOrFail(self, held.data(), held.size());
}

// Every sync interval, what was written reaches the disk: the descriptor is
// borrowed (dup) under the file lock and synced without it, so the
// streaming thread never waits for the disk. Runs with fileLock held.
void syncTick(gpointer data)
{
    auto* self = static_cast<KadDumpWriter*>(data);
    DumpState& st = *self->state;
    if (st.fd < 0 || !st.unsynced) return;
    const int fd = dup(st.fd);
    const std::string path = st.path;
    const guint64 bytes = st.bytes;
    st.unsynced = false;
    g_mutex_unlock(&self->fileLock);
    bool synced = false;
    if (fd >= 0) {
        synced = fdatasync(fd) == 0 || errno == EINVAL;
        if (!synced) GST_WARNING_OBJECT(self, "fdatasync %s: %s", path.c_str(), g_strerror(errno));
        close(fd);
    }
    if (synced) fw::postSynced(GST_ELEMENT(self), path, "bytes", bytes);
    g_mutex_lock(&self->fileLock);
}

bool startSyncer(KadDumpWriter* self, guint64 interval)
{
    if (interval == 0) return true;
    g_mutex_lock(&self->fileLock);
    self->state->syncer.arm(gint64(interval / GST_USECOND));
    g_mutex_unlock(&self->fileLock);
    return self->state->syncer.start(GST_ELEMENT(self), "kaddumpsync");
}

} // namespace

static void kad_dump_writer_set_property(GObject* object, guint id, const GValue* value,
                                         GParamSpec* pspec)
{
    auto* self = KAD_DUMP_WRITER(object);
    GST_OBJECT_LOCK(self);
    if (!fw::setProperty(GST_ELEMENT(self), self->props, kPropertyIds, id, value))
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    GST_OBJECT_UNLOCK(self);
}

static void kad_dump_writer_get_property(GObject* object, guint id, GValue* value,
                                         GParamSpec* pspec)
{
    auto* self = KAD_DUMP_WRITER(object);
    GST_OBJECT_LOCK(self);
    if (id == PROP_BYTES_WRITTEN)
        g_value_set_uint64(value, self->bytesWritten);
    else if (!fw::getProperty(self->props, kPropertyIds, id, value))
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    GST_OBJECT_UNLOCK(self);
}

static gboolean kad_dump_writer_start(GstBaseSink* sink)
{
    auto* self = KAD_DUMP_WRITER(sink);
    fw::StartValues start;
    const bool named = fw::takeStartValues(GST_ELEMENT(self), self->props, start);
    GST_OBJECT_LOCK(self);
    self->bytesWritten = 0;
    GST_OBJECT_UNLOCK(self);
    self->state->failed = false;
    self->state->held.clear();
    self->state->bytes = 0;
    if (!named) return FALSE;
    return startSyncer(self, start.syncInterval);
}

static gboolean kad_dump_writer_stop(GstBaseSink* sink)
{
    auto* self = KAD_DUMP_WRITER(sink);
    self->state->syncer.stop();
    flushHeld(self);
    if (!closeFile(self))
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
    gchar* next = g_strdup(self->props.nextLocation);
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
    } else if (!st.programStream || (st.fd < 0 && st.held.empty())) {
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
        if (g_strcmp0(self->props.nextLocation, next) == 0)
            g_clear_pointer(&self->props.nextLocation, g_free);
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
    g_mutex_clear(&self->fileLock);
    g_cond_clear(&self->wake);
    fw::clearLocations(self->props);
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

    fw::installLocation(gobject, PROP_LOCATION, "The file to write the stream to");
    fw::installNextLocation(gobject, PROP_NEXT_LOCATION,
                            "File to continue into at the next buffer or pack boundary");
    g_object_class_install_property(
        gobject, PROP_BYTES_WRITTEN,
        g_param_spec_uint64("bytes-written", "Bytes written", "Bytes written to the current file",
                            0, G_MAXUINT64, 0,
                            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    fw::installSyncInterval(gobject, PROP_SYNC_INTERVAL,
                            "Longest time in nanoseconds before what was written is synced to the "
                            "disk (0 = only when the stream ends)");

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
    g_mutex_init(&self->fileLock);
    g_cond_init(&self->wake);
    self->state->syncer.bind(&self->fileLock, &self->wake, syncTick, self);
    fw::initLocations(self->props);
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}

gboolean kad_dump_writer_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_dump_writer_debug, "kaddump", 0, "Kadrillo Dump writer");
    return gst_element_register(plugin, "kaddump", GST_RANK_NONE, KAD_TYPE_DUMP_WRITER);
}
