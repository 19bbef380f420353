#include "app/source_selection.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QMenu>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <exception>
#include <utility>

#include "graph/dm_cam.h"
#include "platform/media/cam_transport.h"
#include "session/capture_session.h"
#include "settings/naming.h"
#include "settings/preferences.h"
#include "system/dialogs.h"
#include "system/log.h"
#include "system/texts.h"
#include "ui/camcorder_window.h"
#include "ui/capture_form.h"
#include "ui/folders_panel.h"
#include "ui/inlay_panel.h"
#include "ui/moviebox_window.h"
#include "ui/options_panel.h"
#include "ui/settings_menu.h"
#include "ui/sources_panel.h"
#include "ui/video_widget.h"

namespace kad {

namespace {

QString replaceExtension(const QString& path, const QString& extension)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (path.isEmpty()) return path;
    if (dot > slash) return path.left(dot) + extension;
    return path + extension;
}

} // namespace

TSourceSelection::TSourceSelection(TProgramParts& parts, QObject* parent)
    : QObject(parent), p_(parts),
      watch_([this](DeviceCategory category) { devicesChanged(category); })
{
    connect(&p_.Cam->Source(), &TsourceConnection::SourceConnected, this,
            &TSourceSelection::sourceConnected);
    followTimer_ = new QTimer(this);
    followTimer_->setSingleShot(true);
    followTimer_->setInterval(0);
    connect(followTimer_, &QTimer::timeout, this, [this] {
        if (std::exchange(videoChanged_, false)) followVideoDevices();
        if (std::exchange(audioChanged_, false)) followAudioDevices();
    });
}

TSourceSelection::~TSourceSelection()
{
    watch_.Stop();
}

void TSourceSelection::Bind()
{
    TSourcesFrame* s = p_.SourcesFrame;
    TCaptureForm* f = p_.Form;
    connect(s, &TSourcesFrame::videoSourceChanged, this, [this](int) { cboxVideoChange(); });
    connect(s, &TSourcesFrame::refreshVideoRequested, this,
            &TSourceSelection::ActualiserVideoBtnClick);
    connect(s, &TSourcesFrame::videoSettingsRequested, this, &TSourceSelection::VideoPropBtnClick);
    connect(s, &TSourcesFrame::pilotToggleRequested, this,
            &TSourceSelection::SourcesFramePilotSpeedBtnClick);
    connect(s, &TSourcesFrame::formatClicked, this, [this](int) { rgFormatClick(); });
    connect(s, &TSourcesFrame::listenRateClicked, this,
            &TSourceSelection::SourcesFramergEcouterDVClick);
    connect(s, &TSourcesFrame::audioTypeChanged, this,
            [this](int) { SourcesFramergaudioChange(); });
    connect(s, &TSourcesFrame::audioSourceChanged, this,
            [this](const QString&) { cboxAudioChange(); });
    connect(s, &TSourcesFrame::audioSettingsRequested, this, &TSourceSelection::AudiopropBtnClick);
    connect(f, &TCaptureForm::audioSettingsRequested, this, &TSourceSelection::AudiopropBtnClick);
    connect(s, &TSourcesFrame::syncCorrectionChanged, this,
            &TSourceSelection::SourcesFrameRXspinCorrEditChange);
    // The choices that only matter to the next capture are taken as they
    // change, whoever changes them.
    TCaptureSettings& c = p_.Settings;
    connect(s->rgStandard, &TRadioGroup::itemIndexChanged, this, [&c](int index) {
        if (index >= 0) c.Standard = static_cast<VideoStandard>(index);
    });
    connect(s->rgFrequenceDV, &TRadioGroup::itemIndexChanged, this, [&c](int index) {
        if (index >= 0) c.Frequency = static_cast<DVAudioFrequency>(index);
    });
    connect(s->rgProfiles, &TRadioGroup::itemIndexChanged, this, [&c](int index) {
        if (index >= 0) c.ProfileLevel = static_cast<WmProfileLevel>(index);
    });
    connect(s, &TSourcesFrame::optionsPanelRequested, f,
            [f] { f->Action(ActionId::acOptionsFrame)->trigger(); });
    connect(s, &TSourcesFrame::foldersPanelRequested, f,
            [f] { f->Action(ActionId::acDossiersFrame)->trigger(); });
    connect(s, &TSourcesFrame::openVideoFolderRequested, this,
            &TSourceSelection::SourcesFramesbVideoClick);
    connect(s, &TSourcesFrame::ferrovueRequested, f,
            [f] { f->Action(ActionId::acFerrovue)->trigger(); });
    bindMovieBoxStep();
}

