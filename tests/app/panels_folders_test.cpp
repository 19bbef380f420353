// The Folders panel: folders come only from the browser, and every change of
// folder, root or date switch rebuilds the next name with the same number.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "settings/naming.h"
#include "ui/folders_panel.h"
#include "ui/sources_panel.h"

using namespace kad;

namespace {

class FoldersPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetStartupTime(QDateTime(QDate(2026, 12, 5), QTime(13, 48, 5)));
        naming.videoDirectory = "/clips";
        naming.imageDirectory = "/photos/";
        panel.setNamingState(&naming);
        panel.setFolderChooser([this](QWidget*, const QString&, const QString& start) {
            starts << start;
            return chosen.isEmpty() ? QString() : chosen.takeFirst();
        });
    }

    NamingState naming;
    TDossiersFrame panel;
    QStringList chosen;
    QStringList starts;
};

} // namespace

TEST_F(FoldersPanel, ChangingTheVideoFolderThreeTimesKeepsTheNumber)
{
    naming.VideoCounter = 3; // two captures made, the third name shown
    QSignalSpy names(&panel, &TDossiersFrame::currentVideoFileNameChanged);
    QSignalSpy folders(&panel, &TDossiersFrame::videoDirectoryChanged);
    chosen << "/a"
           << "/b/"
           << "/c";
    panel.ChooseVideoFolder();
    panel.ChooseVideoFolder();
    panel.ChooseVideoFolder();
    ASSERT_EQ(names.count(), 3);
    EXPECT_EQ(names.at(0).at(0).toString(), "/a/Video_051226_134805_2.avi");
    EXPECT_EQ(names.at(1).at(0).toString(), "/b/Video_051226_134805_2.avi");
    EXPECT_EQ(names.at(2).at(0).toString(), "/c/Video_051226_134805_2.avi");
    EXPECT_EQ(naming.VideoCounter, 3);
    EXPECT_EQ(folders.at(2).at(0).toString(), "/c");
    EXPECT_EQ(panel.VideoDirEdit->text(), "/c");
    EXPECT_EQ(panel.LabelVideo->text(), "Video_051226_134805_2.avi");
    // The browser opens where the field points.
    EXPECT_EQ(starts, QStringList({"", "/a", "/b/"}));
}

TEST_F(FoldersPanel, CancellingTheBrowserChangesNothing)
{
    panel.VideoDirEdit->setText("/clips");
    QSignalSpy names(&panel, &TDossiersFrame::currentVideoFileNameChanged);
    panel.ChooseVideoFolder();
    EXPECT_EQ(names.count(), 0);
    EXPECT_EQ(panel.VideoDirEdit->text(), "/clips");
    // The field itself does not take typed text.
    EXPECT_TRUE(panel.VideoDirEdit->isReadOnly());
    EXPECT_TRUE(panel.ImageDirEdit->isReadOnly());
}

TEST_F(FoldersPanel, RootAndDateRebuildWithoutUsingANumber)
{
    naming.VideoCounter = 1;
    naming.ImageCounter = 7;
    panel.VideoDirEdit->setText("/clips");
    QSignalSpy video(&panel, &TDossiersFrame::currentVideoFileNameChanged);
    QSignalSpy image(&panel, &TDossiersFrame::nextImageFileNameChanged);

    panel.VideoRacineEdit->setText("");
    EXPECT_EQ(video.count(), 0) << "the name follows the root only when the field is left";
    emit panel.VideoRacineEdit->editingFinished();
    ASSERT_EQ(video.count(), 1);
    EXPECT_EQ(video.at(0).at(0).toString(), "/clips/_051226_134805_0.avi");

    panel.cbVideoDate->click();
    EXPECT_EQ(video.last().at(0).toString(), "/clips/_0.avi");
    EXPECT_EQ(naming.VideoCounter, 1);

    panel.cbImageDate->click();
    EXPECT_EQ(image.last().at(0).toString(), "/photos/Image_051226_134805_0006.bmp");
    panel.ImageRacineEdit->setText("Shot");
    QTest::keyClick(panel.ImageRacineEdit, Qt::Key_Return);
    EXPECT_EQ(image.last().at(0).toString(), "/photos/Shot_051226_134805_0006.bmp");
    EXPECT_EQ(panel.LabelImage->text(), "Shot_051226_134805_0006.bmp");
    EXPECT_EQ(naming.ImageCounter, 7);
}

