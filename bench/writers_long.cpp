// Long runs of the type-2 AVI writer (kadaviwriter: DV picture and PCM
// sound), non-live, from a DV file made by ffmpeg whose frames are pushed
// over and over (DV frames stand alone) through dvdemux, as a capture does.
//
//   bench_writers_long big [folder] [GiB]
//       one file over 33 GiB (default 33.5 GiB) in folder (default the
//       current one), read whole by ffprobe and GStreamer's avidemux, then
//       deleted; skipped when the folder has less than 40 GiB free.
//   bench_writers_long hours [frames] [cut] [folder]
//       900000 frames (ten hours of PAL) cut every 20000 frames through
//       next-location, each finished file deleted: resident memory before
//       the run, while writing (once the first file is finished, and at the
//       last frame) and after it, and the wall time.
//
// Figures: wall time, frames per second, file size, the frames each reader
// counted; resident memory (VmRSS) in kB.

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "elements/plugin.h"
#include "platform/media/gst_ptr.h"
#include "support/readers.h"
#include "virtual/virtual_plugin.h"

namespace {

constexpr int kDvFrame = 144000;
constexpr double kGiB = 1024.0 * 1024 * 1024;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// VmRSS or VmHWM of this process, in kB.
long memoryKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    }
    return -1;
}

// 100 PAL DV frames with 48 kHz stereo sound, made by ffmpeg.
QByteArray makeDv(const QString& dir)
{
    const QString path = dir + "/in.dv";
    kadtest::ffmpegDv(path, "4");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray all = f.readAll();
    all.truncate(all.size() / kDvFrame * kDvFrame);
    return all;
}

// What the writer's bus said, handled on the posting thread so that no
// message piles up over hours.
struct BusLog {
    std::atomic<long long> files{0};
    std::atomic<long long> framesInFinished{0};
    bool deleteFinished = false;
};

GstBusSyncReply onMessage(GstBus*, GstMessage* msg, gpointer data)
{
    auto* log = static_cast<BusLog*>(data);
    const GstMessageType type = GST_MESSAGE_TYPE(msg);
    if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) return GST_BUS_PASS;
    const GstStructure* s = gst_message_get_structure(msg);
    if (type == GST_MESSAGE_ELEMENT && s && gst_structure_has_name(s, "kad-file-switched")) {
        guint64 frames = 0;
        gst_structure_get_uint64(s, "frames", &frames);
        ++log->files;
        log->framesInFinished += (long long)frames;
        if (log->deleteFinished) QFile::remove(gst_structure_get_string(s, "old-location"));
    }
    gst_message_unref(msg);
    return GST_BUS_DROP;
}

struct CutPlan {
    long every = 0;
    QString folder;
    std::atomic<long> seen{0};
    GstElement* writer = nullptr;
};

// Asks for the next file right before frame `every`, 2*`every`, ... enters
// the writer, so each file holds exactly `every` frames.
GstPadProbeReturn cutProbe(GstPad*, GstPadProbeInfo*, gpointer data)
{
    auto* plan = static_cast<CutPlan*>(data);
    const long i = plan->seen++;
    if (i > 0 && i % plan->every == 0) {
        const QString next = plan->folder + QString("/part%1.avi").arg(i / plan->every);
        g_object_set(plan->writer, "next-location", next.toUtf8().constData(), nullptr);
    }
    return GST_PAD_PROBE_OK;
}

struct Written {
    bool ok = false;
    double seconds = 0;
    long rssStart = 0;
    long rssFirstFile = 0;
    long rssLastFrame = 0;
    long rssEnd = 0;
    long hwm = 0;
};

