// The Settings panel: JPEG quality label, image type with its quality group
// and the same image number, deleting the preferences, and the Windows Media
// profile controls. Saving now and the replace confirmation are seen at
// program level (ProgramPrefs).

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "platform/os/registry.h"
#include "settings/naming.h"
#include "support/fake_dialogs.h"
#include "ui/options_panel.h"
#include "ui/sources_panel.h"

using namespace kad;

namespace {

std::vector<WmProfile> profiles(int version, int count)
{
    std::vector<WmProfile> list;
    for (int i = 0; i < count; ++i) {
        WmProfile p;
        p.name = QString("Profile %1 of version %2").arg(i).arg(version);
        p.videoCodec = "avenc_wmv2";
        list.push_back(p);
    }
    return list;
}

} // namespace

TEST(OptionsPanel, TrackBarShowsTheQualityNumber)
{
    TOptionsFrame p;
    p.TrackBar1->setValue(87);
    EXPECT_EQ(p.labQuality->text(), "87");
    p.TrackBar1->setValue(1);
    EXPECT_EQ(p.labQuality->text(), "1");
    p.TrackBar1->setValue(500);
    EXPECT_EQ(p.labQuality->text(), "100");
}

TEST(OptionsPanel, ImageTypeShowsQualityOnlyForJpegAndKeepsTheNumber)
{
    SetStartupTime(QDateTime(QDate(2026, 12, 5), QTime(13, 48, 5)));
    NamingState naming;
    naming.imageDirectory = "/photos";
    naming.ImageCounter = 8; // image 7 is next
    TOptionsFrame p;
    p.setNamingState(&naming);
    QSignalSpy names(&p, &TOptionsFrame::nextImageFileNameChanged);
    QSignalSpy picked(&p, &TOptionsFrame::extensionChanged);

    EXPECT_TRUE(p.gbQuality->isHidden());
    p.rgExtension->button(1)->click();
    EXPECT_FALSE(p.gbQuality->isHidden());
    EXPECT_EQ(names.last().at(0).toString(), "/photos/Image_0007.jpg");
    EXPECT_EQ(picked.last().at(0).toInt(), 1);
    p.rgExtension->button(0)->click();
    EXPECT_TRUE(p.gbQuality->isHidden());
    EXPECT_EQ(names.last().at(0).toString(), "/photos/Image_0007.bmp");
    // Ctrl+J / Ctrl+B act as the click.
    p.SelectExtension(1);
    EXPECT_EQ(p.rgExtension->itemIndex(), 1);
    EXPECT_EQ(names.last().at(0).toString(), "/photos/Image_0007.jpg");
    EXPECT_EQ(naming.ImageCounter, 8);
}

TEST(OptionsPanel, DeleteThePreferencesOnlyWhenTheUserAgrees)
{
    QTemporaryDir dir;
    const QString hive = dir.filePath("registry.reg");
    {
        Registry reg(hive);
        ASSERT_TRUE(reg.openKey("\\Software\\Tavrel\\Kadrillo", true));
        ASSERT_TRUE(reg.writeDword("Volume", 5000));
    }
    test::FakeDialogs dialogs;
    TOptionsFrame p;
    p.setHiveFile(hive);

    dialogs.answer(DialogAnswer::No);
    QTest::mouseClick(p.LabelEffacerPrefs, Qt::LeftButton);
    EXPECT_TRUE(p.cbPrefsQuittant->isChecked()) << "declining keeps saving at exit";
    EXPECT_TRUE(Registry(hive).keyExists("\\Software\\Tavrel\\Kadrillo"));

    dialogs.answer(DialogAnswer::Yes);
    p.SpeedButton2->click();
    EXPECT_FALSE(p.cbPrefsQuittant->isChecked());
    EXPECT_FALSE(Registry(hive).keyExists("\\Software\\Tavrel\\Kadrillo"));
    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[2].kind, "information");
}

TEST(OptionsPanel, WindowsMediaProfilesDecideTheSourcesControls)
{
    const WmProfileTable table({}, profiles(0, 3), profiles(1, 0), profiles(2, 25));
    TSourcesFrame sources;
    TOptionsFrame p;
    p.setProfileTable(&table);
    p.setSourcesFrame(&sources);
    EXPECT_EQ(p.cboxMedia->count(), 26);
    EXPECT_EQ(p.ChosenProfileEntry(), 0);
    EXPECT_EQ(p.cboxMedia->itemText(25), "Profile 24 of version 2");

    // DV with the Windows Media format: the default profiles show the levels.
    p.SetCaptureFormat(CaptureFormatOf(SourceKind::skDV, 3));
    p.OptionsframecboxdivxChange();
    EXPECT_FALSE(sources.rgProfiles->isHidden());
    EXPECT_TRUE(sources.Label1->isHidden());
    p.cboxMedia->setCurrentIndex(5);
    emit p.cboxMedia->activated(5);
    EXPECT_TRUE(sources.rgProfiles->isHidden());
    EXPECT_FALSE(sources.Label1->isHidden());
    // An analog source's first format: neither.
    p.SetCaptureFormat(CaptureFormatOf(SourceKind::skAnalog, 0));
    p.OptionsframecboxdivxChange();
    EXPECT_TRUE(sources.rgProfiles->isHidden());
    EXPECT_TRUE(sources.Label1->isHidden());
    p.SetCaptureFormat(CaptureFormatOf(SourceKind::skAnalog, 2));
    p.OptionsframecboxdivxChange();
    EXPECT_FALSE(sources.Label1->isHidden());

    // Another version refills the list and goes back to the default entry.
    p.rgversion->button(0)->click();
    EXPECT_EQ(p.cboxMedia->count(), 4);
    EXPECT_EQ(p.ChosenProfileEntry(), 0);
    EXPECT_EQ(p.cboxMedia->itemText(1), "Profile 0 of version 0");
    EXPECT_FALSE(sources.rgProfiles->isHidden());
    p.rgversion->button(2)->click();

    p.SelectProfile("profile 24 OF version 2");
    EXPECT_EQ(p.ChosenProfileEntry(), 25);
    p.SelectProfile("gone");
    EXPECT_EQ(p.ChosenProfileEntry(), 0);

    // The Sources panel's menu lists the entries; a pick selects one.
    emit sources.pmProfiles->aboutToShow();
    const auto items = sources.pmProfiles->actions();
    ASSERT_EQ(items.size(), 26);
    EXPECT_EQ(items[0]->text(), "Use the default profiles");
    EXPECT_EQ(items[3]->data().toInt(), 3);
    items[3]->trigger();
    EXPECT_EQ(p.ChosenProfileEntry(), 3);
    EXPECT_FALSE(sources.Label1->isHidden());
    emit sources.pmProfiles->aboutToShow();
    EXPECT_EQ(sources.pmProfiles->actions().size(), 26) << "refilled, not appended";
}

TEST(OptionsPanel, WithoutWindowsMediaOnlyTheDefaultEntry)
{
    TOptionsFrame p;
    EXPECT_GT(p.cboxMedia->count(), 1) << "the program's own table by default";
    p.setProfileTable(nullptr);
    ASSERT_EQ(p.cboxMedia->count(), 1);
    EXPECT_EQ(p.cboxMedia->currentText(), "Use the default profiles");
}