void TSourceSelection::bindMovieBoxStep()
{
    TamorcerForm* form = p_.amorcerForm;
    if (!form) return;
    TCaptureForm* f = p_.Form;
    TdmCam* cam = p_.Cam;
    MovieBoxStepHooks h;
    h.detachPreview = [f] { f->vwEcran->AttachDisplaySink(nullptr); };
    h.attachPreview = [f, cam] {
        f->vwEcran->AttachDisplaySink(cam->FilterGraph().VideoWindowFilter());
    };
    h.showInstructions = [form] {
        form->show();
        form->raise();
    };
    h.closeInstructions = [form] { form->hide(); };
    h.openPrimingDialog = [form](const QString& name) { form->OpenPrimingDialog(name); };
    h.log = [](const QString& line) { WriteLog(line); };
    p_.MovieBox.SetHooks(std::move(h));
    // Tied to the main window: a dialog closing as the program ends finds
    // nothing to re-attach.
    connect(form, &TamorcerForm::PrimingClosed, f, [this] { p_.MovieBox.DialogClosed(); });
}

// ---------------------------------------------------------------------------
// Device lists

void TSourceSelection::fillVideoCombo()
{
    QComboBox* box = p_.SourcesFrame->cboxvideo;
    const QSignalBlocker block(box);
    box->clear();
    for (const TvideoItem& item : p_.VideoItems)
        box->addItem(item.Name);
    box->setCurrentIndex(-1);
    setVideoPlaceholder();
}

void TSourceSelection::setVideoPlaceholder()
{
    p_.SourcesFrame->ShowVideoPlaceholder();
}

bool TSourceSelection::LoadVideoList()
{
    const bool ok = LoadVideoSources(p_.VideoSources, p_.VideoItems);
    FollowDevices();
    fillVideoCombo();
    WriteLogSeparator();
    WriteLog(QStringLiteral("List of video sources"));
    WriteLogBlank();
    for (const TvideoItem& item : p_.VideoItems)
        WriteLog(item.Name);
    return ok;
}

bool TSourceSelection::LoadAudioList()
{
    const bool ok = LoadAudioSources(p_.AudioItems);
    QComboBox* box = p_.SourcesFrame->cboxAudio;
    {
        const QSignalBlocker block(box);
        box->clear();
        box->addItems(p_.AudioItems);
    }
    WriteLogSeparator();
    WriteLog(QStringLiteral("List of audio sources"));
    WriteLogBlank();
    for (const QString& name : p_.AudioItems)
        WriteLog(name);
    WriteLogSeparator();
    return ok;
}

bool TSourceSelection::SelectVideoByName(const QString& text)
{
    QStringList names;
    for (const TvideoItem& item : p_.VideoItems)
        names << item.Name;
    const int index = IndexOrFirst(text, names);
    const QSignalBlocker block(p_.SourcesFrame->cboxvideo);
    p_.SourcesFrame->cboxvideo->setCurrentIndex(index);
    setVideoPlaceholder();
    return index >= 0;
}

// ---------------------------------------------------------------------------
// What the graph reads

SourceKind TSourceSelection::Kind() const
{
    return p_.Cam->Source().Kind();
}

CaptureFormat TSourceSelection::Format() const
{
    return CaptureFormatOf(Kind(), p_.Settings.FormatPosition(Kind()));
}

