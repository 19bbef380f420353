#include "app/preferences_binding.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>

#include <exception>

#include "app/source_selection.h"
#include "graph/dm_cam.h"
#include "session/capture_session.h"
#include "settings/naming.h"
#include "settings/preferences.h"
#include "system/log.h"
#include "ui/camcorder_window.h"
#include "ui/capture_form.h"
#include "ui/folders_panel.h"
#include "ui/grab_panel.h"
#include "ui/help_panel.h"
#include "ui/inlay_panel.h"
#include "ui/options_panel.h"
#include "ui/sources_panel.h"

namespace kad {

namespace {

// Runs an action so that it ends checked (the actions toggle themselves
// before their handler runs).
void checkByExecuting(QAction* action)
{
    if (!action->isChecked()) action->trigger();
}

} // namespace

TPreferencesBinding::TPreferencesBinding(TProgramParts& parts, TSourceSelection& sources,
                                         QObject* parent)
    : QObject(parent), p_(parts), sources_(sources)
{
}

void TPreferencesBinding::Bind()
{
    Preferences& pr = *p_.Prefs;
    TCaptureSettings& c = p_.Settings;
    if (TDossiersFrame* d = p_.DossiersFrame1) {
        connect(d, &TDossiersFrame::videoDirectoryChanged, this, [&pr, &c](const QString& folder) {
            pr.VideoDirectory.Value = folder;
            c.VideoDirectory = folder;
        });
        connect(d, &TDossiersFrame::imageDirectoryChanged, this, [&pr, &c](const QString& folder) {
            pr.ImageDirectory.Value = folder;
            c.ImageDirectory = folder;
        });
        connect(d->VideoRacineEdit, &QLineEdit::textChanged, this,
                [&c](const QString& root) { c.VideoRoot = root; });
        connect(d->ImageRacineEdit, &QLineEdit::textChanged, this,
                [&c](const QString& root) { c.ImageRoot = root; });
        connect(d->cbVideoDate, &QCheckBox::toggled, this, [&c](bool on) { c.VideoDate = on; });
        connect(d->cbImageDate, &QCheckBox::toggled, this, [&c](bool on) { c.ImageDate = on; });
        connect(d, &TDossiersFrame::ferrovuePathChanged, this,
                [&pr](const QString& path) { pr.Ferrovue.Value = path; });
        connect(d, &TDossiersFrame::currentVideoFileNameChanged, this, [this](const QString& path) {
            p_.Session->SetVideoFileName(path);
            sources_.ShowVideoName(path);
        });
        connect(d, &TDossiersFrame::nextImageFileNameChanged, this, [this](const QString& path) {
            p_.NextImageFileName = path;
            if (p_.ExtraireFrame1) p_.ExtraireFrame1->ShowImageName(FileNamePart(path));
        });
    }
    if (TOptionsFrame* o = p_.OptionsFrame) {
        connect(o, &TOptionsFrame::confirmerChanged, this,
                [&pr](bool confirm) { pr.Confirmer.Value = confirm; });
        connect(o, &TOptionsFrame::captureReportChanged, this, [&pr, &c](bool write) {
            pr.CaptureReport.Value = write;
            c.CaptureReport = write;
        });
        connect(o, &TOptionsFrame::splitRecordingsChanged, this, [&pr, &c](bool split) {
            pr.SplitAtRecording.Value = split;
            c.SplitAtRecording = split;
        });
        connect(o, &TOptionsFrame::nameByDateChanged, this, [&pr, &c](bool byDate) {
            pr.NameByRecordingDate.Value = byDate;
            c.NameByRecordingDate = byDate;
        });
        connect(o, &TOptionsFrame::savePreferencesRequested, this, [this] { GatherPreferences(); });
        connect(o, &TOptionsFrame::nextImageFileNameChanged, this, [this](const QString& path) {
            p_.NextImageFileName = path;
            if (p_.ExtraireFrame1) p_.ExtraireFrame1->ShowImageName(FileNamePart(path));
            if (p_.DossiersFrame1) p_.DossiersFrame1->ShowImageName(FileNamePart(path));
        });
        connect(o, &TOptionsFrame::extensionChanged, this, [&pr, &c](int index) {
            pr.ExtensionDesImages.Value = index;
            c.Image = index == 1 ? ImageType::Jpeg : ImageType::Bmp;
        });
        connect(o->TrackBar1, &QSlider::valueChanged, this,
                [&c](int quality) { c.JpegQuality = quality; });
        connect(o, &TOptionsFrame::profileChoiceChanged, this,
                [this](int) { takeProfileChoice(); });
    }
    if (THelpFrame* h = p_.HelpFrame1) {
        // A click on the box runs the action, which toggles itself.
        connect(h, &THelpFrame::logClicked, this, [this](bool checked) {
            QAction* a = p_.Form->Action(ActionId::acLog);
            if (a->isChecked() != checked) a->trigger();
        });
    }
}

int TPreferencesBinding::ApplyPreferences(std::function<void()> done)
{
    TCaptureForm& f = *p_.Form;
    Preferences& pr = *p_.Prefs;
    TdmCam& cam = *p_.Cam;
    // The panels are shown the settings read from the hive; what they signal
    // back keeps the settings equal to them.
    TCaptureSettings& c = p_.Settings;
    int step = 0;
    try {
        // 1. Load; a failure leaves what was loaded and is not reported.
        try {
            pr.LoadAll();
        } catch (const std::exception&) {
        }
        p_.Settings = TCaptureSettings::FromPreferences(pr);
        step = 1;

        f.move(pr.Left.Value, pr.Top.Value);
        f.SetEcranGauche(pr.EcranGauche.Value);
        f.LayoutWindow();
        step = 2;

        f.ShowPanel(pr.PanneauActif.Value);
        step = 3;

        f.tb->setValue(pr.Volume.Value);
        step = 4;

        if (pr.FullscreenOn.Value) f.Action(ActionId::acfullscreen)->trigger();
        if (pr.ReducedOn.Value) f.Action(ActionId::acReduire)->trigger();
        if (pr.MuteOn.Value) f.Action(ActionId::acMute)->trigger();
        step = 5;

        pr.PermettreIncruster.Value =
            pr.PermettreIncruster.Value && cam.FilterGraph().Presence().InlayFiltersAvailable;
        if (pr.PermettreIncruster.Value)
            checkByExecuting(f.Action(ActionId::acAllowIncrust));
        else
            f.Shape1->hide();
        step = 6;

        f.Action(ActionId::acIncruster)->setChecked(pr.IncrustationOn.Value);
        f.Action(ActionId::acFlip)->setEnabled(pr.PermettreIncruster.Value);
        step = 7;

        if (pr.DeinterlacerOn.Value && cam.FilterGraph().Presence().DeinterlacerPresent)
            checkByExecuting(f.Action(ActionId::acDesentrelacer));
        step = 8;

        if (pr.VMRKeepAspectRatio.Value) checkByExecuting(f.Action(ActionId::acVMRKeepratio));
        step = 9;

        if (p_.camForm) {
            p_.camForm->move(pr.CamformLeft.Value, pr.CamformTop.Value);
            p_.camForm->cbStopQuittant->setChecked(pr.StopperCameraDVEnQuittant.Value);
        }
        step = 10;

        if (TDossiersFrame* d = p_.DossiersFrame1) {
            // Each field signals its change back into the settings as it is
            // set: the values come from a copy.
            const TCaptureSettings files = c;
            d->VideoDirEdit->setText(files.VideoDirectory);
            d->VideoRacineEdit->setText(files.VideoRoot);
            d->cbVideoDate->setChecked(files.VideoDate);
            d->ImageDirEdit->setText(files.ImageDirectory);
            d->ImageRacineEdit->setText(files.ImageRoot);
            d->cbImageDate->setChecked(files.ImageDate);
        }
        NamingState& n = Naming();
        n.videoDirectory = c.VideoDirectory;
        n.videoRacine = c.VideoRoot;
        n.videoDate = c.VideoDate;
        n.imageDirectory = c.ImageDirectory;
        n.imageRacine = c.ImageRoot;
        n.imageDate = c.ImageDate;
        step = 11;

        // 12. The run's names start here: the folder fields above rebuilt
        // names on the way, but numbering begins at 0 with the run's time.
        SetStartupTime(QDateTime::currentDateTime());
        n.VideoCounter = 0;
        n.ImageCounter = 0;
        n.imageExtension = c.Image == ImageType::Jpeg ? 1 : 0;
        p_.Session->SetVideoFileName(NextVideoName());
        sources_.ShowVideoName(p_.Session->VideoFileName());
        p_.NextImageFileName = NextImageName();
        if (p_.ExtraireFrame1) p_.ExtraireFrame1->ShowImageName(FileNamePart(p_.NextImageFileName));
        if (p_.DossiersFrame1) p_.DossiersFrame1->ShowImageName(FileNamePart(p_.NextImageFileName));
        step = 12;

        if (p_.DossiersFrame1) p_.DossiersFrame1->feFerrovue->setText(pr.Ferrovue.Value);
        step = 13;

        sources_.SelectVideoByName(pr.SourceVideo.Value);
        // Connecting shows the format and audio type of the settings; the
        // stages after it wait for the source.
        sources_.cboxVideoChange([this, done] {
            applyAfterSource();
            if (done) done();
        });
        return 13;
    } catch (const std::exception&) {
    }
    if (done) done();
    return step;
}

int TPreferencesBinding::applyAfterSource()
{
    TCaptureForm& f = *p_.Form;
    Preferences& pr = *p_.Prefs;
    TdmCam& cam = *p_.Cam;
    TSourcesFrame* s = p_.SourcesFrame;
    TCaptureSettings& c = p_.Settings;
    int step = 13;
    try {
        {
            const QSignalBlocker block(s->cboxAudio);
            s->cboxAudio->setCurrentIndex(IndexOrFirst(pr.SourceAudio.Value, p_.AudioItems));
        }
        step = 14;

        step = 15;

        if (c.ListenIncludedAudio) checkByExecuting(f.Action(ActionId::acEcouterAudioInclus));
        if (c.RecordAudioSource) checkByExecuting(f.Action(ActionId::acEnregistrerAudioSource));
        step = 16;

        sources_.ShowCamcorderWindow();
        step = 17;

        s->rgStandard->setItemIndex(static_cast<int>(c.Standard));
        s->rgProfiles->setItemIndex(static_cast<int>(c.ProfileLevel));
        s->rgFrequenceDV->setItemIndex(static_cast<int>(c.Frequency));
        sources_.rgFormatClick();
        step = 18;

        s->rgEcouterDV->setItemIndex(c.ForceDVAudio44100 ? 1 : 0);
        step = 19;

        s->RXspinCorrEdit->setValue(c.CorrectionSync);
        step = 20;

        if (TIncrusterFrame* i = p_.IncrusterFrame1) {
            i->edFormat->setText(pr.FormatDatecode.Value);
            i->rgMode->setItemIndex(pr.ModeIncruster.Value);
            i->rgModeClick();
            i->RxSpinEdit1->setValue(pr.DureeIncruster.Value);
            i->rgChoix->setItemIndex(pr.ChoixIncruster.Value);
            i->rgChoixClick();
            i->RxSpinEdit2->setValue(pr.DecalageHoraire.Value);
            i->AdaptPanel(cam.FilterGraph().Presence().InlayFiltersAvailable,
                          cam.Source().Kind() == SourceKind::skDV);
            i->rgMode->setEnabled(pr.PermettreIncruster.Value);
            i->rgChoix->setEnabled(pr.PermettreIncruster.Value);
            i->cbAutoFontSize->setChecked(pr.TailleAutomatique.Value);
        }
        step = 21;

        f.Xslider->setValue(pr.PositionX.Value);
        f.Yslider->setValue(pr.PositionY.Value);
        step = 22;

        if (TOptionsFrame* o = p_.OptionsFrame) {
            const TCaptureSettings options = c;
            o->SelectExtension(static_cast<int>(options.Image));
            o->TrackBar1->setValue(options.JpegQuality);
            o->cbPrefsQuittant->setChecked(pr.SauverPreferencesEnQuittant.Value);
            o->cbConfirmer->setChecked(pr.Confirmer.Value);
            o->cbCaptureReport->setChecked(options.CaptureReport);
            o->cbSplitRecordings->setChecked(options.SplitAtRecording);
            o->cbNameByDate->setChecked(options.NameByRecordingDate);
            o->rgversion->setItemIndex(static_cast<int>(options.Version));
            o->RefillProfiles();
            o->SelectProfile(options.MediaProfile);
            takeProfileChoice();
            o->OptionsframecboxdivxChange();
        }
        step = 23;

        if (TExtraireFrame* g = p_.ExtraireFrame1) {
            g->RxSpinEdit7->setValue(pr.ValeurIntervallometre.Value);
            g->cbUnites->setCurrentIndex(pr.UnitesIntervallometre.Value);
            g->cbBeeps->setChecked(pr.Beeps.Value);
        }
        step = 24;

        if (THelpFrame* h = p_.HelpFrame1) {
            const bool was = h->cbLog->isChecked();
            h->cbLog->setChecked(pr.ActiverLog.Value);
            QAction* log = f.Action(ActionId::acLog);
            if (was != pr.ActiverLog.Value && log->isChecked() != pr.ActiverLog.Value)
                log->trigger();
        }
        step = 25;
    } catch (const std::exception&) {
    }
    return step;
}

bool TPreferencesBinding::GatherPreferences()
{
    TCaptureForm& f = *p_.Form;
    Preferences& pr = *p_.Prefs;
    TSourcesFrame* s = p_.SourcesFrame;
    try {
        pr.Top.Value = f.y();
        pr.Left.Value = f.x();
        pr.EcranGauche.Value = f.VideoLeft() == 0;

        pr.Volume.Value = f.tb->value();
        pr.FullscreenOn.Value = f.Action(ActionId::acfullscreen)->isChecked();
        pr.ReducedOn.Value = f.Action(ActionId::acReduire)->isChecked();
        pr.MuteOn.Value = f.Action(ActionId::acMute)->isChecked();
        pr.DeinterlacerOn.Value = f.Action(ActionId::acDesentrelacer)->isChecked();
        pr.IncrustationOn.Value = f.Action(ActionId::acIncruster)->isChecked();
        pr.VMRKeepAspectRatio.Value = f.Action(ActionId::acVMRKeepratio)->isChecked();
        pr.FlipOn.Value = f.Action(ActionId::acFlip)->isChecked();

        if (p_.camForm) {
            pr.CamformLeft.Value = p_.camForm->x();
            pr.CamformTop.Value = p_.camForm->y();
            pr.StopperCameraDVEnQuittant.Value = p_.camForm->cbStopQuittant->isChecked();
        }

        if (TDossiersFrame* d = p_.DossiersFrame1) pr.Ferrovue.Value = d->feFerrovue->text();

        pr.SourceVideo.Value = s->cboxvideo->currentText();
        pr.SourceAudio.Value = s->cboxAudio->currentText();
        // The capture choices, folders and still settings included.
        p_.Settings.ToPreferences(pr, p_.Cam->Source().Kind());

        pr.MasquerReglagesAudio.Value = s->AudioGroupCollapsed();

        if (TIncrusterFrame* i = p_.IncrusterFrame1) {
            pr.PermettreIncruster.Value = i->cbAllowIncrust->isChecked();
            pr.FormatDatecode.Value = i->edFormat->text();
            pr.ModeIncruster.Value = i->rgMode->itemIndex();
            pr.DureeIncruster.Value = i->RxSpinEdit1->value();
            pr.ChoixIncruster.Value = i->rgChoix->itemIndex();
            pr.DecalageHoraire.Value = i->RxSpinEdit2->value();
        }
        pr.PositionX.Value = f.Xslider->value();
        pr.PositionY.Value = f.Yslider->value();

        if (TOptionsFrame* o = p_.OptionsFrame) {
            pr.SauverPreferencesEnQuittant.Value = o->cbPrefsQuittant->isChecked();
            pr.Confirmer.Value = o->cbConfirmer->isChecked();
        }

        if (TExtraireFrame* g = p_.ExtraireFrame1) {
            pr.ValeurIntervallometre.Value = g->RxSpinEdit7->value();
            pr.UnitesIntervallometre.Value = g->cbUnites->currentIndex();
            pr.Beeps.Value = g->cbBeeps->isChecked();
        }

        if (p_.HelpFrame1) pr.ActiverLog.Value = p_.HelpFrame1->cbLog->isChecked();
    } catch (const std::exception&) {
    }
    return SavePreferences(pr);
}

void TPreferencesBinding::takeProfileChoice()
{
    const TOptionsFrame* o = p_.OptionsFrame;
    if (!o) return;
    TCaptureSettings& c = p_.Settings;
    const int entry = o->ChosenProfileEntry();
    const int version = o->rgversion->itemIndex();
    if (version >= 0) c.Version = static_cast<WmVersion>(version);
    c.MediaEntry = entry;
    c.MediaProfile = entry > 0 ? o->cboxMedia->itemText(entry) : QString();
}

void TPreferencesBinding::AdjustAudioGroup()
{
    Preferences& pr = *p_.Prefs;
    pr.MasquerReglagesAudio.Value =
        pr.MasquerReglagesAudio.Value || sources_.CurrentAudioKind() != AudioKind::akSoundCard;
    p_.SourcesFrame->SetAudioSettingsShown(!pr.MasquerReglagesAudio.Value);
}

void TPreferencesBinding::acLogExecute(bool checked)
{
    if (p_.HelpFrame1 && p_.HelpFrame1->cbLog->isChecked() != checked)
        p_.HelpFrame1->cbLog->setChecked(checked);
    if (checked) {
        StartLog(true);
        WriteLogSeparator();
        WriteLog(QStringLiteral("List of displayed video sources:"));
        WriteLogBlank();
        const QComboBox* box = p_.SourcesFrame->cboxvideo;
        for (int i = 0; i < box->count(); ++i)
            WriteLog(box->itemText(i));
        WriteLog(QStringLiteral("   >>> Select = ") + box->currentText());
        WriteLogSeparator();
    } else {
        StopLog();
    }
    if (p_.HelpFrame1) WriteLog(p_.HelpFrame1->SystemReportText());
}

} // namespace kad