// Pushes `frames` DV frames (the frames of `dv`, cycled) through dvdemux into
// kadaviwriter writing `out`; a cut every `cutEvery` frames when > 0.
Written write(const QByteArray& dv, const QString& out, long frames, long cutEvery, BusLog* log)
{
    Written w;
    const std::string d = "appsrc name=src format=time max-bytes=14400000 block=true "
                          "caps=video/x-dv,systemstream=true ! dvdemux name=d d.video ! queue ! "
                          "w.video d.audio ! queue ! w.audio kadaviwriter name=w location=" +
                          out.toStdString();
    GError* err = nullptr;
    kad::ElementRef p = kad::ElementRef::sink(gst_parse_launch(d.c_str(), &err));
    if (err) {
        std::fprintf(stderr, "parse: %s\n", err->message);
        g_error_free(err);
        return w;
    }
    kad::ElementRef src(gst_bin_get_by_name(GST_BIN(p.get()), "src"));
    kad::ElementRef writer(gst_bin_get_by_name(GST_BIN(p.get()), "w"));
    CutPlan plan;
    plan.every = cutEvery;
    plan.folder = QFileInfo(out).absolutePath();
    plan.writer = writer.get();
    if (cutEvery > 0) {
        kad::PadRef pad(gst_element_get_static_pad(writer.get(), "video"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, cutProbe, &plan, nullptr);
    }
    kad::BusRef bus(gst_element_get_bus(p.get()));
    gst_bus_set_sync_handler(bus.get(), onMessage, log, nullptr);
    const long have = dv.size() / kDvFrame;
    w.rssStart = memoryKb("VmRSS");
    const double t0 = now();
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    for (long i = 0; i < frames; ++i) {
        GstBuffer* b = gst_buffer_new_memdup(dv.constData() + (i % have) * kDvFrame, kDvFrame);
        GST_BUFFER_PTS(b) = gst_util_uint64_scale(guint64(i), GST_SECOND, 25);
        GST_BUFFER_DURATION(b) = GST_SECOND / 25;
        if (gst_app_src_push_buffer(GST_APP_SRC(src.get()), b) != GST_FLOW_OK) break;
        if (cutEvery > 0 && i == 2 * cutEvery) w.rssFirstFile = memoryKb("VmRSS");
        if (i == frames - 1) w.rssLastFrame = memoryKb("VmRSS");
        if (i > 0 && i % 100000 == 0) {
            std::printf("  %ld frames, %.0f s, VmRSS %ld kB\n", i, now() - t0, memoryKb("VmRSS"));
            std::fflush(stdout);
        }
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src.get()));
    kad::MessageRef msg(gst_bus_timed_pop_filtered(
        bus.get(), GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    w.seconds = now() - t0;
    w.ok = msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
    if (!w.ok && msg) {
        GError* e = nullptr;
        gst_message_parse_error(msg.get(), &e, nullptr);
        std::fprintf(stderr, "error: %s\n", e ? e->message : "?");
        if (e) g_error_free(e);
    }
    gst_element_set_state(p.get(), GST_STATE_NULL);
    w.rssEnd = memoryKb("VmRSS");
    w.hwm = memoryKb("VmHWM");
    return w;
}

// ffprobe's packet count of each stream ("video=N audio=M").
QString ffprobeCount(const QString& file, double* seconds)
{
    const double t0 = now();
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-count_packets", "-show_entries",
                        "stream=codec_type,nb_read_packets", "-of", "csv=p=0", file});
    p.waitForFinished(-1);
    *seconds = now() - t0;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed().replace('\n', ' ');
}

