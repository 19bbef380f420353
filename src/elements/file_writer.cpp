#include "elements/file_writer.h"

#include "elements/avi_file.h"

#include <algorithm>
#include <cerrno>
#include <utility>

GST_DEBUG_CATEGORY_STATIC(kad_file_writer_debug);
#define GST_CAT_DEFAULT kad_file_writer_debug

namespace kad::filewriter {

namespace {

void ensureCategory()
{
    static gsize done = 0;
    if (g_once_init_enter(&done)) {
        GST_DEBUG_CATEGORY_INIT(kad_file_writer_debug, "kadfilewriter", 0, "Kadrillo file writers");
        g_once_init_leave(&done, 1);
    }
}

constexpr GParamFlags kReadWrite = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);

} // namespace

void initLocations(Locations& l)
{
    ensureCategory();
    l.location = nullptr;
    l.nextLocation = nullptr;
    l.syncInterval = kDefaultSyncInterval;
}

void clearLocations(Locations& l)
{
    g_clear_pointer(&l.location, g_free);
    g_clear_pointer(&l.nextLocation, g_free);
}

void installLocation(GObjectClass* klass, guint id, const char* blurb)
{
    g_object_class_install_property(
        klass, id, g_param_spec_string("location", "File location", blurb, nullptr, kReadWrite));
}

void installNextLocation(GObjectClass* klass, guint id, const char* blurb)
{
    g_object_class_install_property(
        klass, id,
        g_param_spec_string("next-location", "Next file location", blurb, nullptr, kReadWrite));
}

void installSyncInterval(GObjectClass* klass, guint id, const char* blurb)
{
    g_object_class_install_property(klass, id,
                                    g_param_spec_uint64("sync-interval", "Sync interval", blurb, 0,
                                                        G_MAXUINT64, kDefaultSyncInterval,
                                                        kReadWrite));
}

void installTakeNextLocation(GObjectClass* klass, GCallback handler)
{
    g_signal_new_class_handler("take-next-location", G_TYPE_FROM_CLASS(klass),
                               GSignalFlags(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION), handler, nullptr,
                               nullptr, nullptr, G_TYPE_STRING, 0);
}

bool setProperty(GstElement* owner, Locations& l, const PropertyIds& ids, guint id,
                 const GValue* value)
{
    if (id == ids.location) {
        if (GST_STATE(owner) > GST_STATE_READY) {
            GST_WARNING_OBJECT(owner,
                               "location can only change in NULL or READY; use next-location");
        } else {
            g_free(l.location);
            l.location = g_value_dup_string(value);
        }
    } else if (id == ids.nextLocation) {
        g_free(l.nextLocation);
        l.nextLocation = g_value_dup_string(value);
    } else if (id == ids.syncInterval) {
        const guint64 v = g_value_get_uint64(value);
        l.syncInterval = v == 0 ? 0 : std::max(v, kMinSyncInterval);
    } else {
        return false;
    }
    return true;
}

bool getProperty(const Locations& l, const PropertyIds& ids, guint id, GValue* value)
{
    if (id == ids.location)
        g_value_set_string(value, l.location);
    else if (id == ids.nextLocation)
        g_value_set_string(value, l.nextLocation);
    else if (id == ids.syncInterval)
        g_value_set_uint64(value, l.syncInterval);
    else
        return false;
    return true;
}

void initRecordingProps(RecordingProps& r)
{
    r.riffLimit = AviFile::kDefaultRiffLimit;
    r.splitRecordings = FALSE;
    r.splitLocation = nullptr;
    r.dateNameRoot = nullptr;
}

void clearRecordingProps(RecordingProps& r)
{
    g_clear_pointer(&r.splitLocation, g_free);
    g_clear_pointer(&r.dateNameRoot, g_free);
}

void installRiffLimit(GObjectClass* klass, guint id)
{
    g_object_class_install_property(
        klass, id,
        g_param_spec_uint64("riff-limit", "RIFF chunk limit",
                            "Largest size in bytes of one RIFF chunk of the file",
                            AviFile::kMinRiffLimit, AviFile::kHardRiffLimit,
                            AviFile::kDefaultRiffLimit, kReadWrite));
}

