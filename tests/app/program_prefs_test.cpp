// Preferences through the hive: what one run gathers at exit, the next run
// applies; saving now stops saving at exit.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>

#include "app/preferences_binding.h"
#include "app/program_fixture.h"
#include "ui/folders_panel.h"
#include "ui/grab_panel.h"
#include "ui/options_panel.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

using ProgramPrefs = ProgramTest;

// What a user sees of the settings, for comparing two runs.
struct Snapshot {
    QString video;
    QString format;
    QString audioType;
    int volume = 0;
    int panel = 0;
    int correction = 0;
    int quality = 0;
    bool confirm = false;
    bool mute = false;
    int interval = 0;
    int units = 0;
    QString root;
    QString videoDir;
    bool videoDate = false;
    int extension = 0;
    QPoint position;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(TProgram& p)
{
    TProgramParts& parts = p.Parts();
    Snapshot s;
    s.video = parts.SourcesFrame->cboxvideo->currentText();
    s.format = parts.SourcesFrame->rgFormat->selectedText();
    s.audioType = parts.SourcesFrame->cboxAudioType->currentText();
    s.volume = p.Form().tb->value();
    s.panel = p.Form().ActivePanel();
    s.correction = parts.SourcesFrame->RXspinCorrEdit->value();
    s.quality = parts.OptionsFrame->TrackBar1->value();
    s.confirm = parts.OptionsFrame->cbConfirmer->isChecked();
    s.mute = p.Form().Action(ActionId::acMute)->isChecked();
    s.interval = parts.ExtraireFrame1->RxSpinEdit7->value();
    s.units = parts.ExtraireFrame1->cbUnites->currentIndex();
    s.root = parts.DossiersFrame1->VideoRacineEdit->text();
    s.videoDir = parts.DossiersFrame1->VideoDirEdit->text();
    s.videoDate = parts.DossiersFrame1->cbVideoDate->isChecked();
    s.extension = parts.OptionsFrame->rgExtension->itemIndex();
    s.position = p.Form().pos();
    return s;
}

TEST_F(ProgramPrefs, WhatOneRunGathersTheNextRunApplies)
{
    useDevices("dv-pal-vcr,webcam,mic");
    presetFolders();
    start();
    TProgramParts& parts = program->Parts();

    // Change a control of every kind.
    parts.SourcesFrame->cboxvideo->setCurrentIndex(
        parts.SourcesFrame->cboxvideo->findText(QStringLiteral("Virtual Webcam")));
    program->Sources().cboxVideoChange();
    ASSERT_TRUE(waitConnected());
    parts.SourcesFrame->rgFormat->setItemIndex(1);
    program->Sources().rgFormatClick();
    parts.SourcesFrame->cboxAudioType->setCurrentIndex(parts.SourcesFrame->cboxAudioType->findText(
        QStringLiteral("Add an Audio Source (soundcard)")));
    program->Sources().SourcesFramergaudioChange();
    form().tb->setValue(4200);
    act(ActionId::acMute)->trigger();
    act(ActionId::acOptionsFrame)->trigger();
    parts.SourcesFrame->RXspinCorrEdit->setValue(-7);
    parts.OptionsFrame->TrackBar1->setValue(83);
    parts.OptionsFrame->cbConfirmer->click();
    parts.OptionsFrame->SelectExtension(1);
    parts.ExtraireFrame1->RxSpinEdit7->setValue(25);
    parts.ExtraireFrame1->cbUnites->setCurrentIndex(2);
    parts.DossiersFrame1->VideoRacineEdit->setText(QStringLiteral("Clip"));
    parts.DossiersFrame1->cbVideoDate->setChecked(false);
    form().move(31, 42);

    const Snapshot before = snapshot(*program);
    EXPECT_EQ(before.format, QStringLiteral("DV type 2 (recompressed)"));
    form().close();
    program.reset();

    Naming() = NamingState();
    start();
    const Snapshot after = snapshot(*program);
    EXPECT_EQ(after.video, before.video);
    EXPECT_EQ(after.format, before.format);
    EXPECT_EQ(after.audioType, before.audioType);
    EXPECT_EQ(after.volume, 4200);
    EXPECT_EQ(after.panel, 5);
    EXPECT_EQ(after.correction, -7);
    EXPECT_EQ(after.quality, 83);
    EXPECT_FALSE(after.confirm);
    EXPECT_TRUE(after.mute);
    EXPECT_EQ(after.interval, 25);
    EXPECT_EQ(after.units, 2);
    EXPECT_EQ(after.root, QStringLiteral("Clip"));
    EXPECT_EQ(after.extension, 1);
    EXPECT_TRUE(after == before);
    // The names follow the restored folder settings.
    EXPECT_TRUE(FileNamePart(form().CurrentVideoFileName()) == QStringLiteral("Clip_0.avi"))
        << form().CurrentVideoFileName().toStdString();
    EXPECT_EQ(form().State(), CaptureState::csPreview);
}

TEST_F(ProgramPrefs, SavingNowKeepsThoseValuesAndTurnsSavingAtExitOff)
{
    useDevices("webcam");
    presetFolders();
    start();
    form().tb->setValue(3000);
    act(ActionId::acSauverPrefs)->trigger();
    EXPECT_FALSE(program->Parts().OptionsFrame->cbPrefsQuittant->isChecked());
    form().tb->setValue(9000);
    form().close();
    program.reset();

    auto prefs = CreatePreferences(QSize(700, 459), hive);
    EXPECT_EQ(prefs->Volume.Value, 3000);
    EXPECT_TRUE(prefs->SauverPreferencesEnQuittant.Value);
}

TEST_F(ProgramPrefs, DeletingThePreferencesTurnsSavingAtExitOff)
{
    useDevices("webcam");
    presetFolders();
    start();
    dialogs.answer(DialogAnswer::Yes);
    program->Parts().OptionsFrame->SpeedButton2->click();
    EXPECT_FALSE(program->Parts().OptionsFrame->cbPrefsQuittant->isChecked());
    form().tb->setValue(1234);
    form().close();
    program.reset();
    auto prefs = CreatePreferences(QSize(700, 459), hive);
    EXPECT_EQ(prefs->Volume.Value, 10000);
}

} // namespace
} // namespace kad::test
