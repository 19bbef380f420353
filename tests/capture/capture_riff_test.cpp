// A native-video capture that outgrows its first RIFF chunks: the virtual
// webcam's biggest raw picture, non-live, through the capture graph of an
// analog source, with the writer's RIFF limit lowered so that a few hundred
// frames fill several OpenDML 'AVIX' chunks.

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"
#include "support/edit_options.h"
#include "support/readers.h"

#include <QFile>
#include <QFileInfo>

#include <vector>

namespace kad::test {
namespace {

constexpr guint64 kRiffLimit = 8 * 1024 * 1024;

struct RiffChunk {
    qint64 at = 0;
    quint32 size = 0;
    QByteArray form; // "AVI " or "AVIX"
    bool hasMovi = false;
};

quint32 le32(const QByteArray& b, int at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 |
           quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}

// Walks the file's top-level RIFF chunks; false (with why) when they do not
// tile the file exactly.
bool readRiffChunks(const QString& name, std::vector<RiffChunk>& chunks, QString& why)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        why = "cannot open";
        return false;
    }
    const qint64 end = f.size();
    qint64 at = 0;
    while (at < end) {
        if (!f.seek(at)) {
            why = QString("cannot seek to %1").arg(at);
            return false;
        }
        const QByteArray head = f.read(24);
        if (head.size() < 12 || !head.startsWith("RIFF")) {
            why = QString("no RIFF header at %1").arg(at);
            return false;
        }
        RiffChunk c;
        c.at = at;
        c.size = le32(head, 4);
        c.form = head.mid(8, 4);
        // The first chunk opens with its headers; an extension chunk with
        // its movie list.
        if (c.form == "AVIX") c.hasMovi = head.size() == 24 && head.mid(20, 4) == "movi";
        chunks.push_back(c);
        at += 8 + c.size + (c.size & 1);
    }
    if (at != end) {
        why = QString("the last chunk ends at %1, the file at %2").arg(at).arg(end);
        return false;
    }
    return true;
}

// The OpenDML total frame count ('dmlh' in the first chunk's headers).
qint64 dmlhFrames(const QString& name)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    // The headers hold one super index slot for every RIFF chunk the
    // writer may need: over a megabyte of them when its limit is low.
    const QByteArray head = f.read(4 * 1024 * 1024);
    const int at = head.indexOf("dmlh");
    return at < 0 || at + 12 > head.size() ? -1 : qint64(le32(head, at + 8));
}

// Video frames GStreamer's AVI reader gives out of `name`; -1 when it does
// not read to the end.
qint64 avidemuxFrames(const QString& name)
{
    return kadtest::demuxRead(name, "avidemux", true).frames;
}

class CaptureRiff : public CaptureTest {};

TEST_F(CaptureRiff, NativeVideoAcrossSeveralRiffChunksIsReadWhole)
{
    // The sound card too, so both streams cross into the next chunk.
    ASSERT_TRUE(preview(Source::Webcam, false, true));
    const QString name = file("big.avi");
    kadtest::editOptions(cam.Capture(), [&](auto& options) { options.AviRiffLimit = kRiffLimit; });
    // 614400 bytes a frame: about thirteen frames a chunk.
    ASSERT_TRUE(capture(0, name, 150));
    const qint64 captured = qint64(cam.Capture().CapturedFrames() + cam.Capture().LostFrames());

    std::vector<RiffChunk> chunks;
    QString why;
    ASSERT_TRUE(readRiffChunks(name, chunks, why)) << why.toStdString();
    ASSERT_GE(chunks.size(), 8u);
    EXPECT_EQ(chunks[0].form, "AVI ");
    for (size_t i = 1; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].form, "AVIX") << "chunk " << i;
        EXPECT_TRUE(chunks[i].hasMovi) << "chunk " << i;
    }
    EXPECT_EQ(dmlhFrames(name), captured);
    for (const RiffChunk& c : chunks)
        EXPECT_LE(c.size, kRiffLimit) << "chunk at " << c.at;

    const Probed p = probe(name);
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.format, "avi");
    ASSERT_NE(p.first("video"), nullptr);
    EXPECT_EQ(p.first("video")->codec, "rawvideo");
    EXPECT_EQ(p.first("video")->width, 640);
    EXPECT_EQ(p.first("video")->height, 480);
    EXPECT_EQ(p.first("video")->frames, captured);
    EXPECT_EQ(p.count("audio"), 1);
    EXPECT_TRUE(p.error.isEmpty()) << p.error.toStdString();
    EXPECT_EQ(avidemuxFrames(name), captured);
}

} // namespace
} // namespace kad::test