void installSplitRecordings(GObjectClass* klass, guint id, const char* blurb)
{
    g_object_class_install_property(klass, id,
                                    g_param_spec_boolean("split-recordings",
                                                         "Split at each recording", blurb, FALSE,
                                                         kReadWrite));
}

void installSplitLocation(GObjectClass* klass, guint id)
{
    g_object_class_install_property(
        klass, id,
        g_param_spec_string("split-location", "File of the next recording",
                            "File the next new recording goes into (cleared when used; without "
                            "one, the number after the last numbered name); existing files are "
                            "passed over",
                            nullptr, kReadWrite));
}

void installDateNameRoot(GObjectClass* klass, guint id, const char* blurb)
{
    g_object_class_install_property(klass, id,
                                    g_param_spec_string("date-name-root",
                                                        "Root of names by recording date", blurb,
                                                        nullptr, kReadWrite));
}

bool setRecordingProperty(RecordingProps& r, const RecordingPropertyIds& ids, guint id,
                          const GValue* value)
{
    if (id == ids.riffLimit) {
        r.riffLimit = g_value_get_uint64(value);
    } else if (id == ids.splitRecordings) {
        r.splitRecordings = g_value_get_boolean(value);
    } else if (id == ids.splitLocation) {
        g_free(r.splitLocation);
        r.splitLocation = g_value_dup_string(value);
    } else if (id == ids.dateNameRoot) {
        g_free(r.dateNameRoot);
        r.dateNameRoot = g_value_dup_string(value);
    } else {
        return false;
    }
    return true;
}

bool getRecordingProperty(const RecordingProps& r, const RecordingPropertyIds& ids, guint id,
                          GValue* value)
{
    if (id == ids.riffLimit)
        g_value_set_uint64(value, r.riffLimit);
    else if (id == ids.splitRecordings)
        g_value_set_boolean(value, r.splitRecordings);
    else if (id == ids.splitLocation)
        g_value_set_string(value, r.splitLocation);
    else if (id == ids.dateNameRoot)
        g_value_set_string(value, r.dateNameRoot);
    else
        return false;
    return true;
}

gchar* takeNextLocation(GstElement* owner, Locations& l)
{
    GST_OBJECT_LOCK(owner);
    gchar* next = std::exchange(l.nextLocation, nullptr);
    GST_OBJECT_UNLOCK(owner);
    return next;
}

std::string currentLocation(GstElement* owner, const Locations& l)
{
    GST_OBJECT_LOCK(owner);
    std::string path = l.location ? l.location : "";
    GST_OBJECT_UNLOCK(owner);
    return path;
}

void setLocation(GstElement* owner, Locations& l, const std::string& path)
{
    GST_OBJECT_LOCK(owner);
    g_free(l.location);
    l.location = g_strdup(path.c_str());
    GST_OBJECT_UNLOCK(owner);
}

bool takeStartValues(GstElement* owner, Locations& l, StartValues& out)
{
    GST_OBJECT_LOCK(owner);
    out.location = l.location ? l.location : "";
    out.syncInterval = l.syncInterval;
    g_clear_pointer(&l.nextLocation, g_free);
    GST_OBJECT_UNLOCK(owner);
    if (!out.location.empty()) return true;
    GST_ELEMENT_ERROR(owner, RESOURCE, NOT_FOUND, ("No file name was given for the capture."),
                      ("the location property is empty"));
    return false;
}

void postOpenError(GstElement* owner, const std::string& path, int err)
{
    GST_ELEMENT_ERROR(owner, RESOURCE, OPEN_WRITE,
                      ("The capture file \"%s\" could not be created.", path.c_str()),
                      ("open: %s", g_strerror(err)));
}

void postWriteError(GstElement* owner, int err, const std::string& path)
{
    if (err == ENOSPC || err == EFBIG || err == EDQUOT) {
        GST_ELEMENT_ERROR(owner, RESOURCE, NO_SPACE_LEFT,
                          ("The disk is full: the capture was stopped and the file written "
                           "so far was kept."),
                          ("writing %s failed: %s", path.c_str(), g_strerror(err)));
    } else {
        GST_ELEMENT_ERROR(owner, RESOURCE, WRITE,
                          ("The capture file could not be written: the capture was stopped "
                           "and the file written so far was kept."),
                          ("writing %s failed: %s", path.c_str(), g_strerror(err)));
    }
}