int big(const QByteArray& dv, const QString& folder, double gib)
{
    const QStorageInfo disk(folder);
    const double freeGib = double(disk.bytesAvailable()) / kGiB;
    if (freeGib < 40) {
        std::printf("skipped: %.1f GiB free in %s, the big file needs 40\n", freeGib,
                    qPrintable(folder));
        return 0;
    }
    // One frame: the DV picture, 1920 stereo samples, two chunk headers.
    const long frames = long(gib * kGiB / (kDvFrame + 1920 * 4 + 16)) + 1;
    const QString out = folder + "/kad-big-type2.avi";
    std::printf("writing %ld frames (%.1f GiB wanted) into %s...\n", frames, gib, qPrintable(out));
    std::fflush(stdout);
    BusLog log;
    const Written w = write(dv, out, frames, 0, &log);
    const qint64 size = QFileInfo(out).size();
    std::printf("written: %s in %.1f s (%.0f frames/s, %.0f MB/s), size %lld bytes (%.2f GiB)\n",
                w.ok ? "yes" : "NO", w.seconds, frames / w.seconds, size / w.seconds / 1e6,
                (long long)size, size / kGiB);
    std::fflush(stdout);
    double t = 0;
    const QString counted = ffprobeCount(out, &t);
    std::printf("ffprobe (video,count audio,count): %s in %.1f s; frames written %ld: %s\n",
                qPrintable(counted), t, frames,
                counted.startsWith(QString("video,%1 ").arg(frames)) ? "all" : "NOT ALL");
    std::fflush(stdout);
    // Read through the whole index, which may take minutes for the biggest
    // files.
    const double demuxStart = now();
    const long long demuxed = kadtest::demuxRead(out, "avidemux", true, 3600).frames;
    t = now() - demuxStart;
    std::printf("avidemux: %lld video buffers in %.1f s: %s\n", demuxed, t,
                demuxed == frames ? "all" : "NOT ALL");
    QFile::remove(out);
    std::printf("deleted %s\n", qPrintable(out));
    return w.ok && demuxed == frames ? 0 : 1;
}

int hours(const QByteArray& dv, const QString& folder, long frames, long cut)
{
    const QString first = folder + "/part0.avi";
    std::printf("%ld frames, a cut every %ld, finished files deleted, in %s\n", frames, cut,
                qPrintable(folder));
    std::fflush(stdout);
    BusLog log;
    log.deleteFinished = true;
    const Written w = write(dv, first, frames, cut, &log);
    const long last = cut > 0 ? (frames - 1) / cut : 0;
    const QString lastFile = folder + QString("/part%1.avi").arg(last);
    double t = 0;
    const QString counted = ffprobeCount(lastFile, &t);
    QFile::remove(lastFile);
    std::printf("ended: %s; %lld files finished by cuts holding %lld frames, last file %s\n",
                w.ok ? "yes" : "NO", log.files.load(), log.framesInFinished.load(),
                qPrintable(counted));
    std::printf("wall %.1f s (%.0f frames/s, %.1f x real time)\n", w.seconds, frames / w.seconds,
                frames / 25.0 / w.seconds);
    std::printf("VmRSS kB: before the run %ld; while writing: after the first file %ld, at the "
                "last frame %ld (last / first file %.3f); after the run %ld; VmHWM %ld\n",
                w.rssStart, w.rssFirstFile, w.rssLastFrame,
                w.rssFirstFile > 0 ? double(w.rssLastFrame) / w.rssFirstFile : 0.0, w.rssEnd,
                w.hwm);
    return w.ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    kad::registerElements();
    kad::registerVirtualDevices();
    const std::string mode = argc > 1 ? argv[1] : "";
    QTemporaryDir scratch;
    const QByteArray dv = makeDv(scratch.path());
    if (dv.isEmpty()) {
        std::fprintf(stderr, "ffmpeg made no DV file\n");
        return 1;
    }
    if (mode == "big") {
        const QString folder = argc > 2 ? QString(argv[2]) : QDir::currentPath();
        const double gib = argc > 3 ? std::atof(argv[3]) : 33.5;
        return big(dv, folder, gib);
    }
    if (mode == "hours") {
        const long frames = argc > 2 ? std::atol(argv[2]) : 900000;
        const long cut = argc > 3 ? std::atol(argv[3]) : 20000;
        QTemporaryDir own;
        const QString folder = argc > 4 ? QString(argv[4]) : own.path();
        return hours(dv, folder, frames, cut > 0 ? cut : 20000);
    }
    std::fprintf(stderr, "usage: %s big [folder] [GiB] | hours [frames] [cut] [folder]\n", argv[0]);
    return 2;
}
