#include "app/program.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QSlider>
#include <QToolButton>

#include <vector>

#include "app/capture_control.h"
#include "app/capture_form.h"
#include "app/inlay_binding.h"
#include "app/preferences_binding.h"
#include "app/schedule_binding.h"
#include "app/source_selection.h"
#include "app/sources_panel.h"
#include "app/video_widget.h"
#include "elements/sample_grabber.h"
#include "features/camcorder_window.h"
#include "features/grab_panel.h"
#include "features/inlay_panel.h"
#include "features/moviebox_window.h"
#include "features/schedule_panel.h"
#include "features/stills.h"
#include "graph/dm_cam.h"
#include "platform/media/cam_transport.h"
#include "platform/media/gst_ptr.h"
#include "platform/media/media_platform.h"
#include "settings/folders_panel.h"
#include "settings/naming.h"
#include "settings/options_panel.h"
#include "settings/preferences.h"
#include "system/about_panel.h"
#include "system/dialogs.h"
#include "system/error_report_panel.h"
#include "system/ferrovue.h"
#include "system/help_panel.h"
#include "system/log.h"
#include "system/sysinfo.h"

namespace kad {

namespace {

// The camcorder window's command behind a main-window camera action.
std::optional<CamCommand> CamCommandOfAction(ActionId id)
{
    switch (id) {
    case ActionId::camPlay:
        return CamCommand::Play;
    case ActionId::camPause:
        return CamCommand::Pause;
    case ActionId::camStop:
        return CamCommand::Stop;
    case ActionId::camAvanceLent:
        return CamCommand::SlowForward;
    case ActionId::camAvanceRapide:
        return CamCommand::FastForward;
    case ActionId::camReculeLent:
        return CamCommand::SlowReverse;
    case ActionId::camReculeRapide:
        return CamCommand::FastReverse;
    default:
        return std::nullopt;
    }
}

} // namespace

TProgram::TProgram(QObject* parent) : QObject(parent)
{
    // Created in this order: main window, camcorder window, data module,
    // MovieBox start-up window.
    form_ = std::make_unique<TCaptureForm>();
    camForm_ = std::make_unique<TcamForm>();
    cam_ = std::make_unique<TdmCam>();
    amorcer_ = std::make_unique<TamorcerForm>();

    // The preferences exist from the window's creation; ApplyPreferences
    // loads them.
    QSize screen = form_->size();
    if (const QScreen* s = QGuiApplication::primaryScreen()) screen = s->geometry().size();
    prefs_ = std::make_unique<Preferences>(ComputePreferenceDefaults(screen, form_->size()));

    parts_.Form = form_.get();
    parts_.Cam = cam_.get();
    parts_.Prefs = prefs_.get();
    parts_.camForm = camForm_.get();
    parts_.amorcerForm = amorcer_.get();
    createPanels();

    sources_ = new TSourceSelection(parts_, this);
    capture_ = new TCaptureControl(parts_, *sources_, this);
    binding_ = new TPreferencesBinding(parts_, *sources_, this);
    schedule_ = new TScheduleBinding(
        parts_, [this] { return Grab(true); }, this);
    sources_->Bind();
    capture_->Bind();
    binding_->Bind();
    fillHooks();
    inlay_ = new TInlayBinding(parts_, this);
    inlay_->Bind();
    stills_ = std::make_unique<TStillWriter>();
    connect(stills_.get(), &TStillWriter::failed, this, &TProgram::stillFailed);
    connect(stills_.get(), &TStillWriter::written, this,
            [this](const QString& path) { quietStills_.remove(path); });
    connect(stills_.get(), &TStillWriter::thumbnailReady, this,
            [this](const QImage& thumbnail) { parts_.ExtraireFrame1->ShowThumbnail(thumbnail); });
}

TProgram::~TProgram()
{
    // The picture stops reaching the window before the window goes, and
    // the window (whose end stops the log) goes before the graph. Images
    // still on their way to the disk are waited for first, for a while.
    stills_.reset();
    SetVideoNameShown({});
    SetImageNameShown({});
    if (form_ && form_->vwEcran) form_->vwEcran->AttachDisplaySink(nullptr);
    if (cam_) cam_->StopGraph();
    form_.reset();
    // "Stop when quit": the tape stops as the camcorder window goes.
    if (camForm_ && camForm_->cbStopQuittant->isChecked() && cam_ && cam_->HasExtTransport &&
        cam_->Transport)
        cam_->Transport->Command(CamCommand::Stop);
    camForm_.reset();
    amorcer_.reset();
    cam_.reset();
}

void TProgram::Show()
{
    form_->show();
}

void TProgram::createPanels()
{
    TCaptureForm& f = *form_;
    parts_.SourcesFrame = qobject_cast<TSourcesFrame*>(f.Panel(piSources));
    parts_.DossiersFrame1 = qobject_cast<TDossiersFrame*>(f.Panel(piDossiers));
    parts_.OptionsFrame = qobject_cast<TOptionsFrame*>(f.Panel(piOptions));

    parts_.ProgrammerFrame1 = new TProgrammerFrame(f.Client());
    f.SetPanel(piProgrammer, parts_.ProgrammerFrame1);
    parts_.ExtraireFrame1 = new TExtraireFrame(f.Client());
    f.SetPanel(piExtraire, parts_.ExtraireFrame1);
    parts_.IncrusterFrame1 = new TIncrusterFrame(f.Client());
    f.SetPanel(piIncruster, parts_.IncrusterFrame1);
    parts_.HelpFrame1 = new THelpFrame(f.Client());
    f.SetPanel(piHelp, parts_.HelpFrame1);
    parts_.AproposFrame1 = new TAproposFrame(f.Client());
    f.SetPanel(piApropos, parts_.AproposFrame1);
    // The error report lies over the whole window, so it belongs to the
    // window itself.
    parts_.ErreurFrame1 = new TErreurFrame(&f);
    parts_.ErreurFrame1->hide();

    THelpFrame* help = parts_.HelpFrame1;
    parts_.AproposFrame1->setSystemReportSource([help] { return help->SystemReportText(); });
    connect(parts_.AproposFrame1, &TAproposFrame::ferrovueRequested, &f,
            [&f] { f.Action(ActionId::acFerrovue)->trigger(); });
    connect(parts_.ExtraireFrame1, &TExtraireFrame::foldersPanelRequested, &f,
            [&f] { f.Action(ActionId::acDossiersFrame)->trigger(); });
    if (TDossiersFrame* d = parts_.DossiersFrame1) {
        connect(d, &TDossiersFrame::sourcesPanelRequested, &f,
                [&f] { f.Action(ActionId::acSourcesFrame)->trigger(); });
        connect(d, &TDossiersFrame::grabPanelRequested, &f,
                [&f] { f.Action(ActionId::acExtraireFrame)->trigger(); });
    }
    if (TOptionsFrame* o = parts_.OptionsFrame) {
        connect(o, &TOptionsFrame::deinterlacerClicked, &f, [&f](bool checked) {
            QAction* a = f.Action(ActionId::acDesentrelacer);
            if (a->isChecked() != checked) a->trigger();
            if (auto* o = qobject_cast<TOptionsFrame*>(f.Panel(piOptions)))
                o->cbDeinterlacer->setChecked(a->isChecked());
        });
        connect(o, &TOptionsFrame::allowIncrustClicked, &f, [&f](bool checked) {
            QAction* a = f.Action(ActionId::acAllowIncrust);
            if (a->isChecked() != checked) a->trigger();
        });
    }
    connect(parts_.IncrusterFrame1, &TIncrusterFrame::allowIncrustClicked, &f, [&f](bool checked) {
        QAction* a = f.Action(ActionId::acAllowIncrust);
        if (a->isChecked() != checked) a->trigger();
    });

    // Every name built shows in the labels that show it.
    TProgramParts* parts = &parts_;
    SetVideoNameShown([parts](const QString& fileName) {
        if (parts->SourcesFrame) parts->SourcesFrame->ShowVideoName(fileName);
        if (parts->DossiersFrame1) parts->DossiersFrame1->ShowVideoName(fileName);
    });
    SetImageNameShown([parts](const QString& fileName) {
        if (parts->ExtraireFrame1) parts->ExtraireFrame1->ShowImageName(fileName);
        if (parts->DossiersFrame1) parts->DossiersFrame1->ShowImageName(fileName);
    });
}

void TProgram::attachVideoWindow()
{
    ElementRef sink = ElementRef::sink(gst_element_factory_make("kaddisplaysink", "vwEcran"));
    if (sink) {
        cam_->SetVideoWindow(sink.get());
        form_->vwEcran->AttachDisplaySink(sink.get());
    }
    cam_->PreviewBuilt = false;
    parts_.MovieBox.Reset();
    cam_->MovieBoxRebuild = [this] { movieBoxRebuild(); };
}

void TProgram::initPanels()
{
    parts_.IncrusterFrame1->AdaptPanel(false, false);
    parts_.ProgrammerFrame1->Preset(QDateTime::currentDateTime());
    amorcer_->WriteInstructions();
}

void TProgram::writeSystemReport()
{
    SystemFacts facts;
    facts.OperatingSystem = OperatingSystemName();
    facts.MediaVersion = MediaPlatformVersion();
    facts.DeinterlacerPresent = cam_->DeinterlacerPresent;
    facts.LumatexPresent = cam_->LumatexPresent;
    facts.ChronixPresent = cam_->ChronixPresent;
    facts.HorodexPresent = cam_->HorodexPresent;
    facts.MovieBoxDevicePresent = cam_->MovieBoxDevicePresent;
    facts.DumpPresent = cam_->DumpPresent;
    facts.CirrusSplitterPresent = cam_->CirrusSplitterPresent;
    facts.PinnacleDecoderPresent = cam_->PinnacleDecoderPresent;
    facts.PinnacleDemuxPresent = cam_->PinnacleDemuxPresent;
    parts_.HelpFrame1->WriteSystemReport(facts);
}

void TProgram::movieBoxRebuild()
{
    // The MovieBox's graph was made anew: the source goes back in, the
    // preview is rebuilt and a running capture starts again.
    if (rebuilding_) return;
    rebuilding_ = true;
    const int index = parts_.SourcesFrame->cboxvideo->currentIndex();
    if (index >= 0 && index < static_cast<int>(parts_.VideoItems.size()) &&
        parts_.VideoItems[static_cast<std::size_t>(index)].Source &&
        cam_->ConnectSource(*parts_.VideoItems[static_cast<std::size_t>(index)].Source)) {
        sources_->FillGraphOptions();
        if (cam_->BuildPreviewGraph()) {
            // A capture that has ended (stopped, or its device lost) still
            // shows as running here, but the window has already moved on to
            // the next name: a writer placed now would make that file.
            const CaptureState state = form_->State();
            const bool capturing =
                state == CaptureState::csCapturing || state == CaptureState::csScheduledCapture;
            if (capturing && cam_->CaptureFileName == form_->CurrentVideoFileName) {
                sources_->FillCaptureOptions();
                cam_->CurrentVideoFileName = form_->CurrentVideoFileName;
                cam_->BuildCaptureGraph();
            }
        }
    }
    rebuilding_ = false;
}

bool TProgram::Grab(bool fromIntervalometer)
{
    TCaptureForm& f = *form_;
    if (!cam_->PreviewBuilt) return false;
    if (!fromIntervalometer && f.ActivePanel() != piExtraire)
        f.Action(ActionId::acExtraireFrame)->trigger();

    // Only a reference to the latest frame is taken here, at the due time;
    // the conversion, scaling, encoding and write (whose sync can take most
    // of a second on a busy disk) happen on the still writer's thread.
    GstElement* grabber = cam_->sg.Element();
    if (!grabber) return false;
    const SampleRef frame(kad_sample_grabber_take_frame(grabber));
    if (!frame) return false;
    StillJob job;
    job.Develop = [frame](StillJob& j, QString* reason) {
        KadGrabbedFrameInfo info{};
        kad_sample_grabber_frame_to_rgb(frame.get(), nullptr, 0, &info);
        if (info.width < 1 || info.height < 1) {
            *reason = QStringLiteral("the grabbed frame holds no picture");
            return false;
        }
        j.Bytes.resize(info.size);
        if (!kad_sample_grabber_frame_to_rgb(frame.get(), j.Bytes.data(), j.Bytes.size(), &info)) {
            *reason = QStringLiteral("the grabbed frame could not be converted to RGB");
            return false;
        }
        j.Width = info.width;
        j.Height = info.height;
        j.Stride = info.stride;
        return true;
    };
    job.Ratio43 = f.Action(ActionId::acVMRKeepratio)->isChecked();

    StoreOptions options;
    options.Confirm = prefs_->Confirmer.Value;
    options.Format = parts_.OptionsFrame && parts_.OptionsFrame->rgExtension->itemIndex() == 1
                         ? StillFormat::Jpeg
                         : StillFormat::Bmp;
    options.Quality = parts_.OptionsFrame ? parts_.OptionsFrame->TrackBar1->value() : 50;
    if (parts_.NextImageFileName.isEmpty()) parts_.NextImageFileName = NextImageName();
    const bool replace = ConfirmReplace(parts_.NextImageFileName, options);
    if (!options.Confirm && prefs_->Confirmer.Value) {
        prefs_->Confirmer.Value = false;
        if (parts_.OptionsFrame) parts_.OptionsFrame->cbConfirmer->setChecked(false);
    }
    if (!replace) {
        // The thumbnail shows what was grabbed even when the user declines
        // to replace the file it would go to; the user was asked, so the
        // conversion here costs nothing that matters.
        QString ignored;
        if (job.Develop(job, &ignored)) {
            RgbFrame rgb{job.Bytes.data(), job.Width, job.Height, job.Stride};
            parts_.ExtraireFrame1->ShowThumbnail(MakeStoredImage(rgb, job.Ratio43));
        }
        if (!fromIntervalometer) parts_.ExtraireFrame1->Bevel3->hide();
        return false;
    }

    job.Path = parts_.NextImageFileName;
    job.Format = options.Format;
    job.Quality = options.Quality;
    const QString path = job.Path;
    if (!stills_->Submit(std::move(job))) {
        dialogs().error(ImageWriteFailedMessage(
            path, QStringLiteral("the images grabbed before it are still being written")));
        return false;
    }
    // The name moves on now so the next grab, due before this write may
    // end, takes the next one; a failed write takes the number back.
    lastStillHandedOver_ = path;
    parts_.NextImageFileName = NextImageName();
    if (!fromIntervalometer) parts_.ExtraireFrame1->Bevel3->hide();
    return true;
}

void TProgram::stillFailed(const QString& path, const QString& reason)
{
    // The next grab tries the same name again, unless a later grab has
    // already been handed over under the name that followed.
    if (path == lastStillHandedOver_ && Naming().ImageCounter >= 2) {
        Naming().ImageCounter -= 2;
        parts_.NextImageFileName = NextImageName();
    }
    if (quietStills_.remove(path)) {
        WriteLog(ImageWriteFailedMessage(path, reason));
        return;
    }
    dialogs().error(ImageWriteFailedMessage(path, reason));
}

void TProgram::fillHooks()
{
    TCaptureHooks& h = form_->Hooks();
    TCaptureForm* f = form_.get();
    TdmCam* cam = cam_.get();
    Preferences* pr = prefs_.get();
    TSourceSelection* src = sources_;
    TProgramParts* parts = &parts_;

    // ---- start-up ----
    h.attachVideoWindow = [this] { attachVideoWindow(); };
    h.initPanels = [this] { initPanels(); };
    h.loadVideoSources = [src] { return src->LoadVideoList(); };
    h.loadAudioSources = [src] { return src->LoadAudioList(); };
    h.checkOptionalFilters = [cam] { cam->CheckOptionalFilters(); };
    h.writeSystemReport = [this] { writeSystemReport(); };
    // The profile table is Kadrillo's own; Windows Media is available when
    // its encoders and muxer are installed, which the presence checks found.
    h.createProfileManager = [] {};
    h.applyPreferences = [this] { binding_->ApplyPreferences(); };
    h.flipPreference = [pr] { return pr->FlipOn.Value; };
    h.adjustAudioGroup = [this] { binding_->AdjustAudioGroup(); };
    h.bindDeviceLost = [cam, f] {
        QObject::connect(
            cam, &TdmCam::DeviceLost, f, &TCaptureForm::GraphDeviceLost,
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
    };
    h.showErrorReport = [parts](const QString& report, bool fatal) {
        parts->ErreurFrame1->ShowErrorReport(report, fatal);
    };
    h.mediaPlatformVersion = [] { return MediaPlatformVersion(); };
    h.operatingSystemName = [] { return OperatingSystemName(); };

    // ---- state routines ----
    h.refreshFacts = [cam, pr, src, parts](TStateFacts& facts) {
        const TSourcesFrame* s = parts->SourcesFrame;
        facts.Kind = cam->SourceKind;
        facts.Audio = src->CurrentAudioKind();
        facts.IsVCR = cam->IsVCR;
        facts.FormatIndex = s->rgFormat->itemIndex();
        facts.FormatCaption = s->rgFormat->selectedText();
        facts.AudioTypeText = s->cboxAudioType->currentText();
        facts.PermettreIncruster = pr->PermettreIncruster.Value;
        facts.DeinterlacerChecked =
            parts->OptionsFrame && parts->OptionsFrame->cbDeinterlacer->isChecked();
        facts.EcouterAudioInclus = pr->EcouterAudioInclus.Value;
        facts.EnregistrerSourceAudio = pr->EnregistrerSourceAudio.Value;
        facts.DeinterlacerPresent = cam->DeinterlacerPresent;
        facts.InlayFiltersAvailable = cam->InlayFiltersAvailable;
    };
    h.applyAudioType = [src] { src->ApplyAudioType(); };

    // ---- graph ----
    h.stopGraph = [cam] { cam->StopGraph(); };
    h.buildPreviewGraph = [cam, src] {
        src->FillGraphOptions();
        return cam->BuildPreviewGraph();
    };
    h.runGraph = [cam] { return cam->RunGraph(); };
    h.setVolume = [cam](int volume) { cam->SetVolume(volume); };
    h.previewBuilt = [cam] { return cam->PreviewBuilt; };
    h.deinterlacerOn = [pr, parts](bool on) {
        pr->DeinterlacerOn.Value = on;
        if (parts->OptionsFrame) parts->OptionsFrame->cbDeinterlacer->setChecked(on);
    };
    h.viewChanged = [f, pr] {
        pr->PanneauActif.Value = static_cast<std::uint8_t>(f->ActivePanel());
    };
    h.frameCounters = [this] { return capture_->FrameCounters(); };
    h.nextVideoName = [this] { return capture_->NameAfterCapture(); };
    h.graphDeviceLost = [src] { src->ReconnectAfterDeviceLost(); };

    // ---- actions ----
    h.grab = [this] { Grab(); };
    h.startCapture = [this] { return capture_->StartCapture(); };
    h.cut = [this] { capture_->Cut(); };
    // The inlay hooks (acIncruster, acAllowIncrust, acFlip, ...) are filled
    // by TInlayBinding.
    h.imageExtension = [pr, parts](int extension) {
        pr->ExtensionDesImages.Value = extension;
        if (parts->OptionsFrame) parts->OptionsFrame->SelectExtension(extension);
    };
    h.savePreferences = [parts] {
        if (parts->OptionsFrame) parts->OptionsFrame->SavePreferencesNow();
    };
    h.ecouterAudioInclus = [src](bool on) { src->acEcouterAudioInclusExecute(on); };
    h.enregistrerAudioSource = [src](bool on) { src->acEnregistrerAudioSourceExecute(on); };
    // The menu's toggle leaves "Show Pilot DV" alone (the camcorder button
    // of the sources panel is the one that changes it).
    h.showPilotDV = [cam, parts] {
        if (cam->IsVCR && parts->camForm) parts->camForm->setVisible(!parts->camForm->isVisible());
    };
    h.log = [this](bool on) { binding_->acLogExecute(on); };
    h.ferrovue = [this, f, pr, parts] {
        const QString hint =
            RunFerrovue(pr->Ferrovue.Value, f->CurrentVideoFileName, Naming().VideoCounter,
                        DefaultFerrovueLauncher(), capture_->RenamedVideos());
        if (parts->AproposFrame1) parts->AproposFrame1->sbFerrovue->setToolTip(hint);
    };
    h.videoDirectory = [pr] { return pr->VideoDirectory.Value; };

    // ---- camcorder ----
    // Both sets of shortcuts end in the camcorder window's own actions, and
    // those in the transport of the connected source.
    TcamForm* camForm = camForm_.get();
    QObject::connect(camForm, &TcamForm::commandRequested, cam, [cam](CamCommand command) {
        if (cam->HasExtTransport && cam->Transport) cam->Transport->Command(command);
    });
    h.camera = [camForm](ActionId id) {
        if (const std::optional<CamCommand> command = CamCommandOfAction(id))
            camForm->CommandAction(*command)->trigger();
    };
    h.cameraTick = [cam, camForm] {
        if (!cam->IsVCR || !cam->HasTimecodeReader || !cam->Transport) return;
        // Each connection makes a new transport; the panel follows the
        // current one.
        QObject::connect(cam->Transport.get(), &TcamTransport::timecodeRead, camForm,
                         &TcamForm::ShowTimecode, Qt::UniqueConnection);
        cam->Transport->RequestTimecode();
    };
    // A FireWire unit says whether it is a camera or a VCR only after the
    // connection.
    QObject::connect(cam, &TdmCam::TransportFactsChanged, f, [src, f] {
        src->ShowCamcorderWindow();
        if (f->State() == CaptureState::csPreview) f->ShowPreviewState();
    });

    // ---- shutdown ----
    h.hideCamcorderWindow = [parts] {
        if (parts->camForm) parts->camForm->hide();
    };
    h.savePreferencesOnExit = [parts] {
        return parts->OptionsFrame && parts->OptionsFrame->cbPrefsQuittant->isChecked();
    };
    h.gatherPreferences = [this] { binding_->GatherPreferences(); };
    h.formDestroy = [parts] {
        StopLog();
        parts->VideoItems.clear();
        parts->VideoSources.Clear();
    };

    // Intervalometer and schedule; they wrap refreshFacts, so they come last.
    schedule_->Bind(h);
}

} // namespace kad