void warnSameFile(GstElement* owner, const std::string& path)
{
    GST_ELEMENT_WARNING(owner, RESOURCE, OPEN_WRITE,
                        ("The capture is already being written to \"%s\"; it goes on there "
                         "without a cut.",
                         path.c_str()),
                        ("next-location is the open file"));
}

void warnFinaliseFailed(GstElement* owner, const std::string& path, int err)
{
    GST_ELEMENT_WARNING(owner, RESOURCE, WRITE,
                        ("The end of the capture file could not be completed."),
                        ("finalising %s: %s", path.c_str(), g_strerror(err)));
}

void warnNoFreeName(GstElement* owner, const std::string& after)
{
    GST_ELEMENT_WARNING(owner, RESOURCE, OPEN_WRITE,
                        ("No free file name was found for the new recording; it goes on in "
                         "the current file."),
                        ("every name after %s is taken", after.c_str()));
}

void warnRenameFailed(GstElement* owner, const std::string& path, int err)
{
    GST_ELEMENT_WARNING(owner, RESOURCE, WRITE,
                        ("The capture file could not be named after its recording date; it "
                         "keeps its name."),
                        ("renaming %s: %s", path.c_str(), g_strerror(err)));
}

void postSwitched(GstElement* owner, const std::string& oldPath, const std::string& newPath,
                  const char* countField, guint64 count, const char* reason)
{
    GstStructure* s = gst_structure_new(kFileSwitched, "old-location", G_TYPE_STRING,
                                        oldPath.c_str(), "new-location", G_TYPE_STRING,
                                        newPath.c_str(), countField, G_TYPE_UINT64, count, nullptr);
    if (reason) gst_structure_set(s, "reason", G_TYPE_STRING, reason, nullptr);
    gst_element_post_message(owner, gst_message_new_element(GST_OBJECT(owner), s));
}

void postSynced(GstElement* owner, const std::string& path, const char* countField, guint64 count)
{
    gst_element_post_message(
        owner, gst_message_new_element(GST_OBJECT(owner),
                                       gst_structure_new(kFileSynced, "location", G_TYPE_STRING,
                                                         path.c_str(), countField, G_TYPE_UINT64,
                                                         count, nullptr)));
}

void postRenamed(GstElement* owner, const std::string& oldPath, const std::string& newPath)
{
    gst_element_post_message(
        owner, gst_message_new_element(
                   GST_OBJECT(owner),
                   gst_structure_new(kFileRenamed, "old-location", G_TYPE_STRING, oldPath.c_str(),
                                     "new-location", G_TYPE_STRING, newPath.c_str(), nullptr)));
}

void Syncer::bind(GMutex* lock, GCond* wake, Tick tick, gpointer data)
{
    lock_ = lock;
    wake_ = wake;
    tick_ = tick;
    data_ = data;
}

void Syncer::arm(gint64 periodMicros)
{
    stop_ = false;
    period_ = periodMicros;
}

gpointer Syncer::loop(gpointer data)
{
    auto* self = static_cast<Syncer*>(data);
    g_mutex_lock(self->lock_);
    while (!self->stop_) {
        const gint64 due = g_get_monotonic_time() + self->period_;
        while (!self->stop_ && g_get_monotonic_time() < due)
            g_cond_wait_until(self->wake_, self->lock_, due);
        if (self->stop_) continue;
        self->tick_(self->data_);
    }
    g_mutex_unlock(self->lock_);
    return nullptr;
}

bool Syncer::start(GstElement* owner, const char* threadName)
{
    GError* error = nullptr;
    GThread* thread = g_thread_try_new(threadName, loop, this, &error);
    if (!thread) {
        GST_ELEMENT_ERROR(owner, RESOURCE, FAILED, ("The capture could not be started."),
                          ("no syncer thread: %s", error->message));
        g_error_free(error);
        return false;
    }
    g_mutex_lock(lock_);
    thread_ = thread;
    g_mutex_unlock(lock_);
    return true;
}

void Syncer::stop()
{
    g_mutex_lock(lock_);
    stop_ = true;
    g_cond_broadcast(wake_);
    GThread* thread = std::exchange(thread_, nullptr);
    g_mutex_unlock(lock_);
    if (thread) g_thread_join(thread);
}

} // namespace kad::filewriter
