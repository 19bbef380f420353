#pragma once

// Helpers shared by the writer tests: run a pipeline to its end, make DV
// test material, and read files back with ffprobe/ffmpeg (readers Kadrillo
// did not write).

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "platform/media/gst_ptr.h"
#include "support/pipeline.h"
#include "support/probe.h"

namespace kadtest {

struct RunResult {
    bool eos = false;
    bool error = false;
    GQuark domain = 0;
    int code = 0;
    std::string message;
    std::vector<kad::GstStructurePtr> elementMessages;
    std::vector<std::string> warnings;
};

// Plays `pipeline` until EOS or an error. `onTick` runs on this thread every
// few milliseconds while it plays (it may change properties, like the GUI
// thread would). The pipeline is set to NULL before returning.
inline RunResult runPipeline(GstElement* pipeline, const std::function<void()>& onTick = {},
                             int timeoutSeconds = 60)
{
    RunResult r;
    kad::BusRef bus(gst_element_get_bus(pipeline));
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        kad::MessageRef msg(gst_bus_timed_pop(bus.get(), 2 * GST_MSECOND));
        if (onTick) onTick();
        if (!msg) continue;
        if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_EOS) {
            r.eos = true;
            break;
        }
        if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
            GError* err = nullptr;
            gst_message_parse_error(msg.get(), &err, nullptr);
            r.error = true;
            r.domain = err->domain;
            r.code = err->code;
            r.message = err->message;
            g_error_free(err);
            break;
        }
        if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ELEMENT) {
            if (const GstStructure* s = gst_message_get_structure(msg.get()))
                r.elementMessages.emplace_back(gst_structure_copy(s));
        }
        if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_WARNING) {
            GError* err = nullptr;
            gst_message_parse_warning(msg.get(), &err, nullptr);
            r.warnings.emplace_back(err->message);
            g_error_free(err);
        }
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return r;
}

inline RunResult runLaunch(const std::string& description)
{
    kad::ElementRef p = launch(description);
    if (!p) return {};
    return runPipeline(p.get());
}

// Runs `description` with files limited to `bytes`: writes past the limit
// fail with EFBIG, as they would with ENOSPC on a full disk.
inline RunResult runLaunchOnAFullDisk(const std::string& description, rlim_t bytes)
{
    struct rlimit old {};
    if (getrlimit(RLIMIT_FSIZE, &old) != 0) return {};
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = bytes;
    RunResult r;
    if (setrlimit(RLIMIT_FSIZE, &limited) == 0) r = runLaunch(description);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return r;
}

// The launch text of a DV source (video/x-dv, systemstream=true) of
// `frames` frames with 48 kHz stereo audio.
inline std::string dvSource(bool pal, int frames)
{
    const std::string n = std::to_string(frames);
    const std::string video = pal ? "video/x-raw,width=720,height=576,framerate=25/1"
                                  : "video/x-raw,width=720,height=480,framerate=30000/1001";
    const std::string samples = pal ? "1920" : "1602";
    return "videotestsrc pattern=ball num-buffers=" + n + " ! " + video +
           " ! videoconvert ! avenc_dvvideo ! mux. audiotestsrc num-buffers=" + n +
           " samplesperbuffer=" + samples +
           " ! audio/x-raw,rate=48000,channels=2,format=S16LE ! mux. avmux_dv name=mux";
}

// Writes a raw DV file of `frames` frames; true on success.
inline bool makeRawDv(const std::string& path, bool pal, int frames)
{
    const RunResult r = runLaunch(dvSource(pal, frames) + " ! filesink location=" + path);
    return r.eos && !r.error;
}

// The whole audio stream of `file` as raw samples: how ffmpeg cuts PCM into
// packets depends on where the muxer interleaved the chunks, the samples do
// not.
inline QByteArray audioSamples(const std::string& file)
{
    return runTool("ffmpeg", {"-v", "error", "-i", QString::fromStdString(file), "-map", "0:a:0",
                              "-c:a", "pcm_s16le", "-f", "s16le", "-"});
}

// The MD5 of every packet of the first stream of `type` ("v" or "a"), in
// order, as ffmpeg's framemd5 muxer prints them. `inputFormat` forces the
// demuxer ("dv" for raw DV).
inline std::vector<std::string> packetMd5s(const std::string& file, const char* type = "v",
                                           const char* inputFormat = nullptr)
{
    QStringList args{"-v", "error"};
    if (inputFormat) args << "-f" << inputFormat;
    args << "-i" << QString::fromStdString(file) << "-map" << QString("0:%1:0").arg(type) << "-c"
         << "copy"
         << "-f"
         << "framemd5"
         << "-";
    std::vector<std::string> out;
    for (const QByteArray& line : runTool("ffmpeg", args).split('\n')) {
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QList<QByteArray> cols = line.split(',');
        if (cols.size() >= 6) out.push_back(cols.last().trimmed().toStdString());
    }
    return out;
}

// What ffmpeg complains about while reading every packet of `file`.
inline std::string readerWarnings(const std::string& file)
{
    QProcess p;
    p.start("ffmpeg", {"-v", "warning", "-i", QString::fromStdString(file), "-map", "0", "-c",
                       "copy", "-f", "null", "-"});
    if (!p.waitForFinished(120000)) return "ffmpeg did not finish";
    // ffmpeg's note that it assumed stereo for a PCM stream is no fault.
    std::string out;
    for (const QByteArray& line : p.readAllStandardError().split('\n')) {
        if (!line.isEmpty() && !line.startsWith("Guessed Channel Layout"))
            out += line.toStdString() + "\n";
    }
    return out;
}

inline QByteArray readAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// Drops the end of the stream at `pad`: what lies beyond it sees no more
// data and no end either, as a writer behind a tape that stopped does.
// Gives the probe's id.
inline gulong holdBackEndOfStream(GstPad* pad)
{
    return gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo* info, gpointer) {
            return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS
                       ? GST_PAD_PROBE_DROP
                       : GST_PAD_PROBE_OK;
        },
        nullptr, nullptr);
}

} // namespace kadtest