void TSourceSelection::FillGraphOptions()
{
    // The deinterlacer and the inlay follow their own actions, which keep
    // them in the preferences.
    const Preferences& pr = *p_.Prefs;
    TgraphOptions o = p_.Cam->Preview().Options();
    o.DeinterlacerOn =
        pr.DeinterlacerOn.Value && p_.Cam->FilterGraph().Presence().DeinterlacerPresent;
    o.PermettreIncruster = pr.PermettreIncruster.Value;
    p_.Settings.FillGraphOptions(o);
    p_.Cam->Preview().SetOptions(o);
}

void TSourceSelection::FillCaptureOptions()
{
    p_.Settings.FillCaptureOptions(*p_.Cam, Kind());
}

void TSourceSelection::ShowVideoName(const QString& path)
{
    const QString name = FileNamePart(path);
    p_.SourcesFrame->ShowVideoName(name);
    if (p_.DossiersFrame1) p_.DossiersFrame1->ShowVideoName(name);
}

void TSourceSelection::ApplyVideoExtension()
{
    NamingState& n = Naming();
    n.captureFormat = Format();
    const QString name =
        replaceExtension(p_.Session->VideoFileName(), CaptureExtension(n.captureFormat));
    p_.Session->SetVideoFileName(name);
    ShowVideoName(name);
}

// ---------------------------------------------------------------------------
// Connecting

void TSourceSelection::updateCaption()
{
    const QString combo = p_.Form->VideoComboText();
    // The window as it is now: "Reduced on" is only brought up to date when
    // the preferences are gathered.
    if (p_.Form->IsReduced())
        p_.Form->setWindowTitle(combo);
    else
        p_.Form->setWindowTitle(Text(TextId::ProductName) + Text(TextId::Blank) + Text(TextId::By) +
                                Text(TextId::Blank) + Text(TextId::MakerName) +
                                Text(TextId::TitleSeparator) + combo);
}

void TSourceSelection::ShowCamcorderWindow()
{
    // Without a tape to drive the camcorder keys and the window's toggle
    // would run and reach nothing; they are off until a source has one.
    if (p_.Form) {
        const bool drivable =
            p_.Cam->Source().Facts().HasExtTransport && p_.Cam->Source().Transport();
        for (ActionId id :
             {ActionId::camPlay, ActionId::camPause, ActionId::camStop, ActionId::camAvanceLent,
              ActionId::camAvanceRapide, ActionId::camReculeLent, ActionId::camReculeRapide})
            p_.Form->Action(id)->setEnabled(drivable);
        p_.Form->Action(ActionId::acShowPilotDV)
            ->setEnabled(p_.Cam->Source().Facts().IsVCR && p_.camForm);
    }
    if (!p_.camForm) return;
    p_.camForm->setVisible(p_.Cam->Source().Facts().IsVCR && p_.Prefs->ShowPilotDV.Value);
}

void TSourceSelection::ConnectVideoSource(std::function<void(bool)> then)
{
    TSourcesFrame* s = p_.SourcesFrame;
    TdmCam& cam = *p_.Cam;
    Preferences& pr = *p_.Prefs;
    const auto done = [then](bool ok) {
        if (then) then(ok);
    };
    try {
        WriteLogSeparator();
        WriteLog(QStringLiteral("Start of connecting Video"));
        // The hive's values keep up with the choices made on the source
        // being left.
        p_.Settings.ToPreferences(pr, cam.Source().Kind());

        const int index = s->cboxvideo->currentIndex();
        if (index < 0 || index >= static_cast<int>(p_.VideoItems.size())) {
            setVideoPlaceholder();
            cam.Source().CancelConnect();
            dropAfterConnect();
            p_.Form->ShowConnecting(false);
            cam.FilterGraph().VideoSource.Remove();
            cam.Source().ForgetSource();
            done(showConnectedSource());
            return;
        }
        TvideoSource* source = p_.VideoItems[static_cast<std::size_t>(index)].Source;
        const auto unusable = [this, s, index, source, done] {
            // The device cannot be used: it leaves the list and the next
            // one is tried.
            WriteLogSection(QStringLiteral("the source ") + s->cboxvideo->currentText() +
                            QStringLiteral(" is disabled"));
            {
                const QSignalBlocker block(s->cboxvideo);
                s->cboxvideo->removeItem(index);
            }
            p_.VideoItems.erase(p_.VideoItems.begin() + index);
            if (source) p_.VideoSources.Remove(source);
            setVideoPlaceholder();
            ConnectVideoSource([done](bool) { done(false); });
        };
        if (!source) {
            unusable();
            return;
        }
        ConnectSourceThen(*source, [this, s, unusable, done](const TconnectResult& result) {
            if (!result) {
                unusable();
                return;
            }
            p_.MovieBox.Connected(p_.Cam->Source().Kind(), s->cboxvideo->currentText());
            if (p_.camForm) p_.camForm->SetSourceDescription(p_.Cam->Source().Facts().Description);
            ShowCamcorderWindow();
            done(showConnectedSource());
        });
    } catch (const std::exception&) {
        WriteLogSection(QStringLiteral("Error while Connecting Video"));
        done(false);
    }
}

