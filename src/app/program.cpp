#include "app/program.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <vector>

#include "app/capture_control.h"
#include "app/inlay_binding.h"
#include "app/preferences_binding.h"
#include "app/schedule_binding.h"
#include "app/source_selection.h"
#include "elements/sample_grabber.h"
#include "graph/dm_cam.h"
#include "platform/media/cam_transport.h"
#include "platform/media/gst_ptr.h"
#include "platform/media/media_platform.h"
#include "session/stills.h"
#include "settings/naming.h"
#include "settings/preferences.h"
#include "system/dialogs.h"
#include "system/ferrovue.h"
#include "system/log.h"
#include "system/sysinfo.h"
#include "system/texts.h"
#include "ui/about_panel.h"
#include "ui/camcorder_window.h"
#include "ui/capture_form.h"
#include "ui/error_report_panel.h"
#include "ui/folders_panel.h"
#include "ui/grab_panel.h"
#include "ui/help_panel.h"
#include "ui/inlay_panel.h"
#include "ui/moviebox_window.h"
#include "ui/options_panel.h"
#include "ui/schedule_panel.h"
#include "ui/sources_panel.h"
#include "ui/video_widget.h"

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

// The facts the window's state routines read, from the graph, the panels,
// the preferences and the schedule as they are at that moment.
class TProgramFacts : public TWindowFacts {
public:
    TProgramFacts(TProgramParts& parts, TSourceSelection& sources, TScheduleBinding& schedule)
        : p_(parts), sources_(sources), schedule_(schedule)
    {
    }

    void Refresh(TStateFacts& facts) const override
    {
        const TdmCam& cam = *p_.Cam;
        const Preferences& pr = *p_.Prefs;
        const TSourcesFrame* s = p_.SourcesFrame;
        facts.Kind = cam.Source().Kind();
        facts.Audio = sources_.CurrentAudioKind();
        facts.IsVCR = cam.Source().Facts().IsVCR;
        facts.FormatIndex = s->rgFormat->itemIndex();
        facts.FormatCaption = s->rgFormat->selectedText();
        facts.PermettreIncruster = pr.PermettreIncruster.Value;
        facts.DeinterlacerChecked = p_.OptionsFrame && p_.OptionsFrame->cbDeinterlacer->isChecked();
        facts.EcouterAudioInclus = pr.EcouterAudioInclus.Value;
        facts.EnregistrerSourceAudio = pr.EnregistrerSourceAudio.Value;
        facts.DeinterlacerPresent = cam.FilterGraph().Presence().DeinterlacerPresent;
        facts.InlayFiltersAvailable = cam.FilterGraph().Presence().InlayFiltersAvailable;
        facts.AlarmTime = schedule_.Schedule().Alarm().Time();
    }

private:
    TProgramParts& p_;
    TSourceSelection& sources_;
    TScheduleBinding& schedule_;
};

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
    capture_ = new TCaptureSession(*cam_, this);
    parts_.Session = capture_;
    form_->SetSession(capture_);
    binding_ = new TPreferencesBinding(parts_, *sources_, this);
    schedule_ = new TScheduleBinding(
        parts_, [this] { return Grab(true); }, this);
    facts_ = std::make_unique<TProgramFacts>(parts_, *sources_, *schedule_);
    form_->SetFactsSource(facts_.get());
    sources_->Bind();
    BindCaptureSession(*capture_, parts_, *sources_);
    binding_->Bind();
    connectStartup();
    connectWindow();
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
    if (cam_) {
        // A MovieBox is not reconnected for a program that ends.
        cam_->SetMovieBoxRebuild({});
        cam_->FilterGraph().StopGraph();
    }
    form_.reset();
    // "Stop when quit": the tape stops as the camcorder window goes.
    if (camForm_ && camForm_->cbStopQuittant->isChecked() && cam_ &&
        cam_->Source().Facts().HasExtTransport && cam_->Source().Transport())
        cam_->Source().Transport()->Command(CamCommand::Stop);
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
        cam_->FilterGraph().SetVideoWindow(sink.get());
        form_->vwEcran->AttachDisplaySink(sink.get());
    }
    cam_->Preview().ForgetPreview();
    parts_.MovieBox.Reset();
    cam_->SetMovieBoxRebuild([this] { movieBoxRebuild(); });
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
    facts.DeinterlacerPresent = cam_->FilterGraph().Presence().DeinterlacerPresent;
    facts.LumatexPresent = cam_->FilterGraph().Presence().LumatexPresent;
    facts.ChronixPresent = cam_->FilterGraph().Presence().ChronixPresent;
    facts.HorodexPresent = cam_->FilterGraph().Presence().HorodexPresent;
    facts.MovieBoxDevicePresent = cam_->FilterGraph().Presence().MovieBoxDevicePresent;
    facts.DumpPresent = cam_->FilterGraph().Presence().DumpPresent;
    facts.CirrusSplitterPresent = cam_->FilterGraph().Presence().CirrusSplitterPresent;
    facts.PinnacleDecoderPresent = cam_->FilterGraph().Presence().PinnacleDecoderPresent;
    facts.PinnacleDemuxPresent = cam_->FilterGraph().Presence().PinnacleDemuxPresent;
    parts_.HelpFrame1->WriteSystemReport(facts);
}

