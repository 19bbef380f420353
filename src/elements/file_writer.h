#pragma once

// What Kadrillo's switching file writers (kaddump, kaddvaviwriter,
// kadaviwriter) have in common, shared by composition since their base
// classes differ:
//  - the names of the element messages they post, which the capture graph
//    and the tests read too;
//  - the "location", "next-location" and "sync-interval" properties (same
//    names, nicks, flags and defaults on every writer; each gives its own
//    blurb) and the "take-next-location" action signal;
//  - the syncer, a thread of the writer's own that wakes every sync interval
//    so what was written reaches the disk while no data comes;
//  - the errors and messages every writer posts.
//
// Locks: `Locations` is guarded by the owner's object lock; every function
// taking one says whether it wants the lock held. The syncer is guarded by
// the owner's data lock (the one it was bound to): its tick runs with that
// lock held and may release it meanwhile, for instance to post a message.
// The object lock may be taken inside the data lock, never the other way
// round.

#include <gst/gst.h>

#include <string>

namespace kad::filewriter {

// Element messages. Fields:
//   kFileSwitched  "old-location", "new-location", a count of the finished
//                  file ("bytes" or "frames") and, from the AVI writers,
//                  "reason" ("cut" or "recording")
//   kFileSynced    "location" and what the file on disk holds ("bytes" or
//                  "frames")
//   kFileRenamed   "old-location", "new-location"
inline constexpr char kFileSwitched[] = "kad-file-switched";
inline constexpr char kFileSynced[] = "kad-file-synced";
inline constexpr char kFileRenamed[] = "kad-file-renamed";

inline constexpr guint64 kDefaultSyncInterval = 5 * GST_SECOND;
// Below this, syncing would cost more than a frame's time on common disks.
inline constexpr guint64 kMinSyncInterval = 10 * GST_MSECOND;

// The shared properties as the owner keeps them, a plain struct inside the
// instance (zeroed with it; `initLocations` gives the defaults). Guarded by
// the owner's object lock.
struct Locations {
    gchar* location;
    gchar* nextLocation;
    guint64 syncInterval;
};

// The owner's property ids of the shared properties.
struct PropertyIds {
    guint location;
    guint nextLocation;
    guint syncInterval;
};

void initLocations(Locations& l);
void clearLocations(Locations& l);

void installLocation(GObjectClass* klass, guint id, const char* blurb);
void installNextLocation(GObjectClass* klass, guint id, const char* blurb);
void installSyncInterval(GObjectClass* klass, guint id, const char* blurb);
// Adds "take-next-location" (gchar* (), run last, action). `handler` calls
// takeNextLocation on the instance's Locations.
void installTakeNextLocation(GObjectClass* klass, GCallback handler);

// set_property/get_property of the shared properties, with the object lock
// held. False when `id` is not one of them. "location" changes only in NULL
// or READY (a warning otherwise).
bool setProperty(GstElement* owner, Locations& l, const PropertyIds& ids, guint id,
                 const GValue* value);
bool getProperty(const Locations& l, const PropertyIds& ids, guint id, GValue* value);

// The AVI writers' RIFF limit and cuts at new recordings of a DV tape, a
// plain struct inside the instance like Locations (`initRecordingProps`
// gives the defaults). Guarded by the owner's object lock.
struct RecordingProps {
    guint64 riffLimit;
    gboolean splitRecordings;
    gchar* splitLocation;
    gchar* dateNameRoot;
};

struct RecordingPropertyIds {
    guint riffLimit;
    guint splitRecordings;
    guint splitLocation;
    guint dateNameRoot;
};

void initRecordingProps(RecordingProps& r);
void clearRecordingProps(RecordingProps& r);
void installRiffLimit(GObjectClass* klass, guint id);
void installSplitRecordings(GObjectClass* klass, guint id, const char* blurb);
void installSplitLocation(GObjectClass* klass, guint id);
void installDateNameRoot(GObjectClass* klass, guint id, const char* blurb);
// As setProperty/getProperty, for these.
bool setRecordingProperty(RecordingProps& r, const RecordingPropertyIds& ids, guint id,
                          const GValue* value);
bool getRecordingProperty(const RecordingProps& r, const RecordingPropertyIds& ids, guint id,
                          GValue* value);

// Returns the pending next location (the caller frees it) and clears it, in
// one step under the object lock (taken here); NULL when none is pending.
gchar* takeNextLocation(GstElement* owner, Locations& l);
// The current location; the object lock is taken here.
std::string currentLocation(GstElement* owner, const Locations& l);
// Records the file being written now; the object lock is taken here.
void setLocation(GstElement* owner, Locations& l, const std::string& path);

// What a writer reads when it starts, under the object lock (taken here):
// the pending next location is dropped. Posts the error and returns false
// when no location was given.
struct StartValues {
    std::string location;
    guint64 syncInterval = 0;
};
bool takeStartValues(GstElement* owner, Locations& l, StartValues& out);

// Errors every writer posts: the file could not be created, a write failed
// (disk full or otherwise; the file written so far stays).
void postOpenError(GstElement* owner, const std::string& path, int err);
void postWriteError(GstElement* owner, int err, const std::string& path);
// A next location that is the open file is refused: a warning, the capture
// goes on in that file.
void warnSameFile(GstElement* owner, const std::string& path);

// Warnings that leave the capture going: the end of a file (its indexes)
// could not be completed; no free name for a new recording; a file could
// not be named after its recording date.
void warnFinaliseFailed(GstElement* owner, const std::string& path, int err);
void warnNoFreeName(GstElement* owner, const std::string& after);
void warnRenameFailed(GstElement* owner, const std::string& path, int err);

// `reason` may be null (no "reason" field).
void postSwitched(GstElement* owner, const std::string& oldPath, const std::string& newPath,
                  const char* countField, guint64 count, const char* reason);
void postSynced(GstElement* owner, const std::string& path, const char* countField, guint64 count);
void postRenamed(GstElement* owner, const std::string& oldPath, const std::string& newPath);

// The syncer thread. Bound once to the owner's data lock and a condition
// the owner broadcasts; every period it calls tick(data) with the data lock
// held. The instance must outlive the thread (stop joins it).
class Syncer {
public:
    using Tick = void (*)(gpointer data);

    void bind(GMutex* lock, GCond* wake, Tick tick, gpointer data);
    // With the data lock held: clears the stop flag and sets the period
    // (microseconds) for the next start.
    void arm(gint64 periodMicros);
    gint64 period() const { return period_; }
    // True once stop was asked for; read with the data lock held.
    bool stopping() const { return stop_; }
    // Starts the thread (without the data lock held); posts the error on
    // `owner` and returns false when it cannot.
    bool start(GstElement* owner, const char* threadName);
    // Stops and joins the thread (without the data lock held); a syncer
    // never started returns at once.
    void stop();

private:
    static gpointer loop(gpointer self);

    GMutex* lock_ = nullptr;
    GCond* wake_ = nullptr;
    Tick tick_ = nullptr;
    gpointer data_ = nullptr;
    GThread* thread_ = nullptr;
    bool stop_ = false;
    gint64 period_ = 0;
};

} // namespace kad::filewriter