TEST_F(FoldersPanel, ImageFolderViewerLabelsAndOpenFolders)
{
    QSignalSpy image(&panel, &TDossiersFrame::nextImageFileNameChanged);
    QSignalSpy imageFolder(&panel, &TDossiersFrame::imageDirectoryChanged);
    chosen << "/pics";
    panel.ChooseImageFolder();
    EXPECT_EQ(imageFolder.at(0).at(0).toString(), "/pics");
    EXPECT_EQ(image.last().at(0).toString(), "/pics/Image_0000.bmp");

    QSignalSpy viewer(&panel, &TDossiersFrame::ferrovuePathChanged);
    panel.setFileChooser(
        [](QWidget*, const QString&, const QString&) { return QString("/opt/ferrovue/ferrovue"); });
    panel.ChooseFerrovue();
    EXPECT_EQ(panel.feFerrovue->text(), "/opt/ferrovue/ferrovue");
    EXPECT_EQ(viewer.last().at(0).toString(), "/opt/ferrovue/ferrovue");

    QList<QUrl> opened;
    SetUrlOpener([&opened](const QUrl& url) { opened << url; });
    panel.VideoDirEdit->setText("/clips");
    panel.sbVideo->click();
    panel.sbImage->click();
    SetUrlOpener({});
    EXPECT_EQ(opened, QList<QUrl>({QUrl::fromLocalFile("/clips"), QUrl::fromLocalFile("/pics")}));

    QSignalSpy sources(&panel, &TDossiersFrame::sourcesPanelRequested);
    QSignalSpy grab(&panel, &TDossiersFrame::grabPanelRequested);
    QTest::mouseClick(panel.LabelVideo, Qt::LeftButton);
    QTest::mouseClick(panel.LabelImage, Qt::LeftButton);
    EXPECT_EQ(sources.count(), 1);
    EXPECT_EQ(grab.count(), 1);
}

TEST(SourcesPanelIntents, ControlsReportWhatTheUserAsked)
{
    TSourcesFrame p;
    p.cboxvideo->addItems({"Camcorder", "Webcam"});
    QSignalSpy video(&p, &TSourcesFrame::videoSourceChanged);
    QSignalSpy format(&p, &TSourcesFrame::formatClicked);
    QSignalSpy folders(&p, &TSourcesFrame::foldersPanelRequested);
    QSignalSpy options(&p, &TSourcesFrame::optionsPanelRequested);
    QSignalSpy sync(&p, &TSourcesFrame::syncCorrectionChanged);
    QSignalSpy refresh(&p, &TSourcesFrame::refreshVideoRequested);
    emit p.cboxvideo->activated(1);
    p.rgFormat->setItems(TSourcesFrame::FormatItems(SourceKind::skDV, true));
    p.rgFormat->setItemIndex(0);
    EXPECT_EQ(format.count(), 0) << "selecting from code is not a user click";
    p.rgFormat->button(3)->click();
    QTest::mouseClick(p.LabelVideo, Qt::LeftButton);
    p.Label1->show();
    QTest::mouseClick(p.Label1, Qt::LeftButton);
    p.RXspinCorrEdit->setValue(-4);
    p.ActualiserVideoSpeedBtn->click();
    EXPECT_EQ(video.at(0).at(0).toInt(), 1);
    EXPECT_EQ(format.at(0).at(0).toInt(), 3);
    EXPECT_EQ(p.rgFormat->selectedText(), "Wmv");
    EXPECT_EQ(folders.count(), 1);
    EXPECT_EQ(options.count(), 1);
    EXPECT_EQ(sync.last().at(0).toInt(), -4);
    EXPECT_EQ(refresh.count(), 1);
}
