#include "elements/avi_common.h"

#include <cerrno>
#include <utility>

#include "elements/recording_files.h"

namespace kad::aviwriter {

namespace {

constexpr fw::PropertyIds kPropertyIds{PROP_LOCATION, PROP_NEXT_LOCATION, PROP_SYNC_INTERVAL};
constexpr fw::RecordingPropertyIds kRecordingIds{PROP_RIFF_LIMIT, PROP_SPLIT_RECORDINGS,
                                                 PROP_SPLIT_LOCATION, PROP_DATE_NAME_ROOT};

void installCount(GObjectClass* klass, guint id, const char* name, const char* nick,
                  const char* blurb)
{
    g_object_class_install_property(
        klass, id,
        g_param_spec_uint64(name, nick, blurb, 0, G_MAXUINT64, 0,
                            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
}

} // namespace

void initProperties(fw::Locations& props, fw::RecordingProps& rec)
{
    fw::initLocations(props);
    fw::initRecordingProps(rec);
}

void clearProperties(fw::Locations& props, fw::RecordingProps& rec)
{
    fw::clearLocations(props);
    fw::clearRecordingProps(rec);
}

void installProperties(GObjectClass* klass, const Blurbs& blurbs, GCallback takeNextLocation)
{
    fw::installLocation(klass, PROP_LOCATION, blurbs.location);
    fw::installNextLocation(klass, PROP_NEXT_LOCATION, blurbs.nextLocation);
    fw::installRiffLimit(klass, PROP_RIFF_LIMIT);
    fw::installSyncInterval(klass, PROP_SYNC_INTERVAL, blurbs.syncInterval);
    fw::installSplitRecordings(klass, PROP_SPLIT_RECORDINGS, blurbs.splitRecordings);
    fw::installSplitLocation(klass, PROP_SPLIT_LOCATION);
    fw::installDateNameRoot(klass, PROP_DATE_NAME_ROOT, blurbs.dateNameRoot);
    installCount(klass, PROP_FRAMES_WRITTEN, "frames-written", "Frames written",
                 blurbs.framesWritten);
    installCount(klass, PROP_OWN_COUNT, blurbs.ownCount[0], blurbs.ownCount[1], blurbs.ownCount[2]);
    // Action signal: takes (returns and clears) next-location under the
    // object lock; NULL when the cut was applied or none was asked for.
    fw::installTakeNextLocation(klass, takeNextLocation);
}

bool setProperty(GstElement* owner, fw::Locations& props, fw::RecordingProps& rec, guint id,
                 const GValue* value)
{
    return fw::setProperty(owner, props, kPropertyIds, id, value) ||
           fw::setRecordingProperty(rec, kRecordingIds, id, value);
}

bool getProperty(const fw::Locations& props, const fw::RecordingProps& rec, guint64 framesWritten,
                 guint64 ownCount, guint id, GValue* value)
{
    switch (id) {
    case PROP_FRAMES_WRITTEN:
        g_value_set_uint64(value, framesWritten);
        return true;
    case PROP_OWN_COUNT:
        g_value_set_uint64(value, ownCount);
        return true;
    default:
        return fw::getProperty(props, kPropertyIds, id, value) ||
               fw::getRecordingProperty(rec, kRecordingIds, id, value);
    }
}

bool takeStartValues(GstElement* owner, fw::Locations& props, const fw::RecordingProps& rec,
                     guint64& framesWritten, guint64& ownCount, StartValues& out)
{
    const bool named = fw::takeStartValues(owner, props, out);
    GST_OBJECT_LOCK(owner);
    out.riffLimit = rec.riffLimit;
    framesWritten = 0;
    ownCount = 0;
    GST_OBJECT_UNLOCK(owner);
    return named;
}

RecordingChoices readRecordingChoices(GstElement* owner, const fw::RecordingProps& rec)
{
    RecordingChoices c;
    GST_OBJECT_LOCK(owner);
    c.split = rec.splitRecordings;
    c.dateRoot = rec.dateNameRoot ? rec.dateNameRoot : "";
    GST_OBJECT_UNLOCK(owner);
    return c;
}

std::string openFile(GstElement* owner, AviFile& file, const std::string& path, guint64 riffLimit,
                     bool durable, bool claim)
{
    std::string opened;
    if (claim) {
        opened = kad::dv::openUnderFreeName(path, [&](const std::string& name) {
            return file.open(name, riffLimit, durable, true);
        });
    } else if (file.open(path, riffLimit, durable, false)) {
        opened = path;
    }
    if (opened.empty()) fw::postOpenError(owner, path, errno);
    return opened;
}

void finaliseFile(GstElement* owner, AviFile& file)
{
    if (!file.isOpen()) return;
    const std::string path = file.path();
    if (!file.finalise()) {
        fw::warnFinaliseFailed(owner, path, errno);
    }
    file.takePublished();
}

Finished finishFile(GstElement* owner, AviFile& file)
{
    Finished finished{file.path(), file.totalFrames()};
    finaliseFile(owner, file);
    return finished;
}

void announceSwitch(GstElement* owner, fw::Locations& props, guint64& framesWritten,
                    Recordings& recordings, const Finished& finished, const std::string& opened,
                    const char* reason)
{
    recordings.fileDated = false;
    GST_OBJECT_LOCK(owner);
    g_free(props.location);
    props.location = g_strdup(opened.c_str());
    framesWritten = 0;
    GST_OBJECT_UNLOCK(owner);
    fw::postSwitched(owner, finished.path, opened, "frames", finished.frames, reason);
    recordings.numbered = opened;
}

kad::GCharPtr takeCut(GstElement* owner, fw::Locations& props, const AviFile& file)
{
    if (file.totalFrames() == 0) return nullptr;
    kad::GCharPtr next(fw::takeNextLocation(owner, props));
    if (next && next.get() == file.path()) {
        fw::warnSameFile(owner, next.get());
        return nullptr;
    }
    return next;
}

std::string takeSplitTarget(GstElement* owner, fw::RecordingProps& rec,
                            const Recordings& recordings)
{
    GST_OBJECT_LOCK(owner);
    kad::GCharPtr given(std::exchange(rec.splitLocation, nullptr));
    GST_OBJECT_UNLOCK(owner);
    const std::string next = kad::dv::splitTarget(given ? given.get() : "", recordings.numbered);
    if (next.empty()) fw::warnNoFreeName(owner, recordings.numbered);
    return next;
}

void nameByDate(GstElement* owner, AviFile& file, fw::Locations& props, Recordings& recordings,
                const std::string& root, const std::optional<kad::dv::RecordingDateTime>& recorded)
{
    if (root.empty() || recordings.fileDated || !recorded) return;
    recordings.fileDated = true;
    const std::string old = file.path();
    const std::optional<std::string> renamed = kad::dv::renameByRecordingDate(old, root, *recorded);
    if (!renamed) {
        fw::warnRenameFailed(owner, old, errno);
        return;
    }
    if (*renamed == old) return;
    file.renamed(*renamed);
    fw::setLocation(owner, props, *renamed);
    fw::postRenamed(owner, old, *renamed);
}

std::optional<Synced> takeSynced(AviFile& file)
{
    if (!file.takePublished()) return std::nullopt;
    return Synced{file.path(), file.framesOnDisk()};
}

void postSynced(GstElement* owner, const std::optional<Synced>& synced)
{
    if (synced) fw::postSynced(owner, synced->path, "frames", synced->frames);
}

void syncTick(GstElement* owner, AviFile& file, bool& failed, GMutex* lock)
{
    if (failed || !file.isOpen()) return;
    if (!file.checkpoint()) {
        fw::postWriteError(owner, errno ? errno : EIO, file.path());
        failed = true;
        return;
    }
    const std::optional<Synced> synced = takeSynced(file);
    g_mutex_unlock(lock);
    postSynced(owner, synced);
    g_mutex_lock(lock);
}

bool startSyncer(GstElement* owner, fw::Syncer& syncer, guint64 syncInterval, AviFile& file,
                 GMutex* lock)
{
    if (syncInterval == 0 || syncer.start(owner, "kadavisync")) return true;
    g_mutex_lock(lock);
    finaliseFile(owner, file);
    g_mutex_unlock(lock);
    return false;
}

} // namespace kad::aviwriter