void TProgram::movieBoxRebuild()
{
    // The MovieBox's graph was made anew: the source goes back in, the
    // preview is rebuilt and a running capture starts again. The device
    // opens off the GUI thread; what StopGraph's callers build on the graph
    // (the session's preview and capture) waits for the end of the rebuild.
    if (capture_->Rebuilding()) return;
    const int index = parts_.SourcesFrame->cboxvideo->currentIndex();
    if (index < 0 || index >= static_cast<int>(parts_.VideoItems.size()) ||
        !parts_.VideoItems[static_cast<std::size_t>(index)].Source)
        return;
    capture_->BeginRebuild();
    sources_->ConnectSourceThen(
        *parts_.VideoItems[static_cast<std::size_t>(index)].Source,
        [this](const TconnectResult& result) {
            if (result) finishMovieBoxRebuild();
            capture_->EndRebuild(true);
        },
        [this] { capture_->EndRebuild(false); });
}

void TProgram::finishMovieBoxRebuild()
{
    sources_->FillGraphOptions();
    if (!cam_->Preview().BuildPreviewGraph()) return;
    // A capture that has ended (stopped, or its device lost) still shows as
    // running here, but the window has already moved on to the next name: a
    // writer placed now would make that file.
    const CaptureState state = form_->State();
    const bool capturing =
        state == CaptureState::csCapturing || state == CaptureState::csScheduledCapture;
    if (capturing && !capture_->CaptureStartWaiting() &&
        cam_->Capture().CaptureFileName() == capture_->VideoFileName()) {
        sources_->FillCaptureOptions();
        cam_->Capture().SetCurrentVideoFileName(capture_->VideoFileName());
        cam_->Capture().BuildCaptureGraph();
    }
}

