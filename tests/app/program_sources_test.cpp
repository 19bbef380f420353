// The format and audio-type lists per source kind and their fall-backs when
// the user moves between a DV camcorder, a webcam and a MovieBox.

#include <QComboBox>
#include <QGroupBox>

#include "app/program_fixture.h"
#include "app/source_selection.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

class ProgramSources : public ProgramTest {
protected:
    void pickAudioType(const QString& text)
    {
        sourcesPanel().cboxAudioType->setCurrentIndex(sourcesPanel().cboxAudioType->findText(text));
        program->Sources().SourcesFramergaudioChange();
    }

    QString audioType() const { return sourcesPanel().cboxAudioType->currentText(); }
    QStringList audioTypes() const
    {
        QStringList items;
        for (int i = 0; i < sourcesPanel().cboxAudioType->count(); ++i)
            items << sourcesPanel().cboxAudioType->itemText(i);
        return items;
    }
};

TEST_F(ProgramSources, ListsAndFallBacksFollowTheSourceKind)
{
    useDevices("dv-pal-vcr,webcam,moviebox,mic");
    start();
    const bool wmv = cam().FilterGraph().Presence().WmvAvailable;
    const QString dvName = QStringLiteral("Virtual DV Camcorder (PAL)");
    pickVideo(dvName);
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skDV);

    QStringList dvFormats = {QStringLiteral("DV type 1 (native)"),
                             QStringLiteral("DV type 2 (normal)"),
                             QStringLiteral("DV type 2 (recompressed)")};
    if (wmv) dvFormats << QStringLiteral("Wmv");
    EXPECT_EQ(sourcesPanel().rgFormat->items(), dvFormats);
    EXPECT_EQ(audioTypes(),
              (QStringList{QStringLiteral("No Audio"), QStringLiteral("Audio from the DV stream"),
                           QStringLiteral("Add an Audio Source (soundcard)")}));
    EXPECT_EQ(audioType(), QStringLiteral("Audio from the DV stream"));
    EXPECT_EQ(form().State(), CaptureState::csPreview);

    // DV kept in its own coding forces the stream's audio.
    pickFormat(0);
    EXPECT_EQ(audioType(), QStringLiteral("Audio from the DV stream"));
    EXPECT_FALSE(sourcesPanel().cboxAudioType->isEnabled());
    EXPECT_TRUE(act(ActionId::acEcouterAudioInclus)->isChecked() ||
                program->Prefs().EcouterAudioInclus.Value);
    EXPECT_FALSE(program->Prefs().EnregistrerSourceAudio.Value);
    EXPECT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String(".avi")));
    // Recompressed DV frees the audio choice and shows the standard.
    pickFormat(2);
    EXPECT_TRUE(sourcesPanel().cboxAudioType->isEnabled());
    EXPECT_TRUE(sourcesPanel().rgStandard->isVisibleTo(&sourcesPanel()));
    EXPECT_FALSE(sourcesPanel().rgFrequenceDV->isHidden());
    pickFormat(1);
    EXPECT_FALSE(sourcesPanel().rgStandard->isVisibleTo(&sourcesPanel()));
    EXPECT_EQ(form().StatusText(2), QStringLiteral("Vid: DV type 2  - Aud:  DV"));

    // The webcam has no "DV type 2 (normal)": its first format; and no
    // included audio: "No Audio".
    pickVideo(QStringLiteral("Virtual Webcam"));
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skAnalog);
    QStringList camFormats = {QStringLiteral("Native Video"),
                              QStringLiteral("DV type 2 (recompressed)")};
    if (wmv) camFormats << QStringLiteral("Wmv");
    EXPECT_EQ(sourcesPanel().rgFormat->items(), camFormats);
    EXPECT_EQ(sourcesPanel().rgFormat->itemIndex(), 0);
    EXPECT_EQ(audioTypes(), (QStringList{QStringLiteral("No Audio"),
                                         QStringLiteral("Add an Audio Source (soundcard)")}));
    EXPECT_EQ(audioType(), QStringLiteral("No Audio"));
    EXPECT_EQ(program->Prefs().CaptureFormat.Value, QStringLiteral("DV type 2 (normal)"));

    // The webcam's fall-back was never chosen by the user: the MovieBox gets
    // its own audio.
    pickVideo(QStringLiteral("Pinnacle Moviebox-B"));
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skMovieBoxB);
    EXPECT_EQ(sourcesPanel().rgFormat->items(), camFormats);
    EXPECT_EQ(audioTypes(),
              (QStringList{QStringLiteral("No Audio"), QStringLiteral("Audio from the MovieBox"),
                           QStringLiteral("Add an Audio Source (soundcard)")}));
    EXPECT_EQ(audioType(), QStringLiteral("Audio from the MovieBox"));
    // Native MPEG-2 is recorded with the box's own audio, as ".mpg".
    pickFormat(0);
    EXPECT_EQ(audioType(), QStringLiteral("Audio from the MovieBox"));
    EXPECT_FALSE(sourcesPanel().cboxAudioType->isEnabled());
    EXPECT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String(".mpg")));

    // "Audio from the MovieBox" does not exist for DV: the DV stream's audio.
    pickVideo(dvName);
    EXPECT_EQ(audioType(), QStringLiteral("Audio from the DV stream"));
    EXPECT_EQ(sourcesPanel().rgFormat->selectedText(), QStringLiteral("DV type 1 (native)"));
}

TEST_F(ProgramSources, ASavedWmvFormatFallsBackWhenWindowsMediaIsMissing)
{
    useDevices("dv-pal-vcr");
    {
        auto prefs = CreatePreferences(QSize(700, 459), hive);
        prefs->CaptureFormat.Value = QStringLiteral("Wmv");
        prefs->SourceVideo.Value = QStringLiteral("gone device");
        ASSERT_TRUE(SavePreferences(*prefs));
    }
    start();
    // The saved device is gone: the first one is taken.
    EXPECT_EQ(sourcesPanel().cboxvideo->currentText(),
              QStringLiteral("Virtual DV Camcorder (PAL)"));
    if (cam().FilterGraph().Presence().WmvAvailable)
        EXPECT_EQ(sourcesPanel().rgFormat->selectedText(), QStringLiteral("Wmv"));
    else
        EXPECT_EQ(sourcesPanel().rgFormat->selectedText(), QStringLiteral("DV type 1 (native)"));
}

TEST_F(ProgramSources, AReducedWindowShowsOnlyTheSourceName)
{
    useDevices("webcam");
    {
        auto prefs = CreatePreferences(QSize(700, 459), hive);
        prefs->ReducedOn.Value = true;
        ASSERT_TRUE(SavePreferences(*prefs));
    }
    start();
    EXPECT_TRUE(act(ActionId::acReduire)->isChecked());
    EXPECT_EQ(form().windowTitle(), QStringLiteral("Virtual Webcam"));
}

} // namespace
} // namespace kad::test