bool TSourceSelection::showConnectedSource()
{
    TSourcesFrame* s = p_.SourcesFrame;
    TdmCam& cam = *p_.Cam;
    Preferences& pr = *p_.Prefs;
    try {
        updateCaption();

        const SourceKind kind = cam.Source().Kind();
        // The format and audio type picked before carry over to the new
        // kind's lists where they have a place, else the lists' fall-backs.
        TCaptureSettings& settings = p_.Settings;
        const QStringList formats =
            TSourcesFrame::FormatItems(kind, cam.FilterGraph().Presence().WmvAvailable);
        s->ShowFormatItems(kind, cam.FilterGraph().Presence().WmvAvailable);
        int format = settings.FormatPosition(kind);
        if (format >= formats.size()) format = formats.isEmpty() ? -1 : 0;
        s->rgFormat->setItemIndex(format);
        if (format >= 0) settings.Format = CaptureFormatOf(kind, format);
        s->rgFormat->setVisible(kind != SourceKind::skNoVideo);

        QComboBox* type = s->cboxAudioType;
        const bool haveAudioDevices = !p_.AudioItems.isEmpty();
        audioChoices_ = AudioTypeChoices(kind, haveAudioDevices);
        {
            const QSignalBlocker block(type);
            s->ShowAudioTypeItems(kind, haveAudioDevices);
            const int chosen = settings.AudioPosition(kind, audioChoices_);
            type->setCurrentIndex(chosen);
        }

        if (p_.IncrusterFrame1)
            p_.IncrusterFrame1->AdaptPanel(cam.FilterGraph().Presence().InlayFiltersAvailable,
                                           kind == SourceKind::skDV);
        p_.Form->SetStatusText(2, QString());
        p_.Form->SetStatusText(3, QString());

        QAction* flip = p_.Form->Action(ActionId::acFlip);
        if (pr.FlipOn.Value && !flip->isChecked()) flip->trigger();
        if (kind == SourceKind::skMovieBoxB && cam.FilterGraph().Deinterlacer.InGraph() &&
            !flip->isChecked())
            flip->trigger();

        ApplyVideoExtension();
        WriteLog(QStringLiteral("End of Connecting Video"));
        return true;
    } catch (const std::exception&) {
        WriteLogSection(QStringLiteral("Error while Connecting Video"));
        return false;
    }
}

void TSourceSelection::ConnectSourceThen(const TvideoSource& source,
                                         std::function<void(const TconnectResult&)> then,
                                         std::function<void()> takenOver)
{
    dropAfterConnect();
    afterConnect_ = std::move(then);
    afterTakenOver_ = std::move(takenOver);
    p_.Form->ShowConnecting(true);
    p_.Cam->Source().ConnectSourceAsync(source);
}

bool TSourceSelection::Connecting() const
{
    return p_.Cam->Source().Connecting();
}

void TSourceSelection::sourceConnected(const TconnectResult& result)
{
    const std::function<void(const TconnectResult&)> then = std::exchange(afterConnect_, nullptr);
    afterTakenOver_ = nullptr;
    p_.Form->ShowConnecting(false);
    if (then) then(result);
}

void TSourceSelection::dropAfterConnect()
{
    afterConnect_ = nullptr;
    if (const std::function<void()> told = std::exchange(afterTakenOver_, nullptr)) told();
}

