// What captures leave in the videos folder through the whole program: every
// file made holds a readable video, none is empty, and the name offered
// after a stop is free, so the next capture asks nothing.

#include <QDir>
#include <QFile>

#include <algorithm>
#include <string>
#include <vector>

#include "app/program_fixture.h"
#include "ui/moviebox_window.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

const QString kBox = QStringLiteral("Pinnacle Moviebox-B");

class ProgramCaptureFiles : public ProgramTest {
protected:
    // The MovieBox's priming dialog, closed as the user does.
    void primeTheBox()
    {
        TamorcerForm& instructions = *program->Parts().amorcerForm;
        ASSERT_TRUE(waitUntil(
            [&] {
                return instructions.PrimingDialog() && instructions.PrimingDialog()->isVisible();
            },
            5000));
        instructions.PrimingDialog()->reject();
        ASSERT_TRUE(waitUntil(
            [&] { return !instructions.PrimingDialog() && instructions.isHidden(); }, 5000));
    }

    // One capture by the toggle, at least `frames` frames into the file.
    void captureOnce(int frames = 15)
    {
        const QString name = form().CurrentVideoFileName();
        act(ActionId::acCapturerBascule)->trigger();
        ASSERT_EQ(form().State(), CaptureState::csCapturing) << name.toStdString();
        ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= guint64(frames); }))
            << name.toStdString();
        act(ActionId::acCapturerBascule)->trigger();
        ASSERT_TRUE(waitStopped()) << name.toStdString();
        ASSERT_TRUE(waitConnected()) << name.toStdString();
        pump(300);
        EXPECT_FALSE(QFileInfo::exists(form().CurrentVideoFileName()))
            << "the name offered next is taken: " << form().CurrentVideoFileName().toStdString();
    }

    // Every video file of the folder (capture reports aside): none empty,
    // each one read by ffprobe.
    void expectOnlyReadableFiles(const QStringList& expected)
    {
        const QFileInfoList files = QDir(videos).entryInfoList(
            {"*.avi", "*.wmv", "*.mpg"}, QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        std::vector<std::string> names;
        for (const QFileInfo& f : files) {
            names.push_back(f.absoluteFilePath().toStdString());
            EXPECT_GT(f.size(), 0) << f.absoluteFilePath().toStdString() << " is empty";
            const auto read = probeVideo(f.absoluteFilePath());
            EXPECT_TRUE(read.has_value()) << f.absoluteFilePath().toStdString();
            if (read) {
                EXPECT_GT(read->frames, 0) << f.absoluteFilePath().toStdString();
            }
        }
        std::vector<std::string> wanted;
        for (const QString& name : expected)
            wanted.push_back(QFileInfo(name).absoluteFilePath().toStdString());
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(names, wanted);
    }
};

TEST_F(ProgramCaptureFiles, TheMovieBoxLeavesNoEmptyFileAndTheNextCaptureAsksNothing)
{
    // A live box, as the real one (see the MovieBox tests).
    env.push_back(std::make_unique<ScopedEnv>("KADRILLO_VIRTUAL_LIVE", "1"));
    useDevices("moviebox");
    presetFolders();
    start();
    if (cam().Source().Kind() != SourceKind::skMovieBoxB) pickVideo(kBox);
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skMovieBoxB);
    primeTheBox();
    ASSERT_TRUE(waitForPicture());
    pickFormat(0);

    QStringList made;
    for (int i = 0; i < 2; ++i) {
        made << form().CurrentVideoFileName();
        ASSERT_NO_FATAL_FAILURE(captureOnce());
    }
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text.toStdString();
    EXPECT_TRUE(waitForPicture());
    program.reset();
    expectOnlyReadableFiles(made);
}

// Every other source and format: a stop leaves the files it wrote and no
// other.
TEST_F(ProgramCaptureFiles, NoOtherPathLeavesAnEmptyFile)
{
    useDevices("dv-pal-vcr,webcam,mpeg2,mic");
    presetFolders();
    start();
    struct Path {
        const char* source;
        SourceKind kind;
    };
    const Path paths[] = {{"Virtual DV Camcorder (PAL)", SourceKind::skDV},
                          {"Virtual Webcam", SourceKind::skAnalog},
                          {"Virtual MPEG-2 Encoder", SourceKind::skMpeg2}};
    QStringList made;
    for (const Path& path : paths) {
        ASSERT_NO_FATAL_FAILURE(pickVideo(QString::fromLatin1(path.source)));
        ASSERT_EQ(cam().Source().Kind(), path.kind) << path.source;
        const int formats = sourcesPanel().rgFormat->count();
        ASSERT_GE(formats, 2) << path.source;
        for (int format = 0; format < formats; ++format) {
            SCOPED_TRACE(std::string(path.source) + " format " + std::to_string(format));
            ASSERT_NO_FATAL_FAILURE(pickFormat(format));
            ASSERT_TRUE(waitForPicture());
            made << form().CurrentVideoFileName();
            ASSERT_NO_FATAL_FAILURE(captureOnce());
        }
    }
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text.toStdString();
    program.reset();
    expectOnlyReadableFiles(made);
}

} // namespace
} // namespace kad::test
