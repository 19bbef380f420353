// DV captures cut at each new recording of the tape, through the capture
// graphs of both DV types: every frame in exactly one file, each file after
// the first beginning with a recording's first frame.

#include "capture_graph_fixture.h"
#include "elements/dv_avi_writer_helpers.h"
#include "elements/kad_transport.h"
#include "elements/recording_files.h"
#include "media/dv/dv_packs.h"
#include "media/dv/recording_watch.h"
#include "support/edit_options.h"
#include "support/readers.h"

#include <QDir>
#include <QFile>

namespace kad::test {
namespace {

using kadtest::firstFrameDate;

// The virtual camcorder's tape: scene k begins 97631 s after scene k - 1,
// from 2019-07-14 10:21:07.
bool isSceneStart(const dv::RecordingDateTime& when)
{
    const std::int64_t since = dv::secondsOf(when) - dv::secondsOf({2019, 7, 14, 10, 21, 7});
    return since >= 0 && since % 97631 == 0;
}

class CaptureRecordings : public CaptureTest {
protected:
    // The preview of the virtual camcorder playing its tape (the fixture's
    // is a camera, which records the present moment), one recording a
    // second.
    bool previewTape()
    {
        source = gst_element_factory_make("kadvirtualdvsrc", nullptr);
        g_object_set(source, "is-live", FALSE, "scene-length", 1u, NULL);
        return cam.Source().ConnectSourceElement("Virtual", source) &&
               cam.Preview().BuildPreviewGraph() && cam.FilterGraph().RunGraph();
    }

    // Adds each file the capture splits into to `files` and names the next
    // one ahead, as the program does.
    QMetaObject::Connection nameEachSplitAhead(QStringList& files)
    {
        return QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFileSwitched,
                                [this, &files](const QString&, const QString& to) {
                                    files << to;
                                    cam.Capture().SetRecordingSplitName(QString::fromStdString(
                                        dv::nextNumberedName(to.toStdString())));
                                });
    }

    // Captures the tape, one recording a second, in `format` from name _0;
    // names the next file ahead after every switch, as the program does.
    QStringList captureScenes(int format, const char* stem, guint64 frames)
    {
        EXPECT_TRUE(previewTape());
        const QString first = file(stem) + "_0.avi";
        kadtest::editOptions(cam.Capture(), [&](auto& options) {
            options.SplitAtRecording = true;
            options.SplitFileName = file(stem) + "_1.avi";
        });
        QStringList switched;
        const QMetaObject::Connection c = nameEachSplitAhead(switched);
        EXPECT_TRUE(capture(format, first, frames));
        QCoreApplication::processEvents();
        QObject::disconnect(c);
        return QStringList{first} + switched;
    }