void TSourceSelection::cboxVideoChange(std::function<void()> then)
{
    // A source chosen stands: a lost device coming back no longer takes its
    // place.
    lostVideo_.clear();
    TdmCam& cam = *p_.Cam;
    // Stopping the MovieBox takes its preview down for a rebuild the new
    // connection takes over: whether a preview showed is known before.
    const bool previewing = cam.Preview().PreviewBuilt();
    cam.FilterGraph().StopGraph();
    cam.FilterGraph().VideoSource.Remove();
    {
        const QSignalBlocker block(p_.SourcesFrame->cboxAudioType);
        p_.SourcesFrame->cboxAudioType->setCurrentIndex(-1);
    }
    setVideoPlaceholder();
    const auto finish = [this, then, previewing] {
        TdmCam& cam = *p_.Cam;
        TCaptureForm& f = *p_.Form;
        // The new kind's format rules (extension, standard, profiles, the
        // audio list locked for DV kept in its own coding) hold from now on.
        applyFormatRules();
        ApplyAudioType();
        if ((previewing || cam.Preview().PreviewBuilt()) && f.StartPreview())
            f.ShowPreviewState();
        else
            f.ShowIdleState();
        if (then) then();
    };
    ConnectVideoSource([this, finish, then](bool ok) {
        if (ok) {
            finish();
            return;
        }
        QComboBox* box = p_.SourcesFrame->cboxvideo;
        {
            const QSignalBlocker block(box);
            box->setCurrentIndex(box->count() > 0 ? 0 : -1);
        }
        ConnectVideoSource([this, finish, then](bool second) {
            if (second) {
                finish();
                return;
            }
            p_.Form->ShowIdleState();
            if (then) then();
        });
    });
}

void TSourceSelection::ActualiserVideoBtnClick()
{
    const QString remembered = p_.SourcesFrame->cboxvideo->currentText();
    p_.Cam->FilterGraph().StopGraph();
    p_.MovieBox.Reset();
    if (!LoadVideoSources(p_.VideoSources, p_.VideoItems)) return;
    fillVideoCombo();
    SelectVideoByName(remembered);
    p_.Cam->FilterGraph().VideoSource.Remove();
    ConnectVideoSource([this](bool) {
        TCaptureForm& f = *p_.Form;
        f.ShowPreviewState();
        if (!f.StartPreview()) f.ShowIdleState();
    });
}

void TSourceSelection::ReconnectAfterDeviceLost(std::function<void()> then)
{
    TdmCam& cam = *p_.Cam;
    p_.MovieBox.Reset();
    // Stopping finishes the interrupted file, so what was recorded stays
    // readable; then the dead device leaves the graph.
    cam.FilterGraph().StopGraph();
    cam.FilterGraph().VideoSource.Remove();

    // The capture toggle goes back to "Capture", picture and hint included:
    // the capture is over.
    if (p_.Form->Action(ActionId::acCapturerBascule)->isChecked())
        p_.Form->ShowCaptureToggle(false);

    const QString remembered = p_.SourcesFrame->cboxvideo->currentText();
    LoadVideoSources(p_.VideoSources, p_.VideoItems);
    fillVideoCombo();
    SelectVideoByName(remembered);
    // A device that has left the list is waited for: when it comes back it
    // takes its place again (takeBackLostSource).
    if (!remembered.isEmpty() && p_.SourcesFrame->cboxvideo->currentText() != remembered)
        lostVideo_ = remembered;
    ConnectVideoSource([this, then](bool) {
        if (LoadAudioList()) ChooseAudioSource();
        ShowCamcorderWindow();
        if (then) then();
    });
}

// ---------------------------------------------------------------------------
// Following the devices

bool TSourceSelection::FollowDevices()
{
    if (watch_.Running()) return true;
    if (watch_.Start()) return true;
    WriteLog(QStringLiteral("Devices plugged in or out are not followed: press the refresh "
                            "button to see them"));
    return false;
}

void TSourceSelection::devicesChanged(DeviceCategory category)
{
    (category == DeviceCategory::Audio ? audioChanged_ : videoChanged_) = true;
    followTimer_->start();
}

