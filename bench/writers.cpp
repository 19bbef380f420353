// Throughput of the type-1 and type-2 DV AVI writers against ffmpeg doing
// the same job (raw DV into an AVI, stream copy: `ffmpeg -f dv -i F -c copy
// out.avi`) on the same input, non-live, in the same run.
//
//   bench_writers [frames]        default 1500 PAL frames (one minute)
//   bench_writers --big           also writes a file over 4 GB through the
//                                 writer and checks it with ffprobe
//
// Figures: frames per second (wall), CPU time per frame (user + system of
// every thread), and the ratio Kadrillo / ffmpeg, for the writer without
// syncing (sync-interval 0), at its default interval and at a short one (a
// sync every 0.1 s of wall time, non-live, to show what syncing costs at
// its worst); then what one fdatasync of 5 s of DV (18 MB) costs on this
// disk.

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "elements/plugin.h"
#include "platform/media/gst_ptr.h"
#include "virtual/virtual_plugin.h"

namespace {

using kad::bench::cpuSeconds;

bool runToEnd(GstElement* pipeline)
{
    kad::BusRef bus(gst_element_get_bus(pipeline));
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    kad::MessageRef msg(gst_bus_timed_pop_filtered(
        bus.get(), GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    const bool ok = msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
    if (!ok && msg) {
        GError* err = nullptr;
        gst_message_parse_error(msg.get(), &err, nullptr);
        std::fprintf(stderr, "error: %s\n", err ? err->message : "?");
        if (err) g_error_free(err);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return ok;
}

bool runLaunch(const std::string& d)
{
    GError* err = nullptr;
    kad::ElementRef p = kad::ElementRef::sink(gst_parse_launch(d.c_str(), &err));
    if (err) {
        std::fprintf(stderr, "parse: %s\n", err->message);
        g_error_free(err);
        return false;
    }
    return runToEnd(p.get());
}

struct Figures {
    double wall = 0;
    double cpu = 0;
};

QString probe(const QString& file, const char* entries)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-count_packets", "-show_entries", entries, "-of",
                        "default=nw=1", file});
    p.waitForFinished(-1);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Pushes `frames` copies of the frames of `raw` (cycled) into the writer.
bool writeBig(const QString& raw, const QString& out, long frames)
{
    QFile f(raw);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray all = f.readAll();
    const int frameBytes = 144000;
    const long have = all.size() / frameBytes;
    GError* err = nullptr;
    const std::string d = "appsrc name=src format=time caps=video/x-dv,systemstream=true "
                          "max-bytes=20000000 block=true ! kaddvaviwriter location=" +
                          out.toStdString();
    kad::ElementRef p = kad::ElementRef::sink(gst_parse_launch(d.c_str(), &err));
    if (err) {
        g_error_free(err);
        return false;
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(p.get()), "src");
    kad::BusRef bus(gst_element_get_bus(p.get()));
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    for (long i = 0; i < frames; ++i) {
        GstBuffer* b = gst_buffer_new_memdup(all.constData() + (i % have) * frameBytes, frameBytes);
        GST_BUFFER_PTS(b) = gst_util_uint64_scale(guint64(i), GST_SECOND, 25);
        if (gst_app_src_push_buffer(GST_APP_SRC(src), b) != GST_FLOW_OK) break;
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    gst_object_unref(src);
    kad::MessageRef msg(gst_bus_timed_pop_filtered(
        bus.get(), GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    const bool ok = msg && GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS;
    gst_element_set_state(p.get(), GST_STATE_NULL);
    return ok;
}

// Median time of fdatasync after writing `bytes` to a fresh file in `dir`.
double fdatasyncSeconds(const QString& dir, gsize bytes)
{
    const std::string path = dir.toStdString() + "/sync-cost.bin";
    const std::vector<char> block(bytes, '\x55');
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return -1;
        gsize done = 0;
        while (done < bytes) {
            const ssize_t n = ::write(fd, block.data() + done, bytes - done);
            if (n <= 0) break;
            done += gsize(n);
        }
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = fdatasync(fd);
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        ::close(fd);
        if (rc != 0) return -1;
    }
    QFile::remove(QString::fromStdString(path));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Writes `raw` through kaddvaviwriter with the given sync-interval
// ("default": the element's own).
bool writeKadrillo(const QString& raw, const QString& out, const char* interval, Figures* f)
{
    std::string sync;
    if (std::strcmp(interval, "default") != 0) sync = std::string(" sync-interval=") + interval;
    const double c0 = cpuSeconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    if (!runLaunch("filesrc location=" + raw.toStdString() +
                   " blocksize=144000 ! video/x-dv,systemstream=true ! kaddvaviwriter" + sync +
                   " location=" + out.toStdString()))
        return false;
    f->wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f->cpu = cpuSeconds(RUSAGE_SELF) - c0;
    return true;
}

// Writes `raw` as a type-2 file (DV picture and PCM sound, two streams)
// through kadaviwriter at its default sync-interval.
bool writeKadrilloType2(const QString& raw, const QString& out, Figures* f)
{
    const double c0 = cpuSeconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    if (!runLaunch("filesrc location=" + raw.toStdString() +
                   " ! dvdemux name=d d.video ! queue ! w.video d.audio ! queue ! w.audio "
                   "kadaviwriter name=w location=" +
                   out.toStdString()))
        return false;
    f->wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f->cpu = cpuSeconds(RUSAGE_SELF) - c0;
    return true;
}

// The same type-2 job through GStreamer's avimux, which type-2 captures
// used before Kadrillo's own writer: the figure "now" is measured against.
bool writeAvimuxType2(const QString& raw, const QString& out, Figures* f)
{
    const double c0 = cpuSeconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    if (!runLaunch("filesrc location=" + raw.toStdString() +
                   " ! dvdemux name=d d.video ! queue ! m.video_0 d.audio ! queue ! m.audio_0 "
                   "avimux name=m bigfile=true ! filesink location=" +
                   out.toStdString()))
        return false;
    f->wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f->cpu = cpuSeconds(RUSAGE_SELF) - c0;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    QCoreApplication app(argc, argv);
    kad::registerElements();
    kad::registerVirtualDevices();
    int frames = 1500;
    bool big = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--big") == 0)
            big = true;
        else
            frames = std::max(25, std::atoi(argv[i]));
    }
    QTemporaryDir dir;
    const QString raw = dir.filePath("in.dv");
    const std::string n = std::to_string(frames);
    std::printf("making %d PAL DV frames...\n", frames);
    if (!runLaunch("videotestsrc pattern=ball num-buffers=" + n +
                   " ! video/x-raw,width=720,height=576,framerate=25/1 ! videoconvert ! "
                   "avenc_dvvideo ! mux. audiotestsrc num-buffers=" +
                   n +
                   " samplesperbuffer=1920 ! audio/x-raw,rate=48000,channels=2,format=S16LE ! "
                   "mux. avmux_dv name=mux ! filesink location=" +
                   raw.toStdString()))
        return 1;

    // The DV muxer may end the stream early: the frames it made are
    // repeated up to the count asked for (DV frames stand alone).
    {
        QFile f(raw);
        if (!f.open(QIODevice::ReadWrite)) return 1;
        const QByteArray made = f.readAll();
        const qint64 want = qint64(frames) * 144000;
        f.seek(f.size());
        while (f.size() < want && !made.isEmpty())
            f.write(made.constData(), std::min<qint64>(made.size(), want - f.size()));
        frames = int(f.size() / 144000);
    }

    // Warm the page cache so both read the same way.
    QFile warm(raw);
    if (warm.open(QIODevice::ReadOnly)) warm.readAll();

    struct Run {
        const char* label;
        const char* interval;
        Figures figures;
    };
    Run runs[] = {
        {"sync off", "0", {}}, {"sync 5 s", "default", {}}, {"sync 0.1 s", "100000000", {}}};
    // Each three times, in turn, keeping the fastest: the disk's own
    // writeback varies more from run to run than what is measured. The last
    // file of each is checked with ffprobe.
    for (int round = 0; round < 3; ++round) {
        for (Run& run : runs) {
            const QString out = dir.filePath("kad.avi");
            Figures f;
            if (!writeKadrillo(raw, out, run.interval, &f)) return 1;
            if (round == 0 || f.wall < run.figures.wall) run.figures = f;
            if (round == 2)
                std::printf(
                    "kadrillo (%s) file check: %s\n", run.label,
                    qPrintable(probe(out, "stream=codec_name,nb_read_packets").replace('\n', ' ')));
            QFile::remove(out);
        }
    }
    Figures type2;
    for (int round = 0; round < 3; ++round) {
        const QString out = dir.filePath("kad2.avi");
        Figures f;
        if (!writeKadrilloType2(raw, out, &f)) return 1;
        if (round == 0 || f.wall < type2.wall) type2 = f;
        if (round == 2)
            std::printf(
                "kadrillo type 2 file check: %s\n",
                qPrintable(probe(out, "stream=codec_name,nb_read_packets").replace('\n', ' ')));
        QFile::remove(out);
    }
    Figures avimux;
    for (int round = 0; round < 3; ++round) {
        const QString out = dir.filePath("avimux.avi");
        Figures f;
        if (!writeAvimuxType2(raw, out, &f)) return 1;
        if (round == 0 || f.wall < avimux.wall) avimux = f;
        QFile::remove(out);
    }
    Figures ff;
    {
        const QString out = dir.filePath("ff.avi");
        const double c0 = cpuSeconds(RUSAGE_CHILDREN);
        const auto t0 = std::chrono::steady_clock::now();
        QProcess p;
        p.start("ffmpeg",
                {"-v", "error", "-y", "-f", "dv", "-i", raw, "-c", "copy", "-f", "avi", out});
        p.waitForFinished(-1);
        ff.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ff.cpu = cpuSeconds(RUSAGE_CHILDREN) - c0;
        QFile::remove(out);
    }
    std::printf("\nDV to type-1 AVI, %d PAL frames (%.1f MB), non-live\n", frames, frames * 0.144);
    std::printf("%-22s %12s %16s %14s\n", "", "frames/s", "CPU ms/frame", "speed vs ff");
    for (const Run& run : runs) {
        const std::string label = std::string("kadrillo ") + run.label;
        std::printf("%-22s %12.0f %16.3f %14.2f\n", label.c_str(), frames / run.figures.wall,
                    1000 * run.figures.cpu / frames, ff.wall / run.figures.wall);
    }
    std::printf("%-22s %12.0f %16.3f %14.2f\n", "ffmpeg", frames / ff.wall, 1000 * ff.cpu / frames,
                1.0);
    // ffmpeg's copy into AVI writes the picture and the sound as two
    // streams: the same job as a type-2 file.
    std::printf("\nDV to type-2 AVI (picture and sound streams), same frames\n");
    std::printf("%-22s %12.0f %16.3f %14.2f\n", "kadrillo type 2", frames / type2.wall,
                1000 * type2.cpu / frames, ff.wall / type2.wall);
    std::printf("%-22s %12.0f %16.3f %14.2f\n", "avimux (before)", frames / avimux.wall,
                1000 * avimux.cpu / frames, ff.wall / avimux.wall);
    std::printf("%-22s %12.0f %16.3f %14.2f\n", "ffmpeg -c copy -f avi", frames / ff.wall,
                1000 * ff.cpu / frames, 1.0);
    std::printf("type 2 / type 1 (both sync 5 s): speed %.2f, CPU per frame %.2f\n",
                runs[1].figures.wall / type2.wall, type2.cpu / runs[1].figures.cpu);
    std::printf("ratio sync 5 s / sync off: speed %.2f, CPU %.2f\n",
                runs[0].figures.wall / runs[1].figures.wall,
                runs[1].figures.cpu / runs[0].figures.cpu);
    const double syncCost = fdatasyncSeconds(dir.path(), 125 * 144000);
    std::printf("fdatasync after 5 s of DV (18 MB): %.1f ms (median of 5), %.2f %% of the "
                "interval\n",
                1000 * syncCost, 100 * syncCost / 5.0);

    if (big) {
        const long bigFrames = 31500; // 4.54 GB
        const QString out = dir.filePath("big.avi");
        std::printf("\nwriting %ld frames (%.2f GB) through kaddvaviwriter...\n", bigFrames,
                    bigFrames * 144000.0 / 1e9);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = writeBig(raw, out, bigFrames);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("written: %s in %.1f s, size %lld bytes\n", ok ? "yes" : "NO", s,
                    static_cast<long long>(QFile(out).size()));
        const QString counted = probe(out, "stream=codec_name,nb_read_packets");
        std::printf("ffprobe: %s\n", qPrintable(QString(counted).replace('\n', ' ')));
        const bool whole = counted.contains(QStringLiteral("nb_read_packets=%1").arg(bigFrames));
        std::printf("read whole: %s\n", whole ? "yes" : "NO");
        QFile::remove(out);
        if (!ok || !whole) return 1;
    }
    return 0;
}
