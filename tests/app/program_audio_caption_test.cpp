// The audio type the graph gets follows the entry the user picks in the
// audio-type list, whatever that entry's caption reads (a translation or a
// reworded text must not change what is recorded).

#include <QComboBox>

#include "app/program_fixture.h"
#include "app/source_selection.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

using ProgramSourcesCaptions = ProgramTest;

TEST_F(ProgramSourcesCaptions, RenamedAudioTypesStillGiveTheGraphTheAudioPicked)
{
    ASSERT_TRUE(startPreviewing("dv-pal-vcr,mic"));
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skDV);
    // Recompressed DV leaves the audio type free.
    pickFormat(2);
    QComboBox* types = sourcesPanel().cboxAudioType;
    ASSERT_TRUE(types->isEnabled());
    const int soundCard = types->findText(QStringLiteral("Add an Audio Source (soundcard)"));
    const int none = types->findText(QStringLiteral("No Audio"));
    ASSERT_GE(soundCard, 0);
    ASSERT_GE(none, 0);
    for (int i = 0; i < types->count(); ++i)
        types->setItemText(i, QStringLiteral("Son %1").arg(i + 1));

    // Picked as the user does: the list's own signal.
    const auto pick = [&](int index) {
        types->setCurrentIndex(index);
        emit types->activated(index);
        QCoreApplication::processEvents();
    };
    pick(soundCard);
    EXPECT_EQ(program->Sources().CurrentAudioKind(), AudioKind::akSoundCard);
    EXPECT_EQ(cam().Preview().Options().Audio, AudioKind::akSoundCard);
    EXPECT_TRUE(cam().Preview().Options().EnregistrerSourceAudio);
    EXPECT_TRUE(cam().FilterGraph().AudioSource.InGraph());
    EXPECT_TRUE(waitForPicture());

    pick(none);
    EXPECT_EQ(cam().Preview().Options().Audio, AudioKind::akNone);
    EXPECT_FALSE(cam().Preview().Options().EnregistrerSourceAudio);
    EXPECT_FALSE(cam().Preview().Options().EcouterAudioInclus);
    EXPECT_FALSE(cam().FilterGraph().AudioSource.InGraph());
    EXPECT_EQ(form().State(), CaptureState::csPreview);
}

} // namespace
} // namespace kad::test
