#pragma once

// Reading files back with readers Kadrillo did not write: ffprobe (and the
// other command-line tools), each run with a deadline.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace kadtest {

// The standard output of `tool`, or nothing when it did not finish within
// two minutes.
inline QByteArray runTool(const QString& tool, const QStringList& args)
{
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(120000)) return {};
    return p.readAllStandardOutput();
}

struct ProbeStream {
    std::string type;
    std::string codec;
    std::string codecTag;
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    long long durationTs = 0;
    long long frames = -1; // counted frames (video) or packets; -1: not counted
    std::string frameRate;
};

struct Probe {
    bool ok = false;   // ffprobe read the file without error
    std::string error; // what ffprobe said on its error output
    std::string format;
    std::vector<ProbeStream> streams;
    const ProbeStream* first(const std::string& type) const
    {
        for (const ProbeStream& s : streams) {
            if (s.type == type) return &s;
        }
        return nullptr;
    }
    int count(const std::string& type) const
    {
        int n = 0;
        for (const ProbeStream& s : streams)
            n += s.type == type;
        return n;
    }
};

// ffprobe with counted packets (-count_packets) or decoded frames.
inline Probe ffprobe(const std::string& file, bool countFrames = false)
{
    Probe probe;
    QProcess p;
    p.start("ffprobe",
            {"-v", "error", countFrames ? "-count_frames" : "-count_packets", "-show_entries",
             "format=format_name:stream=codec_type,codec_name,codec_tag_string,width,"
             "height,sample_rate,channels,bits_per_sample,duration_ts,nb_read_frames,"
             "nb_read_packets,r_frame_rate",
             "-of", "json", QString::fromStdString(file)});
    if (!p.waitForFinished(120000)) {
        probe.error = "ffprobe did not finish";
        return probe;
    }
    probe.error = p.readAllStandardError().toStdString();
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    probe.format = root["format"].toObject()["format_name"].toString().toStdString();
    for (const QJsonValue& v : root["streams"].toArray()) {
        const QJsonObject o = v.toObject();
        ProbeStream s;
        s.type = o["codec_type"].toString().toStdString();
        s.codec = o["codec_name"].toString().toStdString();
        s.codecTag = o["codec_tag_string"].toString().toStdString();
        s.width = o["width"].toInt();
        s.height = o["height"].toInt();
        s.sampleRate = o["sample_rate"].toString().toInt();
        s.channels = o["channels"].toInt();
        s.bitsPerSample = o["bits_per_sample"].toInt();
        s.durationTs = o["duration_ts"].toInteger();
        const QString counted = o[countFrames ? "nb_read_frames" : "nb_read_packets"].toString();
        s.frames = counted.isEmpty() ? -1 : counted.toLongLong();
        s.frameRate = o["r_frame_rate"].toString().toStdString();
        probe.streams.push_back(s);
    }
    probe.ok = p.exitCode() == 0 && !probe.format.empty();
    return probe;
}

} // namespace kadtest