    // DV type 1 and 2 carry the tape's sound; the recompressed capture of
    // this preview has none.
    qint64 videoFrames(const QString& name, bool withSound = true)
    {
        const Probed p = probe(name);
        EXPECT_TRUE(p.ok) << name.toStdString() << ": " << p.error;
        EXPECT_EQ(p.first("audio") != nullptr, withSound) << name.toStdString();
        return p.first("video") ? p.first("video")->frames : -1;
    }
};

TEST_F(CaptureRecordings, BothDvTypesCutAtEachRecordingWithoutLosingAFrame)
{
    for (int format : {0, 1}) {
        SCOPED_TRACE(format == 0 ? "type 1" : "type 2");
        const QStringList files = captureScenes(format, format == 0 ? "t1" : "t2", 90);
        ASSERT_GE(files.size(), 4) << files.join(u',').toStdString();
        qint64 total = 0;
        for (int k = 0; k < files.size(); ++k) {
            EXPECT_EQ(files[k], file(format == 0 ? "t1" : "t2") + QString("_%1.avi").arg(k));
            const qint64 frames = videoFrames(files[k]);
            total += frames;
            const auto date = firstFrameDate(files[k]);
            ASSERT_TRUE(date.has_value()) << files[k].toStdString();
            if (k > 0) {
                EXPECT_TRUE(isSceneStart(*date)) << files[k].toStdString();
                // A whole recording between two cuts.
                if (k + 1 < files.size()) {
                    EXPECT_EQ(frames, 25) << files[k].toStdString();
                }
            }
        }
        EXPECT_EQ(total, qint64(cam.Capture().CapturedFrames()));
        cam.FilterGraph().FreeAllFilters();
    }
}

TEST_F(CaptureRecordings, NamesByDateFollowTheFilesAndOtherFormatsIgnoreTheOptions)
{
    ASSERT_TRUE(previewTape());
    kadtest::editOptions(cam.Capture(), [&](auto& options) {
        options.SplitAtRecording = true;
        options.DateNameRoot = file("Tape");
    });
    QStringList renamed;
    QObject::connect(&cam.Capture(), &TcaptureRun::CaptureFileRenamed,
                     [&](const QString&, const QString& to) { renamed << to; });
    ASSERT_TRUE(capture(0, file("Video_0.avi"), 60));
    QCoreApplication::processEvents();
    ASSERT_GE(renamed.size(), 3);
    EXPECT_EQ(cam.Capture().CaptureFileName(), renamed.last());
    qint64 total = 0;
    for (const QString& name : renamed) {
        const auto date = firstFrameDate(name);
        ASSERT_TRUE(date.has_value()) << name.toStdString();
        EXPECT_EQ(name, file("Tape_") + QString::fromStdString(dv::fileNameStamp(*date)) + ".avi");
        total += videoFrames(name);
    }
    EXPECT_EQ(total, qint64(cam.Capture().CapturedFrames()));
    EXPECT_FALSE(QFile::exists(file("Video_0.avi")));
    cam.FilterGraph().FreeAllFilters();

    // DV recompressed to DV: no cut, no new name.
    ASSERT_TRUE(previewTape());
    renamed.clear();
    const QString recompressed = file("recompressed.avi");
    ASSERT_TRUE(capture(2, recompressed, 60));
    QCoreApplication::processEvents();
    EXPECT_TRUE(renamed.isEmpty());
    EXPECT_EQ(videoFrames(recompressed, false), qint64(cam.Capture().CapturedFrames()));
}

// What a worn tape and a camcorder's clock make of the second recording of
// the virtual camcorder's tape (frames 25 to 49): the recording start
// flagged on its first six frames, with one frame among them whose packs are
// all gone, and one frame still dated a second before the recording's.
QByteArray wornTape(const QString& raw)
{
    constexpr std::size_t kFrame = 144000, kBlock = 80, kSequence = 150 * kBlock;
    QFile f(raw);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray tape = f.readAll();
    auto frame = [&](int i) { return reinterpret_cast<std::uint8_t*>(tape.data()) + i * kFrame; };
    for (int i = 25; i <= 30; ++i) {
        for (std::size_t s = 0; s < 12; ++s) {
            std::uint8_t* vsc = frame(i) + s * kSequence + 5 * kBlock + 3 + 10 * 5;
            const std::uint8_t pack[5] = {0x61, 0x3F, 0x48, 0xFC, 0xFF};
            std::copy(pack, pack + 5, vsc);
        }
    }
    for (std::size_t s = 0; s < 12; ++s) {
        std::uint8_t* seq = frame(28) + s * kSequence;
        for (int b = 0; b < 3; ++b)
            std::fill_n(seq + (3 + b) * kBlock + 3, 75, 0xFF);
        for (int b = 0; b < 9; ++b)
            std::fill_n(seq + (6 + 16 * b) * kBlock + 3, 5, 0xFF);
    }
    const auto second = dv::agreedRecordingDateTime(frame(25), kFrame);
    if (!second) return {};
    dv::writeRecordingDateTime(frame(40), kFrame, dv::fromSeconds(dv::secondsOf(*second) - 1));
    return tape;
}

TEST_F(CaptureRecordings, AFlagDropoutOrAStaleSecondOnTheTapeCutsNoRecordingInTwo)
{
    const QString raw = file("tape.dv");
    ASSERT_TRUE(kadtest::runLaunch("kadvirtualdvsrc is-live=false scene-length=1 "
                                   "num-buffers=100 ! filesink location=" +
                                   raw.toStdString())
                    .eos);
    const QByteArray worn = wornTape(raw);
    ASSERT_EQ(worn.size(), 100 * 144000);
    const QString tape = file("worn.dv");
    {
        QFile out(tape);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write(worn), worn.size());
    }
    for (int format : {0, 1}) {
        SCOPED_TRACE(format == 0 ? "type 1" : "type 2");
        // The tape waits on its first frame until the capture runs.
        source = gst_element_factory_make("kadvirtualdvfilesrc", nullptr);
        ASSERT_TRUE(source);
        g_object_set(source, "location", tape.toUtf8().constData(), "transport-mode",
                     KAD_TRANSPORT_FREEZE, NULL);
        ASSERT_TRUE(cam.Source().ConnectSourceElement("Virtual", source) &&
                    cam.Preview().BuildPreviewGraph() && cam.FilterGraph().RunGraph());
        const QString stem = file(format == 0 ? "t1" : "t2");
        kadtest::editOptions(cam.Capture(), [&](auto& options) {
            options.SplitAtRecording = true;
            options.SplitFileName = stem + "_1.avi";
            options.FormatIndex = format;
        });
        cam.Capture().SetCurrentVideoFileName(stem + "_0.avi");
        QStringList files{cam.Capture().CurrentVideoFileName()};
        const QMetaObject::Connection c = nameEachSplitAhead(files);
        ASSERT_TRUE(cam.Capture().BuildCaptureGraph());
        g_object_set(source, "transport-mode", KAD_TRANSPORT_PLAY, NULL);
        EXPECT_TRUE(waitUntil([&] { return cam.Capture().CapturedFrames() >= 85; }, 20000));
        EXPECT_TRUE(cam.Capture().FinishCapture());
        QCoreApplication::processEvents();
        QObject::disconnect(c);

        // One file for each recording: the second one whole in _1.
        ASSERT_EQ(files.size(), 4) << files.join(u',').toStdString();
        qint64 total = 0;
        for (int k = 0; k < files.size(); ++k) {
            const qint64 frames = videoFrames(files[k]);
            total += frames;
            if (k == 0) continue;
            const auto date = firstFrameDate(files[k]);
            ASSERT_TRUE(date.has_value()) << files[k].toStdString();
            EXPECT_TRUE(isSceneStart(*date)) << files[k].toStdString();
            if (k < 3) {
                EXPECT_EQ(frames, 25) << files[k].toStdString();
            }
        }
        EXPECT_EQ(total, qint64(cam.Capture().CapturedFrames()));
        cam.FilterGraph().FreeAllFilters();
    }
}

} // namespace
} // namespace kad::test