void TSourceSelection::followVideoDevices()
{
    QComboBox* box = p_.SourcesFrame->cboxvideo;
    const QString current = box->currentText();
    QStringList before;
    for (const TvideoItem& item : p_.VideoItems)
        before << item.Name;

    if (!LoadVideoSources(p_.VideoSources, p_.VideoItems)) return;
    QStringList after;
    for (const TvideoItem& item : p_.VideoItems)
        after << item.Name;
    if (after == before) return;
    for (const QString& name : after)
        if (!before.contains(name)) WriteLog(QStringLiteral("Video source plugged in: ") + name);
    for (const QString& name : before)
        if (!after.contains(name)) WriteLog(QStringLiteral("Video source unplugged: ") + name);

    if (!current.isEmpty() && !after.contains(current)) {
        // The device in use is gone: the same path as a stream that fails,
        // which reads the list again and records the source as lost.
        p_.Form->GraphDeviceLost();
        return;
    }
    // Another device came or went: the list changes under the selection,
    // the graph is left alone.
    fillVideoCombo();
    if (!current.isEmpty()) SelectVideoByName(current);
    if (!lostVideo_.isEmpty() && after.contains(lostVideo_)) takeBackLostSource();
}

void TSourceSelection::takeBackLostSource()
{
    const QString name = std::exchange(lostVideo_, QString());
    const CaptureState state = p_.Form->State();
    if (state != CaptureState::csIdle && state != CaptureState::csPreview) {
        // Recording goes on with the source it has; the user switches back
        // by hand.
        WriteLog(QStringLiteral("Video source back: ") + name +
                 QStringLiteral(" (not taken back during a capture)"));
        return;
    }
    WriteLog(QStringLiteral("Video source back: ") + name +
             QStringLiteral(", it is the current source again"));
    SelectVideoByName(name);
    cboxVideoChange();
}

void TSourceSelection::followAudioDevices()
{
    QComboBox* box = p_.SourcesFrame->cboxAudio;
    const QString current = box->currentText();
    const QStringList before = p_.AudioItems;
    if (!LoadAudioSources(p_.AudioItems) || p_.AudioItems == before) return;
    // Audio devices may share a name: what counts is how many of each.
    QStringList names = before + p_.AudioItems;
    names.removeDuplicates();
    for (const QString& name : names) {
        const qsizetype was = before.count(name);
        const qsizetype is = p_.AudioItems.count(name);
        for (qsizetype n = was; n < is; ++n)
            WriteLog(QStringLiteral("Audio source plugged in: ") + name);
        for (qsizetype n = is; n < was; ++n)
            WriteLog(QStringLiteral("Audio source unplugged: ") + name);
    }
    // The chosen device keeps its place; a vanished one fails its own
    // stream, which reports it.
    const QSignalBlocker block(box);
    box->clear();
    box->addItems(p_.AudioItems);
    box->setCurrentIndex(box->findText(current));
}

// ---------------------------------------------------------------------------
// Format and audio

void TSourceSelection::switchAction(ActionId id, bool wanted)
{
    const bool current = id == ActionId::acEcouterAudioInclus ? p_.Settings.ListenIncludedAudio
                                                              : p_.Settings.RecordAudioSource;
    if (current == wanted) return;
    // The entry may be off while the audio is locked; the switch is ours.
    QAction* a = p_.Form->Action(id);
    const bool enabled = a->isEnabled();
    a->setEnabled(true);
    a->trigger();
    a->setEnabled(enabled);
}

