#pragma once

// Reading files back with readers Kadrillo did not write, beside ffprobe
// (probe.h): GStreamer's own demuxers, ffmpeg, and a walk of an AVI's RIFF
// chunks; and DV test material made by ffmpeg. Every reader has a deadline.
// Free of GoogleTest, so the benchmarks read their files the same way.

#include "media/dv/recording_watch.h"
#include "platform/media/gst_ptr.h"
#include "support/probe.h"

#include <gst/gst.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace kadtest {

// What one of GStreamer's demuxers gives out of a file.
struct Demuxed {
    long long frames = -1;     // buffers of the first video stream; -1: not read to the end
    long long soundBytes = -1; // bytes of the first audio stream, when it was read
    std::string error;         // why the file was not read to the end
};

// Reads `file` to its end through `demuxer` ("avidemux", "asfdemux"),
// counting the buffers of its first video stream and, with `sound`, the
// bytes of its first audio stream (a file without one never ends then).
// avidemux reads an AVI through its index only.
inline Demuxed demuxRead(const QString& file, const char* demuxer, bool sound, int seconds = 60)
{
    Demuxed d;
    std::string description = std::string("filesrc name=src ! ") + demuxer +
                              " name=d d.video_0 ! queue ! fakesink name=v";
    if (sound) description += " d.audio_0 ! queue ! fakesink name=a";
    GError* err = nullptr;
    kad::ElementRef p = kad::ElementRef::sink(gst_parse_launch(description.c_str(), &err));
    if (err) {
        d.error = std::string("parse: ") + err->message;
        g_error_free(err);
        return d;
    }
    kad::ElementRef src(gst_bin_get_by_name(GST_BIN(p.get()), "src"));
    g_object_set(src.get(), "location", file.toUtf8().constData(), nullptr);
    std::atomic<long long> frames{0}, bytes{0};
    const auto count = [&p](const char* sink, GstPadProbeCallback callback, void* into) {
        kad::ElementRef e(gst_bin_get_by_name(GST_BIN(p.get()), sink));
        kad::PadRef pad(gst_element_get_static_pad(e.get(), "sink"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, callback, into, nullptr);
    };
    count(
        "v",
        [](GstPad*, GstPadProbeInfo*, gpointer n) {
            ++*static_cast<std::atomic<long long>*>(n);
            return GST_PAD_PROBE_OK;
        },
        &frames);
    if (sound)
        count(
            "a",
            [](GstPad*, GstPadProbeInfo* info, gpointer n) {
                *static_cast<std::atomic<long long>*>(n) +=
                    gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
                return GST_PAD_PROBE_OK;
            },
            &bytes);
    kad::BusRef bus(gst_element_get_bus(p.get()));
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    kad::MessageRef msg(
        gst_bus_timed_pop_filtered(bus.get(), GstClockTime(seconds) * GST_SECOND,
                                   GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(p.get(), GST_STATE_NULL);
    if (!msg) {
        d.error = "not read to the end in " + std::to_string(seconds) + " s";
    } else if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
        gst_message_parse_error(msg.get(), &err, nullptr);
        d.error = err ? err->message : "error";
        if (err) g_error_free(err);
    } else {
        d.frames = frames.load();
        if (sound) d.soundBytes = bytes.load();
    }
    return d;
}

inline Demuxed demuxRead(const std::string& file, const char* demuxer, bool sound, int seconds = 60)
{
    return demuxRead(QString::fromStdString(file), demuxer, sound, seconds);
}

// The top-level RIFF chunks of an AVI file, by their form ("AVI ", "AVIX").
struct RiffTiles {
    QStringList forms;
    bool whole = false; // the chunks tile the file exactly
};

inline RiffTiles riffTiles(const QString& file)
{
    RiffTiles tiles;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return tiles;
    qint64 at = 0;
    while (at < f.size()) {
        if (!f.seek(at)) return tiles;
        const QByteArray head = f.read(12);
        if (head.size() < 12 || !head.startsWith("RIFF")) return tiles;
        const auto size = qFromLittleEndian<quint32>(head.constData() + 4);
        tiles.forms << QString::fromLatin1(head.mid(8, 4));
        at += 8 + qint64(size) + (size & 1);
    }
    tiles.whole = at == f.size();
    return tiles;
}

// Where each stream starts and how long it lasts as ffprobe gives them, in
// seconds; the sound's length from its samples (PCM in AVI has no duration
// of its own).
struct StreamTimes {
    double videoStart = -1;
    double videoLength = -1;
    double audioStart = -1;
    double audioLength = -1;
};

inline StreamTimes streamTimes(const QString& file)
{
    const QJsonObject root =
        QJsonDocument::fromJson(runTool("ffprobe", {"-v", "error", "-show_entries",
                                                    "stream=codec_type,start_time,duration,"
                                                    "sample_rate,nb_frames",
                                                    "-of", "json", file}))
            .object();
    StreamTimes t;
    for (const QJsonValue& v : root["streams"].toArray()) {
        const QJsonObject o = v.toObject();
        if (o["codec_type"].toString() == "video") {
            t.videoStart = o["start_time"].toString().toDouble();
            t.videoLength = o["duration"].toString().toDouble();
        } else {
            t.audioStart = o["start_time"].toString().toDouble();
            t.audioLength =
                o["nb_frames"].toString().toDouble() / o["sample_rate"].toString().toDouble();
        }
    }
    return t;
}

// Where one stream of a file begins and ends, in seconds of the file's
// time line.
struct PacketSpan {
    double start = -1;
    double end = -1;
    double lastStart = -1;
    int packets = 0;
    double length() const { return end - start; }
    // The time between packets (picture packets carry no duration in
    // either reader, and asfdemux's sound none either).
    double step() const { return packets > 1 ? (lastStart - start) / (packets - 1) : 0.0; }
};

struct PacketSpans {
    PacketSpan video;
    PacketSpan audio;
};

inline void widenSpan(PacketSpan& s, double start, double end)
{
    if (s.packets == 0 || start < s.start) s.start = start;
    if (s.packets == 0 || end > s.end) s.end = end;
    if (s.packets == 0 || start > s.lastStart) s.lastStart = start;
    ++s.packets;
}

// A packet without a duration lasts until the next one, the last one as
// long as the others.
inline void closeSpans(PacketSpans& spans)
{
    for (PacketSpan* s : {&spans.video, &spans.audio})
        s->end = std::max(s->end, s->lastStart + s->step());
}

// The streams' spans read from every packet by ffprobe.
inline PacketSpans packetSpans(const QString& file)
{
    const QByteArray out =
        runTool("ffprobe", {"-v", "error", "-show_entries",
                            "packet=codec_type,pts_time,duration_time", "-of", "json", file});
    PacketSpans spans;
    for (const QJsonValue& v : QJsonDocument::fromJson(out).object()["packets"].toArray()) {
        const QJsonObject p = v.toObject();
        const double start = p["pts_time"].toString().toDouble();
        const double end = start + p["duration_time"].toString().toDouble();
        widenSpan(p["codec_type"].toString() == "video" ? spans.video : spans.audio, start, end);
    }
    closeSpans(spans);
    return spans;
}

// The recording date of a file's first DV frame, as ffmpeg hands it out.
inline std::optional<kad::dv::RecordingDateTime> firstFrameDate(const QString& file)
{
    const QByteArray frame =
        runTool("ffmpeg", {"-v", "error", "-i", file, "-map", "0:v:0", "-frames:v", "1", "-c",
                           "copy", "-f", "rawvideo", "-"});
    if (frame.size() != 144000) return std::nullopt;
    return kad::dv::agreedRecordingDateTime(reinterpret_cast<const std::uint8_t*>(frame.data()),
                                            frame.size());
}

inline std::optional<kad::dv::RecordingDateTime> firstFrameDate(const std::string& file)
{
    return firstFrameDate(QString::fromStdString(file));
}

// Raw DV made by ffmpeg: its test pattern and a 440 Hz tone at 48 kHz
// stereo, `seconds` long, PAL or NTSC. ffmpeg stamps no camcorder's
// recording date. True when the file is there.
inline bool ffmpegDv(const QString& path, const QString& seconds, bool ntsc = false)
{
    runTool("ffmpeg",
            {"-v", "error", "-y", "-f", "lavfi", "-i",
             ntsc ? "testsrc=size=720x480:rate=30000/1001" : "testsrc=size=720x576:rate=25", "-f",
             "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", seconds, "-target",
             ntsc ? "ntsc-dv" : "pal-dv", path});
    return QFileInfo(path).size() > 0;
}

} // namespace kadtest
