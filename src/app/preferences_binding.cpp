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

#include "app/capture_form.h"
#include "app/source_selection.h"
#include "app/sources_panel.h"
#include "features/camcorder_window.h"
#include "features/grab_panel.h"
#include "features/inlay_panel.h"
#include "graph/dm_cam.h"
#include "settings/folders_panel.h"
#include "settings/naming.h"
#include "settings/options_panel.h"
#include "settings/preferences.h"
#include "system/help_panel.h"
#include "system/log.h"

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
    if (TDossiersFrame* d = p_.DossiersFrame1) {
        connect(d, &TDossiersFrame::videoDirectoryChanged, this,
                [&pr](const QString& folder) { pr.VideoDirectory.Value = folder; });
        connect(d, &TDossiersFrame::imageDirectoryChanged, this,
                [&pr](const QString& folder) { pr.ImageDirectory.Value = folder; });
        connect(d, &TDossiersFrame::ferrovuePathChanged, this,
                [&pr](const QString& path) { pr.Ferrovue.Value = path; });
        connect(d, &TDossiersFrame::currentVideoFileNameChanged, this, [this](const QString& path) {
            p_.Form->CurrentVideoFileName = path;
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
        connect(o, &TOptionsFrame::captureReportChanged, this,
                [&pr](bool write) { pr.CaptureReport.Value = write; });
        connect(o, &TOptionsFrame::splitRecordingsChanged, this,
                [&pr](bool split) { pr.SplitAtRecording.Value = split; });
        connect(o, &TOptionsFrame::nameByDateChanged, this,
                [&pr](bool byDate) { pr.NameByRecordingDate.Value = byDate; });
        connect(o, &TOptionsFrame::savePreferencesRequested, this, [this] { GatherPreferences(); });
        connect(o, &TOptionsFrame::nextImageFileNameChanged, this, [this](const QString& path) {
            p_.NextImageFileName = path;
            if (p_.ExtraireFrame1) p_.ExtraireFrame1->ShowImageName(FileNamePart(path));
            if (p_.DossiersFrame1) p_.DossiersFrame1->ShowImageName(FileNamePart(path));
        });
        connect(o, &TOptionsFrame::extensionChanged, this,
                [&pr](int index) { pr.ExtensionDesImages.Value = index; });
    }
    if (THelpFrame* h = p_.HelpFrame1) {
        // A click on the box runs the action, which toggles itself.
        connect(h, &THelpFrame::logClicked, this, [this](bool checked) {
            QAction* a = p_.Form->Action(ActionId::acLog);
            if (a->isChecked() != checked) a->trigger();
        });
    }
}

int TPreferencesBinding::ApplyPreferences()
{
    TCaptureForm& f = *p_.Form;
    Preferences& pr = *p_.Prefs;
    TdmCam& cam = *p_.Cam;
    TSourcesFrame* s = p_.SourcesFrame;
    int step = 0;
    try {
        // 1. Load; a failure leaves what was loaded and is not reported.
        try {
            pr.LoadAll();
        } catch (const std::exception&) {
        }
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

        pr.PermettreIncruster.Value = pr.PermettreIncruster.Value && cam.InlayFiltersAvailable;
        if (pr.PermettreIncruster.Value)
            checkByExecuting(f.Action(ActionId::acAllowIncrust));
        else
            f.Shape1->hide();
        step = 6;

        f.Action(ActionId::acIncruster)->setChecked(pr.IncrustationOn.Value);
        f.Action(ActionId::acFlip)->setEnabled(pr.PermettreIncruster.Value);
        step = 7;

        if (pr.DeinterlacerOn.Value && cam.DeinterlacerPresent)
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
            d->VideoDirEdit->setText(pr.VideoDirectory.Value);
            d->VideoRacineEdit->setText(pr.VideoRacine.Value);
            d->cbVideoDate->setChecked(pr.VideoDate.Value);
            d->ImageDirEdit->setText(pr.ImageDirectory.Value);
            d->ImageRacineEdit->setText(pr.ImageRacine.Value);
            d->cbImageDate->setChecked(pr.ImageDate.Value);
        }
        NamingState& n = Naming();
        n.videoDirectory = pr.VideoDirectory.Value;
        n.videoRacine = pr.VideoRacine.Value;
        n.videoDate = pr.VideoDate.Value;
        n.imageDirectory = pr.ImageDirectory.Value;
        n.imageRacine = pr.ImageRacine.Value;
        n.imageDate = pr.ImageDate.Value;
        step = 11;

        // 12. The run's names start here: the folder fields above rebuilt
        // names on the way, but numbering begins at 0 with the run's time.
        SetStartupTime(QDateTime::currentDateTime());
        n.VideoCounter = 0;
        n.ImageCounter = 0;
        n.imageExtension = pr.ExtensionDesImages.Value == 1 ? 1 : 0;
        f.CurrentVideoFileName = NextVideoName();
        sources_.ShowVideoName(f.CurrentVideoFileName);
        p_.NextImageFileName = NextImageName();
        if (p_.ExtraireFrame1) p_.ExtraireFrame1->ShowImageName(FileNamePart(p_.NextImageFileName));
        if (p_.DossiersFrame1) p_.DossiersFrame1->ShowImageName(FileNamePart(p_.NextImageFileName));
        step = 12;

        if (p_.DossiersFrame1) p_.DossiersFrame1->feFerrovue->setText(pr.Ferrovue.Value);
        step = 13;

        sources_.SelectVideoByName(pr.SourceVideo.Value);
        sources_.cboxVideoChange();
        s->rgFormat->setItemIndex(IndexOrFirst(pr.CaptureFormat.Value, s->rgFormat->items()));
        {
            const QSignalBlocker block(s->cboxAudio);
            s->cboxAudio->setCurrentIndex(IndexOrFirst(pr.SourceAudio.Value, p_.AudioItems));
        }
        step = 14;

        QStringList types;
        for (int i = 0; i < s->cboxAudioType->count(); ++i)
            types << s->cboxAudioType->itemText(i);
        int type = -1;
        for (int i = 0; i < types.size(); ++i)
            if (types[i].compare(pr.AudioType.Value, Qt::CaseInsensitive) == 0) {
                type = i;
                break;
            }
        if (type >= 0) {
            const QSignalBlocker block(s->cboxAudioType);
            s->cboxAudioType->setCurrentIndex(type);
        } else {
            pr.AudioType.Value.clear();
        }
        step = 15;

        if (pr.EcouterAudioInclus.Value) checkByExecuting(f.Action(ActionId::acEcouterAudioInclus));
        if (pr.EnregistrerSourceAudio.Value)
            checkByExecuting(f.Action(ActionId::acEnregistrerAudioSource));
        step = 16;

        sources_.ShowCamcorderWindow();
        step = 17;

        s->rgStandard->setItemIndex(pr.StandardDV.Value);
        s->rgProfiles->setItemIndex(pr.ProfileWmv.Value);
        s->rgFrequenceDV->setItemIndex(pr.FrequenceDV.Value);
        sources_.rgFormatClick();
        step = 18;

        s->rgEcouterDV->setItemIndex(pr.Forcer44100EnDV.Value ? 1 : 0);
        step = 19;

        s->RXspinCorrEdit->setValue(pr.CorrectionSync.Value);
        step = 20;

        if (TIncrusterFrame* i = p_.IncrusterFrame1) {
            i->edFormat->setText(pr.FormatDatecode.Value);
            i->rgMode->setItemIndex(pr.ModeIncruster.Value);
            i->rgModeClick();
            i->RxSpinEdit1->setValue(pr.DureeIncruster.Value);
            i->rgChoix->setItemIndex(pr.ChoixIncruster.Value);
            i->rgChoixClick();
            i->RxSpinEdit2->setValue(pr.DecalageHoraire.Value);
            i->AdaptPanel(cam.InlayFiltersAvailable, cam.SourceKind == SourceKind::skDV);
            i->rgMode->setEnabled(pr.PermettreIncruster.Value);
            i->rgChoix->setEnabled(pr.PermettreIncruster.Value);
            i->cbAutoFontSize->setChecked(pr.TailleAutomatique.Value);
        }
        step = 21;

        f.Xslider->setValue(pr.PositionX.Value);
        f.Yslider->setValue(pr.PositionY.Value);
        step = 22;

        if (TOptionsFrame* o = p_.OptionsFrame) {
            o->SelectExtension(pr.ExtensionDesImages.Value);
            o->TrackBar1->setValue(pr.QualiteJPeg.Value);
            o->cbPrefsQuittant->setChecked(pr.SauverPreferencesEnQuittant.Value);
            o->cbConfirmer->setChecked(pr.Confirmer.Value);
            o->cbCaptureReport->setChecked(pr.CaptureReport.Value);
            o->cbSplitRecordings->setChecked(pr.SplitAtRecording.Value);
            o->cbNameByDate->setChecked(pr.NameByRecordingDate.Value);
            o->rgversion->setItemIndex(pr.VersionWmv.Value);
            o->RefillProfiles();
            o->SelectProfile(pr.ProfilWmvFavori.Value);
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

        if (TDossiersFrame* d = p_.DossiersFrame1) {
            pr.VideoDirectory.Value = d->VideoDirEdit->text();
            pr.VideoRacine.Value = d->VideoRacineEdit->text();
            pr.VideoDate.Value = d->cbVideoDate->isChecked();
            pr.ImageDirectory.Value = d->ImageDirEdit->text();
            pr.ImageRacine.Value = d->ImageRacineEdit->text();
            pr.ImageDate.Value = d->cbImageDate->isChecked();
            pr.Ferrovue.Value = d->feFerrovue->text();
        }

        pr.SourceVideo.Value = s->cboxvideo->currentText();
        pr.SourceAudio.Value = s->cboxAudio->currentText();
        pr.StandardDV.Value = s->rgStandard->itemIndex();
        if (s->rgFormat->itemIndex() >= 0) pr.CaptureFormat.Value = s->rgFormat->selectedText();
        pr.AudioType.Value = s->cboxAudioType->currentText();
        pr.EcouterAudioInclus.Value = f.Action(ActionId::acEcouterAudioInclus)->isChecked();
        pr.ProfileWmv.Value = s->rgProfiles->itemIndex();
        pr.Forcer44100EnDV.Value = s->rgEcouterDV->itemIndex() == 1;
        pr.FrequenceDV.Value = s->rgFrequenceDV->itemIndex();
        pr.CorrectionSync.Value = s->RXspinCorrEdit->value();

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
            pr.ProfilWindowsMedia.Value = o->cboxMedia->currentText();
            pr.ExtensionDesImages.Value = o->rgExtension->itemIndex();
            pr.QualiteJPeg.Value = o->TrackBar1->value();
            pr.SauverPreferencesEnQuittant.Value = o->cbPrefsQuittant->isChecked();
            pr.Confirmer.Value = o->cbConfirmer->isChecked();
            pr.CaptureReport.Value = o->cbCaptureReport->isChecked();
            pr.SplitAtRecording.Value = o->cbSplitRecordings->isChecked();
            pr.NameByRecordingDate.Value = o->cbNameByDate->isChecked();
            pr.VersionWmv.Value = o->rgversion->itemIndex();
            pr.ProfilWmvFavori.Value = o->cboxMedia->currentText();
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
