#include "ui/settings_menu.h"

#include "graph/crossbar.h"
#include "graph/dm_cam.h"
#include "system/dialogs.h"
#include "system/log.h"
#include "system/texts.h"
#include "ui/choice_dialog.h"
#include "ui/device_controls_dialog.h"
#include "ui/tuner_dialog.h"

#include <QActionGroup>
#include <QMenu>

namespace kad {

namespace {

// What an entry opens, kept in the entry's data; in the menu's order.
enum SettingsEntry {
    VideoCaptureFilter = 4,
    VideoCapturePin,
    VideoPreviewPin,
    VideoCrossbar,
    TvAudio,
    TvTuner,
    AudioCaptureFilter,
    AudioCapturePin,
};

QStringList labelsOf(const std::vector<FormatChoice>& choices)
{
    QStringList labels;
    for (const FormatChoice& c : choices)
        labels << QString::fromStdString(c.Label);
    return labels;
}

// The choice the caps in force stand for: the one equal to the restriction,
// else the one the negotiated caps fall within.
std::optional<int> choiceIn(const std::vector<FormatChoice>& choices, GstCaps* restriction,
                            GstCaps* negotiated)
{
    for (size_t i = 0; i < choices.size(); ++i) {
        if (restriction && gst_caps_is_equal(restriction, choices[i].Caps.get()))
            return static_cast<int>(i);
        if (!restriction && negotiated && gst_caps_is_subset(negotiated, choices[i].Caps.get()))
            return static_cast<int>(i);
    }
    return std::nullopt;
}

CapsRef negotiatedCaps(GstElement* source, const char* kind)
{
    if (!source) return {};
    CapsRef want(gst_caps_from_string(kind));
    GST_OBJECT_LOCK(source);
    std::vector<PadRef> pads;
    for (GList* l = source->srcpads; l; l = l->next)
        pads.push_back(PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(source);
    for (const PadRef& pad : pads) {
        CapsRef caps(gst_pad_get_current_caps(pad.get()));
        if (caps && gst_caps_can_intersect(caps.get(), want.get())) return caps;
    }
    return {};
}

std::optional<V4l2Tuner> tunerOf(GstElement* source, bool& hasAudioModes)
{
    hasAudioModes = false;
    auto port = V4l2PortOf(source);
    if (!port) return std::nullopt;
    V4l2Controls device(*port);
    auto tuner = device.Tuner();
    hasAudioModes = tuner && !device.AudioModes().empty();
    return tuner;
}

} // namespace

TSettingsMenu::TSettingsMenu(TdmCam& cam, QWidget* window, QObject* parent)
    : QObject(parent), cam_(cam), window_(window), sound_(std::make_shared<SoundSettings>())
{
    // A device placed again (a new connection, a new preview build) gets
    // back what was chosen for it here.
    cam_.FilterGraph().VideoSource.OnPlaced = [this](GstElement* element) {
        if (videoFormat_ && cam_.FilterGraph().VideoSource.BoundTo() == videoDevice_)
            RestrictSourceFormat(element, videoFormat_.get());
    };
    cam_.FilterGraph().AudioSource.OnPlaced = [this](GstElement* element) {
        if (cam_.FilterGraph().AudioSource.BoundTo() == soundDevice_)
            ApplySoundSettings(element, *sound_);
    };
}

TSettingsMenu::~TSettingsMenu()
{
    cam_.FilterGraph().VideoSource.OnPlaced = nullptr;
    cam_.FilterGraph().AudioSource.OnPlaced = nullptr;
}

bool TSettingsMenu::BuildSettingsMenu(QMenu* menu)
{
    // The inputs sub-menu is the menu's child, which clear() leaves behind.
    for (QMenu* old : menu->findChildren<QMenu*>(QStringLiteral("VideoInputMenu")))
        old->deleteLater();
    menu->clear();
    GstElement* source = cam_.FilterGraph().VideoSource.Element();
    GstElement* sound = cam_.FilterGraph().AudioSource.Element();
    if (!source && !sound) return false;

    auto add = [this, menu](const QString& text, SettingsEntry what) {
        QAction* entry = menu->addAction(text);
        entry->setData(what);
        connect(entry, &QAction::triggered, this, [this, entry] { SettingsMenuClick(entry); });
    };
    TCrossbar* crossbar = cam_.Source().VideoCrossbar();
    const bool routes = source && crossbar && cam_.Source().Facts().VideoInputCount > 0 &&
                        crossbar->RouteCount() > 0;
    if (source) {
        if (DeviceControlsOf(source)) add(Text(TextId::MenuVideoCaptureFilter), VideoCaptureFilter);
        if (!VideoFormatsOf(source).empty()) {
            add(Text(TextId::MenuVideoCapturePin), VideoCapturePin);
            if (HasSeparatePreviewOutput(source))
                add(Text(TextId::MenuVideoPreviewPin), VideoPreviewPin);
        }
        if (routes) add(Text(TextId::MenuVideoCrossbar), VideoCrossbar);
        bool audioModes = false;
        if (tunerOf(source, audioModes)) {
            if (audioModes) add(Text(TextId::MenuTvAudio), TvAudio);
            add(Text(TextId::MenuTvTuner), TvTuner);
        }
    }
    if (sound) {
        if (AudioControlsOf(sound)) add(Text(TextId::MenuAudioCaptureFilter), AudioCaptureFilter);
        if (AudioFormatsOf(sound).size() > 1)
            add(Text(TextId::MenuAudioCapturePin), AudioCapturePin);
    }

    if (routes) {
        menu->addSeparator();
        QMenu* inputs = menu->addMenu(Text(TextId::MenuVideoInput));
        inputs->setObjectName(QStringLiteral("VideoInputMenu"));
        auto* group = new QActionGroup(inputs);
        // The input in use as the device tells it; failing that, the one
        // Kadrillo last chose; and only for a device never routed, the tuner
        // input it is then routed to.
        std::optional<int> checked = crossbar->RouteInUse();
        if (!checked && crossbar->Routed()) checked = crossbar->CurrentRoute();
        if (!checked) {
            checked = crossbar->PreferredRoute();
            if (checked && !crossbar->ApplyRoute(*checked))
                WriteLog(QStringLiteral("The video input could not be selected"));
        }
        for (int i = 0; i < crossbar->RouteCount(); ++i) {
            QAction* entry = inputs->addAction(crossbar->RouteInputName(i).value_or(QString()));
            entry->setCheckable(true);
            entry->setData(i);
            entry->setChecked(checked == i);
            group->addAction(entry);
            connect(entry, &QAction::triggered, this, [this, entry] { VideoInputClick(entry); });
        }
    }
    return !menu->isEmpty();
}

void TSettingsMenu::SettingsMenuClick(QAction* entry)
{
    if (!entry) return;
    const int what = entry->data().toInt();
    if (QPointer<QWidget>& open = pages_[what]) {
        open->raise();
        open->activateWindow();
        return;
    }
    QWidget* page = openPage(what);
    if (!page) return;
    pages_[what] = page;
    page->show();
}

bool TSettingsMenu::OpenAudioSettings()
{
    GstElement* sound = cam_.FilterGraph().AudioSource.Element();
    if (!sound) return false;
    bool opened = false;
    const auto open = [this, &opened](SettingsEntry what) {
        QPointer<QWidget>& page = pages_[what];
        if (!page) page = openPage(what);
        if (!page) return;
        page->show();
        page->raise();
        page->activateWindow();
        opened = true;
    };
    if (AudioControlsOf(sound)) open(AudioCaptureFilter);
    if (AudioFormatsOf(sound).size() > 1) open(AudioCapturePin);
    return opened;
}

QWidget* TSettingsMenu::openPage(int entry)
{
    GstElement* source = cam_.FilterGraph().VideoSource.Element();
    GstElement* sound = cam_.FilterGraph().AudioSource.Element();
    switch (entry) {
    case VideoCaptureFilter: {
        auto controls = DeviceControlsOf(source);
        if (!controls) return nullptr;
        auto* dialog = new TDeviceControlsDialog(std::move(controls), window_);
        dialog->setWindowTitle(Text(TextId::VideoCaptureFilterCaption));
        return dialog;
    }
    case VideoCapturePin:
        return videoFormatPage(Text(TextId::VideoCapturePinCaption));
    case VideoPreviewPin:
        return videoFormatPage(Text(TextId::VideoPreviewPinCaption));
    case VideoCrossbar:
        return crossbarPage();
    case TvAudio:
        return tvAudioPage();
    case TvTuner: {
        auto port = V4l2PortOf(source);
        if (!port || !V4l2Controls(*port).Tuner()) return nullptr;
        return new TTvTunerDialog(std::move(port), window_);
    }
    case AudioCaptureFilter: {
        rememberSoundOf(cam_.FilterGraph().AudioSource.BoundTo());
        auto controls = AudioControlsOf(sound, sound_);
        if (!controls) return nullptr;
        auto* dialog = new TDeviceControlsDialog(std::move(controls), window_);
        dialog->setWindowTitle(Text(TextId::AudioCaptureFilterCaption));
        return dialog;
    }
    case AudioCapturePin:
        return audioFormatPage();
    default:
        return nullptr;
    }
}

QString TSettingsMenu::onStoppedGraph(const std::function<void()>& change,
                                      const std::function<void()>& undo)
{
    // The file being written must not change format under the writer.
    if (cam_.Capture().Capturing()) return Text(TextId::FormatLockedWhileCapturing);
    const bool previewing = cam_.Preview().PreviewBuilt();
    cam_.FilterGraph().StopGraph();
    change();
    if (!previewing) return {};
    // Running again negotiates afresh, which is all a format needs.
    if (!RebuildPreview)
        return cam_.FilterGraph().RunGraph() ? QString() : Text(TextId::PreviewNotRestarted);
    if (RebuildPreview()) return {};
    undo();
    RebuildPreview();
    return Text(TextId::FormatRefused);
}

QWidget* TSettingsMenu::videoFormatPage(const QString& title)
{
    GstElement* source = cam_.FilterGraph().VideoSource.Element();
    auto choices = std::make_shared<std::vector<FormatChoice>>(VideoFormatsOf(source));
    if (choices->empty()) return nullptr;
    auto current = [this, choices]() -> std::optional<int> {
        GstElement* now = cam_.FilterGraph().VideoSource.Element();
        return choiceIn(*choices, SourceFormatRestriction(now).get(),
                        negotiatedCaps(now, "video/x-raw; image/jpeg").get());
    };
    auto apply = [this, choices](int index) -> QString {
        GstElement* now = cam_.FilterGraph().VideoSource.Element();
        if (!now) return Text(TextId::VideoDeviceGone);
        const CapsRef before = SourceFormatRestriction(now);
        const CapsRef wanted = (*choices)[static_cast<size_t>(index)].Caps;
        const std::string device = cam_.FilterGraph().VideoSource.BoundTo();
        const QString refusal = onStoppedGraph(
            [&] {
                RestrictSourceFormat(cam_.FilterGraph().VideoSource.Element(), wanted.get());
                videoDevice_ = device;
                videoFormat_ = wanted;
            },
            [&] {
                RestrictSourceFormat(cam_.FilterGraph().VideoSource.Element(), before.get());
                videoFormat_ = before;
            });
        if (refusal.isEmpty())
            WriteLog(
                QStringLiteral("Video capture format: %1")
                    .arg(QString::fromStdString((*choices)[static_cast<size_t>(index)].Label)));
        return refusal;
    };
    return new TChoiceDialog(title, labelsOf(*choices), current, apply, window_);
}

QWidget* TSettingsMenu::crossbarPage()
{
    TCrossbar* crossbar = cam_.Source().VideoCrossbar();
    if (!crossbar || crossbar->RouteCount() == 0) return nullptr;
    QStringList names;
    for (int i = 0; i < crossbar->RouteCount(); ++i)
        names << crossbar->RouteInputName(i).value_or(QString());
    // The crossbar goes with the connection: each use looks it up again.
    auto current = [this]() -> std::optional<int> {
        TCrossbar* now = cam_.Source().VideoCrossbar();
        if (!now) return std::nullopt;
        if (auto inUse = now->RouteInUse()) return inUse;
        if (now->Routed()) return now->CurrentRoute();
        return std::nullopt;
    };
    auto apply = [this, names](int index) -> QString {
        TCrossbar* now = cam_.Source().VideoCrossbar();
        if (now && index < now->RouteCount() && now->ApplyRoute(index)) return {};
        return Text(TextId::VideoInputRefused).arg(names.value(index));
    };
    return new TChoiceDialog(Text(TextId::VideoCrossbarCaption), names, current, apply, window_);
}

QWidget* TSettingsMenu::tvAudioPage()
{
    std::shared_ptr<V4l2Ioctl> port = V4l2PortOf(cam_.FilterGraph().VideoSource.Element());
    if (!port) return nullptr;
    const auto modes = V4l2Controls(*port).AudioModes();
    if (modes.empty()) return nullptr;
    QStringList names;
    for (const auto& mode : modes)
        names << QString::fromStdString(mode.Name);
    auto current = [port, modes]() -> std::optional<int> {
        const auto tuner = V4l2Controls(*port).Tuner();
        for (size_t i = 0; tuner && i < modes.size(); ++i)
            if (modes[i].Mode == tuner->AudioMode) return static_cast<int>(i);
        return std::nullopt;
    };
    auto apply = [port, modes](int index) -> QString {
        V4l2Controls device(*port);
        const auto refusal = device.SetAudioMode(modes[static_cast<size_t>(index)].Mode);
        return refusal ? QString::fromStdString(*refusal) : QString();
    };
    return new TChoiceDialog(Text(TextId::TvAudioCaption), names, current, apply, window_);
}

QWidget* TSettingsMenu::audioFormatPage()
{
    GstElement* sound = cam_.FilterGraph().AudioSource.Element();
    auto choices = std::make_shared<std::vector<FormatChoice>>(AudioFormatsOf(sound));
    if (choices->size() < 2) return nullptr;
    auto current = [this, choices]() -> std::optional<int> {
        GstElement* now = cam_.FilterGraph().AudioSource.Element();
        return choiceIn(*choices, SourceFormatRestriction(now).get(),
                        negotiatedCaps(now, "audio/x-raw").get());
    };
    auto apply = [this, choices](int index) -> QString {
        if (!cam_.FilterGraph().AudioSource.InGraph()) return Text(TextId::SoundSourceGone);
        rememberSoundOf(cam_.FilterGraph().AudioSource.BoundTo());
        const CapsRef before = sound_->Format;
        const QString refusal = onStoppedGraph(
            [&] {
                sound_->Format = (*choices)[static_cast<size_t>(index)].Caps;
                RestrictSourceFormat(cam_.FilterGraph().AudioSource.Element(),
                                     sound_->Format.get());
            },
            [&] {
                sound_->Format = before;
                RestrictSourceFormat(cam_.FilterGraph().AudioSource.Element(), before.get());
            });
        if (refusal.isEmpty())
            WriteLog(
                QStringLiteral("Audio capture format: %1")
                    .arg(QString::fromStdString((*choices)[static_cast<size_t>(index)].Label)));
        return refusal;
    };
    return new TChoiceDialog(Text(TextId::AudioCapturePinCaption), labelsOf(*choices), current,
                             apply, window_);
}

void TSettingsMenu::rememberSoundOf(const std::string& device)
{
    if (device == soundDevice_) return;
    // Another device starts from its own settings.
    soundDevice_ = device;
    sound_ = std::make_shared<SoundSettings>();
}

void TSettingsMenu::VideoInputClick(QAction* entry)
{
    TCrossbar* crossbar = cam_.Source().VideoCrossbar();
    if (!entry || !crossbar) return;
    const int route = entry->data().toInt();
    if (crossbar->ApplyRoute(route)) {
        entry->setChecked(true);
        return;
    }
    // A refused route leaves the entry of the input still in use checked.
    const QString text = Text(TextId::VideoInputRefused).arg(entry->text());
    WriteLog(text);
    dialogs().warning(text);
    const auto inUse = crossbar->RouteInUse();
    entry->setChecked(inUse == route);
    if (auto* group = entry->actionGroup(); group && inUse) {
        for (QAction* sibling : group->actions())
            if (sibling->data().toInt() == *inUse) sibling->setChecked(true);
    }
}

} // namespace kad