bool TProgram::Grab(bool fromIntervalometer)
{
    TCaptureForm& f = *form_;
    // A still asked for while the MovieBox reconnects is taken from the
    // rebuilt preview.
    if (capture_->Rebuilding()) {
        capture_->AfterRebuild([this, fromIntervalometer](bool finished) {
            if (finished) Grab(fromIntervalometer);
        });
        return true;
    }
    if (!cam_->Preview().PreviewBuilt()) return false;
    if (!fromIntervalometer && f.ActivePanel() != piExtraire)
        f.Action(ActionId::acExtraireFrame)->trigger();

    // Only a reference to the latest frame is taken here, at the due time;
    // the conversion, scaling, encoding and write (whose sync can take most
    // of a second on a busy disk) happen on the still writer's thread.
    GstElement* grabber = cam_->FilterGraph().sg.Element();
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
    const TCaptureSettings& settings = parts_.Settings;
    options.Format = settings.Image == ImageType::Jpeg ? StillFormat::Jpeg : StillFormat::Bmp;
    options.Quality = settings.JpegQuality;
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

void TProgram::connectStartup()
{
    // The first showing's steps, in the window's order.
    TCaptureForm* f = form_.get();
    TdmCam* cam = cam_.get();
    TSourceSelection* src = sources_;
    TProgramParts* parts = &parts_;
    connect(f, &TCaptureForm::videoWindowWanted, this, [this] { attachVideoWindow(); });
    connect(f, &TCaptureForm::panelsInitWanted, this, [this] { initPanels(); });
    connect(f, &TCaptureForm::deviceListsWanted, this, [f, src] {
        const bool video = src->LoadVideoList();
        const bool audio = src->LoadAudioList();
        f->ReportDeviceLists(video, audio);
    });
    connect(f, &TCaptureForm::optionalFiltersWanted, this,
            [cam] { cam->FilterGraph().CheckOptionalFilters(); });
    // The profile table is Kadrillo's own; Windows Media is available when
    // its encoders and muxer are installed, which the presence checks found.
    connect(f, &TCaptureForm::systemReportWanted, this, [this] { writeSystemReport(); });
    // The preferences choose the video source, whose connection ends later;
    // the rest of the first showing waits for it.
    connect(f, &TCaptureForm::preferencesWanted, this, [this, f] {
        f->HoldStartup();
        binding_->ApplyPreferences([f] { f->ResumeStartup(); });
    });
    connect(f, &TCaptureForm::audioTypeWanted, this, [src] { src->ApplyAudioType(); });
    connect(f, &TCaptureForm::startupPreviewShown, this, [this, f, cam] {
        if (prefs_->FlipOn.Value && !f->Action(ActionId::acFlip)->isChecked())
            f->Action(ActionId::acFlip)->trigger();
        binding_->AdjustAudioGroup();
        QObject::connect(
            &cam->FilterGraph(), &TfilterGraph::DeviceLost, f, &TCaptureForm::GraphDeviceLost,
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
    });
    connect(f, &TCaptureForm::startupErrorReported, this,
            [parts](const QString& report, bool fatal) {
                parts->ErreurFrame1->ShowErrorReport(report, fatal);
            });

    // ---- shutdown ----
    connect(f, &TCaptureForm::closing, this, [this, parts] {
        if (parts->camForm) parts->camForm->hide();
        if (parts->OptionsFrame && parts->OptionsFrame->cbPrefsQuittant->isChecked())
            binding_->GatherPreferences();
    });
    connect(f, &TCaptureForm::destroying, this, [parts] {
        StopLog();
        parts->VideoItems.clear();
        parts->VideoSources.Clear();
    });
}

void TProgram::connectWindow()
{
    TCaptureForm* f = form_.get();
    TdmCam* cam = cam_.get();
    Preferences* pr = prefs_.get();
    TSourceSelection* src = sources_;
    TProgramParts* parts = &parts_;
    TCaptureSession* session = capture_;

    // ---- capture ----
    connect(f, &TCaptureForm::startCaptureRequested, this, [this, f, session] {
        if (session->State() == CaptureState::csPreview)
            session->StartCapture(session->VideoFileName());
        else if (session->State() == CaptureState::csScheduled)
            schedule_->Schedule().LancerEnregistrement();
    });
    connect(f, &TCaptureForm::stopCaptureRequested, session, &TCaptureSession::StopCapture);
    connect(f, &TCaptureForm::cutRequested, this, [session] { session->Cut(); });
    connect(f, &TCaptureForm::deviceLost, this, &TProgram::graphDeviceLost);
    connect(f, &TCaptureForm::grabRequested, this, [this] { Grab(); });

    // ---- switches and settings ----
    connect(f, &TCaptureForm::deinterlacerToggled, this, [pr, parts](bool on) {
        pr->DeinterlacerOn.Value = on;
        if (parts->OptionsFrame) parts->OptionsFrame->cbDeinterlacer->setChecked(on);
    });
    connect(f, &TCaptureForm::viewChanged, this,
            [f, pr] { pr->PanneauActif.Value = static_cast<std::uint8_t>(f->ActivePanel()); });
    connect(f, &TCaptureForm::imageTypeChosen, this, [pr, parts](int extension) {
        pr->ExtensionDesImages.Value = extension;
        if (parts->OptionsFrame) parts->OptionsFrame->SelectExtension(extension);
    });
    connect(f, &TCaptureForm::savePreferencesRequested, this, [parts] {
        if (parts->OptionsFrame) parts->OptionsFrame->SavePreferencesNow();
    });
    connect(f, &TCaptureForm::includedAudioToggled, this,
            [src](bool on) { src->acEcouterAudioInclusExecute(on); });
    connect(f, &TCaptureForm::auxAudioToggled, this,
            [src](bool on) { src->acEnregistrerAudioSourceExecute(on); });
    // The menu's toggle leaves "Show Pilot DV" alone (the camcorder button
    // of the sources panel is the one that changes it).
    connect(f, &TCaptureForm::pilotWindowRequested, this, [cam, parts] {
        if (cam->Source().Facts().IsVCR && parts->camForm)
            parts->camForm->setVisible(!parts->camForm->isVisible());
    });
    connect(f, &TCaptureForm::logToggled, this, [this](bool on) { binding_->acLogExecute(on); });
    connect(f, &TCaptureForm::ferrovueRequested, this, [this, f, pr, parts] {
        const QString hint =
            RunFerrovue(pr->Ferrovue.Value, f->CurrentVideoFileName(), Naming().VideoCounter,
                        DefaultFerrovueLauncher(), capture_->RenamedVideos());
        if (parts->AproposFrame1) parts->AproposFrame1->sbFerrovue->setToolTip(hint);
    });
    connect(f, &TCaptureForm::openVideoFolderRequested, this, &TProgram::openVideoFolder);

    // ---- camcorder ----
    // Both sets of shortcuts end in the camcorder window's own actions, and
    // those in the transport of the connected source.
    TcamForm* camForm = camForm_.get();
    QObject::connect(camForm, &TcamForm::commandRequested, cam, [cam](CamCommand command) {
        if (cam->Source().Facts().HasExtTransport && cam->Source().Transport())
            cam->Source().Transport()->Command(command);
    });
    connect(f, &TCaptureForm::cameraCommandRequested, this, [camForm](ActionId id) {
        if (const std::optional<CamCommand> command = CamCommandOfAction(id))
            camForm->CommandAction(*command)->trigger();
    });
    // The camcorder part of the window's 50 ms timer.
    connect(f->DroppedFramesTimer, &QTimer::timeout, this, [cam, camForm] {
        if (!cam->Source().Facts().IsVCR || !cam->Source().Facts().HasTimecodeReader ||
            !cam->Source().Transport())
            return;
        // Each connection makes a new transport; the panel follows the
        // current one.
        QObject::connect(cam->Source().Transport(), &TcamTransport::timecodeRead, camForm,
                         &TcamForm::ShowTimecode, Qt::UniqueConnection);
        cam->Source().Transport()->RequestTimecode();
    });
    // A FireWire unit says whether it is a camera or a VCR only after the
    // connection.
    QObject::connect(&cam->Source(), &TsourceConnection::TransportFactsChanged, f, [src, f] {
        src->ShowCamcorderWindow();
        if (f->State() == CaptureState::csPreview) f->ShowPreviewState();
    });

    // Intervalometer and schedule.
    schedule_->Bind(*capture_);
}

void TProgram::graphDeviceLost()
{
    TCaptureForm& f = *form_;
    // The interrupted file stays; the next capture gets a new name.
    if (capture_->Capturing()) capture_->SetVideoFileName(capture_->NameAfterCapture());
    sources_->ReconnectAfterDeviceLost([&f] {
        f.ShowPreviewState();
        if (!f.StartPreview()) f.ShowIdleState();
    });
}

void TProgram::openVideoFolder()
{
    const QString folder = prefs_->VideoDirectory.Value;
    if (folder.isEmpty()) return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        // No file manager answered (none installed, or no desktop session).
        dialogs().warning(Text(TextId::FolderNotOpened) + folder);
}

} // namespace kad