void TSourceSelection::applyFormatRules()
{
    TSourcesFrame* s = p_.SourcesFrame;
    const SourceKind kind = Kind();
    const CaptureFormat format = Format();

    ApplyVideoExtension();

    const bool recompressed = format == CaptureFormat::cfDVRecompressed;
    s->rgStandard->setVisible(recompressed);
    s->ShowProfileControls(format == CaptureFormat::cfWmv,
                           p_.OptionsFrame && p_.OptionsFrame->ChosenProfileEntry() > 0);

    const auto forceIncluded = [&] {
        const auto included =
            std::find(audioChoices_.begin(), audioChoices_.end(), AudioKind::akIncluded);
        const int at = included == audioChoices_.end()
                           ? -1
                           : static_cast<int>(std::distance(audioChoices_.begin(), included));
        {
            const QSignalBlocker block(s->cboxAudioType);
            s->cboxAudioType->setCurrentIndex(at);
        }
        switchAction(ActionId::acEnregistrerAudioSource, false);
        switchAction(ActionId::acEcouterAudioInclus, true);
        setAudioSwitches(true, false);
        // The preview state enables the whole audio group again: the list
        // itself stays locked.
        s->gbAudio->setEnabled(false);
        s->cboxAudioType->setEnabled(false);
        // Their menu entries would flip and be put straight back.
        for (ActionId id : {ActionId::acEcouterAudioInclus, ActionId::acEnregistrerAudioSource})
            p_.Form->Action(id)->setEnabled(false);
    };
    s->cboxAudioType->setEnabled(true);
    for (ActionId id : {ActionId::acEcouterAudioInclus, ActionId::acEnregistrerAudioSource})
        p_.Form->Action(id)->setEnabled(true);

    // A DV or MovieBox stream written as it comes carries its own sound and
    // nothing else can be added to it; a re-encoded one takes any sound.
    s->rgFrequenceDV->setVisible(recompressed);
    const bool keptAsItComes = format != CaptureFormat::cfNone && !CaptureReencodes(format) &&
                               (kind == SourceKind::skDV || kind == SourceKind::skMovieBoxB);
    if (keptAsItComes)
        forceIncluded();
    else if (CaptureReencodes(format) ||
             (kind != SourceKind::skDV && kind != SourceKind::skMovieBoxB))
        s->gbAudio->setEnabled(true);

    if (p_.OptionsFrame) {
        p_.OptionsFrame->SetCaptureFormat(format);
        p_.OptionsFrame->OptionsframecboxdivxChange();
    }
}

void TSourceSelection::rgFormatClick()
{
    const CaptureFormat picked = CaptureFormatOf(Kind(), p_.SourcesFrame->rgFormat->itemIndex());
    if (picked != CaptureFormat::cfNone) p_.Settings.Format = picked;
    applyFormatRules();
    ApplyAudioType();
    p_.Form->ShowPreviewState();
}

void TSourceSelection::ApplyAudioType()
{
    if (applyingAudio_) return;
    // The position in the list says which audio it is; its caption is only
    // what the user reads.
    const int index = p_.SourcesFrame->cboxAudioType->currentIndex();
    if (index < 0 || index >= static_cast<int>(audioChoices_.size())) return;
    applyingAudio_ = true;
    const AudioKind audio = audioChoices_[static_cast<std::size_t>(index)];
    p_.Settings.AudioInUse = audio;
    const bool ecouter = audio == AudioKind::akIncluded;
    const bool enregistrer = audio == AudioKind::akSoundCard;
    switchAction(ActionId::acEcouterAudioInclus, ecouter);
    switchAction(ActionId::acEnregistrerAudioSource, enregistrer);
    setAudioSwitches(ecouter, enregistrer);
    p_.SourcesFrame->SetAudioSettingsShown(enregistrer);
    applyingAudio_ = false;
}

void TSourceSelection::setAudioSwitches(bool listen, bool record)
{
    p_.Prefs->EcouterAudioInclus.Value = listen;
    p_.Prefs->EnregistrerSourceAudio.Value = record;
    p_.Settings.ListenIncludedAudio = listen;
    p_.Settings.RecordAudioSource = record;
}

void TSourceSelection::SourcesFramergaudioChange()
{
    // The user's pick, unlike a fall-back, carries over to the next source.
    const int index = p_.SourcesFrame->cboxAudioType->currentIndex();
    if (index >= 0 && index < static_cast<int>(audioChoices_.size()))
        p_.Settings.Audio = audioChoices_[static_cast<std::size_t>(index)];
    ApplyAudioType();
    p_.Form->ShowPreviewState();
}

