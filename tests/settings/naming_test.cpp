#include <gtest/gtest.h>

#include <QStringList>

#include "settings/naming.h"

using namespace kad;

namespace {

class NamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetStartupTime(QDateTime(QDate(2026, 12, 5), QTime(13, 48, 5)));
        state.videoDirectory = QStringLiteral("/data/Clips");
        state.imageDirectory = QStringLiteral("/data/Photos/");
    }
    void TearDown() override
    {
        SetVideoNameShown({});
        SetImageNameShown({});
    }

    NamingState state;
};

} // namespace

TEST_F(NamingTest, VideoExamples)
{
    EXPECT_EQ(NextVideoName(state), QStringLiteral("/data/Clips/Video_051226_134805_0.avi"));
    EXPECT_EQ(state.VideoCounter, 1);

    state.videoDate = false;
    state.VideoCounter = 0;
    EXPECT_EQ(NextVideoName(state), QStringLiteral("/data/Clips/Video_0.avi"));
}

TEST_F(NamingTest, FolderEndingWithSlashGetsNoSecondOne)
{
    state.videoDirectory = QStringLiteral("/data/Clips/");
    state.videoDate = false;
    EXPECT_EQ(NextVideoName(state), QStringLiteral("/data/Clips/Video_0.avi"));
    state.imageDate = false;
    EXPECT_EQ(NextImageName(state), QStringLiteral("/data/Photos/Image_0000.bmp"));
    state.imageDirectory = QStringLiteral("/data/Photos");
    EXPECT_EQ(NextImageName(state), QStringLiteral("/data/Photos/Image_0001.bmp"));
}

TEST_F(NamingTest, EmptyRootStartsWithUnderscore)
{
    state.videoRacine.clear();
    state.videoDate = false;
    EXPECT_EQ(NextVideoName(state), QStringLiteral("/data/Clips/_0.avi"));
    state.imageRacine.clear();
    EXPECT_EQ(NextImageName(state), QStringLiteral("/data/Photos/_0000.bmp"));
}

TEST_F(NamingTest, StartupTimeStaysInEveryNameOfTheRun)
{
    NextVideoName(state);
    NextVideoName(state);
    // The third name after two captures, whatever the clock says now.
    EXPECT_EQ(NextVideoName(state), QStringLiteral("/data/Clips/Video_051226_134805_2.avi"));
    EXPECT_EQ(state.VideoCounter, 3);
}

TEST_F(NamingTest, RebuildBeforeAnyNameBuildsTheFirst)
{
    EXPECT_TRUE(RebuildVideoName(state).endsWith(QStringLiteral("_0.avi")));
    EXPECT_EQ(state.VideoCounter, 1);
    EXPECT_TRUE(RebuildImageName(state).endsWith(QStringLiteral("_0000.bmp")));
    EXPECT_EQ(state.ImageCounter, 1);
}

TEST_F(NamingTest, ExtensionFollowsTheCaptureFormat)
{
    state.videoDate = false;
    state.VideoCounter = 4;
    state.captureFormat = CaptureFormatOf(SourceKind::skMovieBoxB, 0);
    EXPECT_EQ(NextVideoName(state), QStringLiteral("/data/Clips/Video_4.mpg"));
    state.captureFormat = CaptureFormatOf(SourceKind::skDV, 3);
    EXPECT_EQ(NextVideoName(state), QStringLiteral("/data/Clips/Video_5.wmv"));
    // A position left over from a Windows Media choice while no video source
    // is connected must not name the next file ".wmv".
    state.captureFormat = CaptureFormatOf(SourceKind::skNoVideo, 2);
    EXPECT_EQ(NextVideoName(state), QStringLiteral("/data/Clips/Video_6.avi"));
}

TEST_F(NamingTest, ImageExamplesAndFourDigitCounter)
{
    state.ImageCounter = 7;
    state.imageExtension = 1;
    EXPECT_EQ(NextImageName(state), QStringLiteral("/data/Photos/Image_0007.jpg"));
    EXPECT_EQ(state.ImageCounter, 8);

    state.imageExtension = 0;
    state.ImageCounter = 12345;
    EXPECT_EQ(NextImageName(state), QStringLiteral("/data/Photos/Image_2345.bmp"));
    state.ImageCounter = 9999;
    EXPECT_EQ(NextImageName(state), QStringLiteral("/data/Photos/Image_9999.bmp"));
    EXPECT_EQ(NextImageName(state), QStringLiteral("/data/Photos/Image_0000.bmp"));

    state.imageDate = true;
    state.ImageCounter = 0;
    EXPECT_EQ(NextImageName(state), QStringLiteral("/data/Photos/Image_051226_134805_0000.bmp"));
}

TEST_F(NamingTest, HooksReceiveTheFileNamePart)
{
    QStringList video;
    QStringList image;
    SetVideoNameShown([&video](const QString& name) { video << name; });
    SetImageNameShown([&image](const QString& name) { image << name; });
    NextVideoName(state);
    RebuildVideoName(state);
    NextImageName(state);
    EXPECT_EQ(video, QStringList(2, QStringLiteral("Video_051226_134805_0.avi")));
    EXPECT_EQ(image, QStringList{QStringLiteral("Image_0000.bmp")});

    SetVideoNameShown({});
    NextVideoName(state);
    EXPECT_EQ(video.size(), 2);
    EXPECT_EQ(FileNamePart(QStringLiteral("/a/b/c.avi")), QStringLiteral("c.avi"));
    EXPECT_EQ(FileNamePart(QStringLiteral("c.avi")), QStringLiteral("c.avi"));
}
