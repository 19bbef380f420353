#pragma once

// What Kadrillo's two AVI writers (kaddvaviwriter, kadaviwriter) have in
// common on top of file_writer.h:
//  - their properties as one set: the same ids, installed in the same order
//    (each writer gives its own blurbs and one read-only count of its own),
//    and the GObject functions that get and set them;
//  - the life of the file they write through kad::AviFile: opened, synced,
//    renamed after its recording date, finished, and continued into the next
//    file at a cut or a new recording, with the messages and warnings that
//    go with each step.
//
// Locks as in file_writer.h: the properties under the owner's object lock,
// the file and the recordings under the owner's data lock. Functions taking
// an AviFile or Recordings want the data lock held; they take the object
// lock themselves where they need it.

#include <gst/gst.h>

#include <optional>
#include <string>

#include "elements/avi_file.h"
#include "elements/file_writer.h"
#include "media/dv/recording_watch.h"
#include "platform/media/gst_ptr.h"

namespace kad::aviwriter {

namespace fw = kad::filewriter;

// Property ids; a writer's own read-only count is PROP_OWN_COUNT.
enum PropertyId : guint {
    PROP_0,
    PROP_LOCATION,
    PROP_NEXT_LOCATION,
    PROP_RIFF_LIMIT,
    PROP_SYNC_INTERVAL,
    PROP_FRAMES_WRITTEN,
    PROP_OWN_COUNT,
    PROP_SPLIT_RECORDINGS,
    PROP_SPLIT_LOCATION,
    PROP_DATE_NAME_ROOT,
};

// What each writer says of its properties.
struct Blurbs {
    const char* location;
    const char* nextLocation;
    const char* syncInterval;
    const char* splitRecordings;
    const char* dateNameRoot;
    const char* framesWritten;
    // The writer's own count: name, nick and blurb.
    const char* ownCount[3];
};

void initProperties(fw::Locations& props, fw::RecordingProps& rec);
void clearProperties(fw::Locations& props, fw::RecordingProps& rec);
// Installs every property and "take-next-location" (`takeNextLocation`).
void installProperties(GObjectClass* klass, const Blurbs& blurbs, GCallback takeNextLocation);
// With the object lock held. False when `id` is none of the properties.
bool setProperty(GstElement* owner, fw::Locations& props, fw::RecordingProps& rec, guint id,
                 const GValue* value);
bool getProperty(const fw::Locations& props, const fw::RecordingProps& rec, guint64 framesWritten,
                 guint64 ownCount, guint id, GValue* value);

// The GObject side of a writer whose instance keeps the properties in its
// members `props` and `rec`, its counts in `framesWritten` and `OwnCount`.
template <typename Writer>
void setPropertyOf(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    auto* self = reinterpret_cast<Writer*>(object);
    GST_OBJECT_LOCK(self);
    if (!setProperty(GST_ELEMENT(self), self->props, self->rec, id, value))
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    GST_OBJECT_UNLOCK(self);
}

template <typename Writer, guint64 Writer::*OwnCount>
void getPropertyOf(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    auto* self = reinterpret_cast<Writer*>(object);
    GST_OBJECT_LOCK(self);
    if (!getProperty(self->props, self->rec, self->framesWritten, self->*OwnCount, id, value))
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    GST_OBJECT_UNLOCK(self);
}

// Returns the pending next-location and clears it in one step, so that a
// caller giving up a cut knows whether the streaming thread got to it first.
template <typename Writer> gchar* takeNextLocationOf(Writer* self)
{
    return fw::takeNextLocation(GST_ELEMENT(self), self->props);
}

template <typename Writer, guint64 Writer::*OwnCount>
void installPropertiesOf(GObjectClass* klass, const Blurbs& blurbs)
{
    klass->set_property = setPropertyOf<Writer>;
    klass->get_property = getPropertyOf<Writer, OwnCount>;
    installProperties(klass, blurbs, G_CALLBACK(takeNextLocationOf<Writer>));
}

// What a writer reads when it starts, under the object lock (taken here):
// the location and sync interval as fw::takeStartValues, and the RIFF limit.
// Both counts start again at 0. Posts the error and returns false when no
// location was given.
struct StartValues : fw::StartValues {
    guint64 riffLimit = 0;
};
bool takeStartValues(GstElement* owner, fw::Locations& props, const fw::RecordingProps& rec,
                     guint64& framesWritten, guint64& ownCount, StartValues& out);

// The recordings of a DV tape as the frames pass, for the cut at each new
// recording and the names by recording date.
struct Recordings {
    kad::dv::RecordingWatch watch;
    // The current file was named after its recording date (or tried to be).
    bool fileDated = false;
    // The last numbered name written to: a cut without a name given follows
    // on from it.
    std::string numbered;
};

// What the writer does with new recordings, read under the object lock
// (taken here) once per buffer.
struct RecordingChoices {
    bool split = false;
    std::string dateRoot;
};
RecordingChoices readRecordingChoices(GstElement* owner, const fw::RecordingProps& rec);

// Opens `path` for writing. With `claim` an existing file is never
// truncated: a name taken since it was chosen passes to the next free
// number. The name opened, or empty once the error is posted.
std::string openFile(GstElement* owner, AviFile& file, const std::string& path, guint64 riffLimit,
                     bool durable, bool claim);

// Finalises the open file; posts a warning (never an error: the data already
// written stays) when the indexes could not all be written.
void finaliseFile(GstElement* owner, AviFile& file);

// A file finished for the next one: its name and frames, for
// "kad-file-switched".
struct Finished {
    std::string path;
    guint64 frames = 0;
};
Finished finishFile(GstElement* owner, AviFile& file);

// Says that the capture went on into `opened`: it is the location now, with
// no frame written and no recording date yet, and the last numbered name;
// posts "kad-file-switched" with `reason` ("cut" or "recording"). Takes the
// object lock.
void announceSwitch(GstElement* owner, fw::Locations& props, guint64& framesWritten,
                    Recordings& recordings, const Finished& finished, const std::string& opened,
                    const char* reason);

// The pending next-location when it is to be applied now, else null. The
// file being written is never its own next file: opening it again would
// empty it (a warning; the capture goes on in it). A file without a frame
// has no header yet; finished now it would be an empty, unreadable file
// handed over as done (a cut before the first frame, or a second cut before
// the file of the first got its frame), so the cut stays pending until the
// file holds one.
kad::GCharPtr takeCut(GstElement* owner, fw::Locations& props, const AviFile& file);

// The file a new recording goes into: split-location (taken and cleared
// under the object lock), else the number after the last numbered name,
// passing over names whose file exists. Empty, with a warning, when no name
// is free: the capture goes on in the current file.
std::string takeSplitTarget(GstElement* owner, fw::RecordingProps& rec,
                            const Recordings& recordings);

// Renames the open file after the recording date of its first frame that
// tells one (`recorded`), once per file and only with a `root`. A failed
// rename leaves the file under its name.
void nameByDate(GstElement* owner, AviFile& file, fw::Locations& props, Recordings& recordings,
                const std::string& root, const std::optional<kad::dv::RecordingDateTime>& recorded);

// What a checkpoint reached, posted once the data lock is released.
struct Synced {
    std::string path;
    guint64 frames = 0;
};
// Takes note of a checkpoint that reached the disk.
std::optional<Synced> takeSynced(AviFile& file);
void postSynced(GstElement* owner, const std::optional<Synced>& synced);

// One tick of the syncer: brings the open file's indexes to disk, whether
// frames flow or not (a tape that stops must not leave the frames before it
// unindexed until the next one comes), and posts "kad-file-synced" with
// `lock`, the data lock held on entry, released meanwhile. A failure is
// reported now, not at the next frame (the source may have stopped), and
// sets `failed`: the streaming thread refuses what comes next.
void syncTick(GstElement* owner, AviFile& file, bool& failed, GMutex* lock);

// Starts the syncer of a file just opened, unless `syncInterval` is 0.
// When it cannot start, the error is posted and the file finished (the data
// lock, `lock`, is taken for that). Call without the data lock held.
bool startSyncer(GstElement* owner, fw::Syncer& syncer, guint64 syncInterval, AviFile& file,
                 GMutex* lock);

} // namespace kad::aviwriter