void TSourceSelection::acEcouterAudioInclusExecute(bool checked)
{
    p_.Prefs->EcouterAudioInclus.Value = checked;
    p_.Settings.ListenIncludedAudio = checked;
    if (!p_.Cam->Preview().PreviewBuilt()) return;
    // The MovieBox's graph cannot be changed in place: it is rebuilt, with
    // this choice among its options, and started again.
    if (p_.Cam->Source().Kind() == SourceKind::skMovieBoxB) {
        if (p_.Form->StartPreview())
            p_.Form->ShowPreviewState();
        else
            p_.Form->ShowIdleState();
        return;
    }
    FillGraphOptions();
    p_.Cam->Preview().UpdateIncludedAudio();
    p_.Cam->FilterGraph().RunGraph();
    p_.Form->ShowPreviewState();
}

void TSourceSelection::acEnregistrerAudioSourceExecute(bool checked)
{
    p_.Prefs->EnregistrerSourceAudio.Value = checked;
    p_.Settings.RecordAudioSource = checked;
    if (checked && !ChooseAudioSource()) return;
    if (p_.Cam->Preview().PreviewBuilt() && p_.Form->StartPreview()) p_.Form->ShowPreviewState();
}

bool TSourceSelection::ChooseAudioSource()
{
    return p_.Cam->Preview().SelectAudioSource(p_.SourcesFrame->cboxAudio->currentText());
}

void TSourceSelection::cboxAudioChange()
{
    if (!ChooseAudioSource() || !p_.Cam->Preview().PreviewBuilt()) return;
    if (p_.Form->StartPreview())
        p_.Form->ShowPreviewState();
    else
        p_.Form->ShowIdleState();
}

// ---------------------------------------------------------------------------
// Small handlers

void TSourceSelection::SourcesFramergEcouterDVClick(int index)
{
    int rate = index == 1 ? 44100 : 0;
    p_.Settings.ForceDVAudio44100 = index == 1;
    {
        TgraphOptions options = p_.Cam->Preview().Options();
        options.ForceDVAudio44100 = index == 1;
        p_.Cam->Preview().SetOptions(options);
    }
    p_.Cam->Preview().SetDVAudioRate(rate);
}

void TSourceSelection::SourcesFrameRXspinCorrEditChange(int frames)
{
    p_.Settings.CorrectionSync = frames;
}

void TSourceSelection::SourcesFramePilotSpeedBtnClick()
{
    p_.Prefs->ShowPilotDV.Value = !p_.Prefs->ShowPilotDV.Value;
    ShowCamcorderWindow();
}

void TSourceSelection::SourcesFramesbVideoClick()
{
    const QString folder = p_.Settings.VideoDirectory;
    if (!folder.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

TSettingsMenu* TSourceSelection::settingsMenu()
{
    QMenu* menu = p_.Form->SettingsMenu;
    auto* settings = menu->findChild<TSettingsMenu*>();
    if (!settings) {
        settings = new TSettingsMenu(*p_.Cam, p_.Form, menu);
        settings->RebuildPreview = [this] {
            const bool running = p_.Form->StartPreview();
            if (running)
                p_.Form->ShowPreviewState();
            else
                p_.Form->ShowIdleState();
            return running;
        };
    }
    return settings;
}

void TSourceSelection::VideoPropBtnClick()
{
    QMenu* menu = p_.Form->SettingsMenu;
    if (!settingsMenu()->BuildSettingsMenu(menu))
        menu->addAction(Text(TextId::NoSettingsItem))->setEnabled(false);
    menu->popup(p_.SourcesFrame->SettingsMenuPosition());
}

// The sound source's pages. They act on the running graph (volume, mute)
// or stop and rebuild it themselves (a format), so the preview goes on while
// they are open.
void TSourceSelection::AudiopropBtnClick()
{
    if (!p_.Cam->FilterGraph().AudioSource.InGraph()) {
        dialogs().information(Text(TextId::NoSoundCardInUse));
        return;
    }
    if (!settingsMenu()->OpenAudioSettings())
        dialogs().information(Text(TextId::SoundCardWithoutSettings));
}

} // namespace kad
