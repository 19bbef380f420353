#include "ui/capture_form.h"

#include <algorithm>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMetaMethod>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <exception>

#include "platform/media/media_platform.h"
#include "session/capture_session.h"
#include "system/capture_format.h"
#include "system/sysinfo.h"
#include "system/texts.h"
#include "ui/app_icons.h"
#include "ui/folders_panel.h"
#include "ui/message_dialog.h"
#include "ui/options_panel.h"
#include "ui/shortcuts.h"
#include "ui/sources_panel.h"
#include "ui/status_bar.h"
#include "ui/video_widget.h"

namespace kad {

namespace {

constexpr int kClientWidth = 700;
constexpr int kClientHeight = 459;
constexpr int kFrameX = 10;
constexpr int kFrameY = 40;
constexpr int kFrameWidth = 415;
constexpr int kFrameHeight = 321;
constexpr int kPanelTop = 40;
constexpr int kPanelWidth = 275;
constexpr int kPanelHeight = 400;
constexpr int kToolButtonWidth = 29;
constexpr int kToolButtonHeight = 28;
constexpr int kToolBarTop = 6;
constexpr int kVolumeTop = 368;
constexpr int kButtonTop = 396;
constexpr int kButtonHeight = 30;
constexpr int kAudioGroupCollapsed = 46;
constexpr int kAudioGroupOpen = 170;
// The hint a push button last took from its action (see bindButton).
constexpr const char* kLinkedHintProperty = "kadLinkedHint";

// The panel actions in panel order.
constexpr ActionId kPanelActions[kPanelCount] = {
    ActionId::acSourcesFrame,  ActionId::acDossiersFrame,  ActionId::acProgrammerFrame,
    ActionId::acExtraireFrame, ActionId::acIncrusterFrame, ActionId::acOptionsFrame,
    ActionId::acHelp,          ActionId::acApropos,
};

// Component names of the panels, which their objects carry.
constexpr const char* kPanelNames[kPanelCount] = {
    "SourcesFrame",    "DossiersFrame1", "ProgrammerFrame1", "ExtraireFrame1",
    "IncrusterFrame1", "OptionsFrame",   "HelpFrame1",       "AproposFrame1",
};

// The checked state an action had before Qt toggled it on this trigger.
bool previousChecked(const QAction* a)
{
    return !a->isChecked();
}

QString twoDigitTime(const QTime& t)
{
    const QTime v = t.isValid() ? t : QTime(0, 0);
    return QStringLiteral("%1:%2:%3")
        .arg(v.hour(), 2, 10, QLatin1Char('0'))
        .arg(v.minute(), 2, 10, QLatin1Char('0'))
        .arg(v.second(), 2, 10, QLatin1Char('0'));
}

bool hasMethod(const QObject* o, const char* signature)
{
    return o && o->metaObject()->indexOfMethod(QMetaObject::normalizedSignature(signature)) >= 0;
}

} // namespace

TCaptureForm::TCaptureForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("TCaptureForm"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    PrepareIconTheme();
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("DejaVu Sans")});
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11); // 8 points on a 96 dpi screen
    setFont(font);

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    setCentralWidget(client_);
    setFixedSize(kClientWidth, kClientHeight);

    createActions();
    createControls();
    createToolBars();
    createMenus();
    createPanels();
    createTimers();

    // FormCreate: the window owns the message boxes and holds the screen
    // saver off while it lives.
    messageDialogs_ = std::make_unique<TMessageDialogs>(this);
    setDialogs(messageDialogs_.get());
    screenSaverWasActive_ =
        screenSaver_.Inhibit(Text(TextId::ProductName), Text(TextId::ScreenSaverReason));

    setWindowTitle(Text(TextId::WindowCaption));
    setFrameColour(kIdleColour);
    LayoutWindow();
    ShowPanel(piSources);
}

TCaptureForm::~TCaptureForm()
{
    // FormDestroy: give the screen saver back, let the owners of the rest
    // free it, and stop answering message boxes from a window that is gone.
    if (screenSaverWasActive_) screenSaver_.UnInhibit();
    emit destroying();
    if (&dialogs() == messageDialogs_.get()) setDialogs(nullptr);
    if (vwEcran && vwEcran->IsFullScreen()) vwEcran->SetFullScreen(false);
}

// ---------------------------------------------------------------------------
// Construction

void TCaptureForm::createActions()
{
    for (const ActionRow& row : ActionTable()) {
        auto* a = new QAction(this);
        a->setObjectName(QString::fromLatin1(row.name));
        a->setCheckable(row.check != CheckMode::None);
        a->setProperty(kShortcutProperty, row.shortcut);
        a->setProperty(kImageProperty, row.image);
        a->setShortcuts(ShortCutToKeys(row.shortcut));
        a->setShortcutContext(Qt::WindowShortcut);
        a->setVisible(row.visible);
        a->setEnabled(row.enabled);
        setActionImage(a, row.image);
        al_[static_cast<std::size_t>(row.id)] = a;
    }
    // acReduire has no picture of its own in the image list; the context
    // menu shows one anyway.
    setActionImage(Action(ActionId::acReduire), kReduceImage);
    addActions(Actions());

    const auto on = [this](ActionId id, void (TCaptureForm::*slot)()) {
        connect(Action(id), &QAction::triggered, this, slot);
    };
    on(ActionId::acGrab, &TCaptureForm::acGrabExecute);
    on(ActionId::acfullscreen, &TCaptureForm::acfullscreenExecute);
    on(ActionId::acMute, &TCaptureForm::acMuteExecute);
    on(ActionId::acIncruster, &TCaptureForm::acIncrusterExecute);
    on(ActionId::acQuitter, &TCaptureForm::acQuitterExecute);
    on(ActionId::acCapturer, &TCaptureForm::acCapturerExecute);
    on(ActionId::acCouper, &TCaptureForm::acCouperExecute);
    on(ActionId::acProgrammer, &TCaptureForm::acProgrammerExecute);
    on(ActionId::acJpgOption, &TCaptureForm::acJpgOptionExecute);
    on(ActionId::acBmpOption, &TCaptureForm::acBmpOptionExecute);
    on(ActionId::acDesentrelacer, &TCaptureForm::acDesentrelacerExecute);
    on(ActionId::acVMRKeepratio, &TCaptureForm::acVMRKeepratioExecute);
    on(ActionId::acNextPanneau, &TCaptureForm::acNextPanneauExecute);
    on(ActionId::acSauverPrefs, &TCaptureForm::acSauverPrefsExecute);
    on(ActionId::acReduire, &TCaptureForm::acReduireExecute);
    on(ActionId::acStopCapture, &TCaptureForm::acStopCaptureExecute);
    on(ActionId::acStopProg, &TCaptureForm::acStopProgExecute);
    on(ActionId::acCapturerBascule, &TCaptureForm::acCapturerBasculeExecute);
    on(ActionId::acStopIncruster, &TCaptureForm::acStopIncrusterExecute);
    on(ActionId::acStartIncruster, &TCaptureForm::acStartIncrusterExecute);
    on(ActionId::acEcouterAudioInclus, &TCaptureForm::acEcouterAudioInclusExecute);
    on(ActionId::acEnregistrerAudioSource, &TCaptureForm::acEnregistrerAudioSourceExecute);
    on(ActionId::acShowPilotDV, &TCaptureForm::acShowPilotDVExecute);
    on(ActionId::acAllowIncrust, &TCaptureForm::acAllowIncrustExecute);
    on(ActionId::acFlip, &TCaptureForm::acFlipExecute);
    on(ActionId::acLog, &TCaptureForm::acLogExecute);
    on(ActionId::acFixerAudio, &TCaptureForm::acFixerAudioExecute);
    on(ActionId::acFerrovue, &TCaptureForm::acFerrovueExecute);
    on(ActionId::acOuvrirDossierVideos, &TCaptureForm::acOuvrirDossierVideosExecute);
    connect(Action(ActionId::acBasculerPanneau), &QAction::triggered, this,
            [this] { acBasculerPanneauExecute(true); });
    for (int i = 0; i < kPanelCount; ++i)
        connect(Action(kPanelActions[i]), &QAction::triggered, this, [this, i] { ShowPanel(i); });
    for (ActionId id :
         {ActionId::camPlay, ActionId::camPause, ActionId::camStop, ActionId::camAvanceLent,
          ActionId::camAvanceRapide, ActionId::camReculeLent, ActionId::camReculeRapide})
        connect(Action(id), &QAction::triggered, this, [this, id] { camExecute(id); });
}

void TCaptureForm::setActionImage(QAction* action, int image)
{
    if (image < 0) return;
    action->setProperty(kImageProperty, image);
    action->setIcon(ImageListIcon(image));
}

void TCaptureForm::bindButton(QPushButton* button, QAction* action, bool followEnabled)
{
    // A push button shows its action's caption, picture and hint. The hint
    // follows the action (the capture toggle changes it with its state) until
    // the button is given one of its own, as the cut and grab buttons are by
    // the text pass. The grab button is switched apart from its action, which
    // the keyboard may still run.
    const auto sync = [button, action, followEnabled] {
        button->setText(action->text());
        button->setIcon(action->icon());
        if (followEnabled) button->setEnabled(action->isEnabled());
        const QVariant linked = button->property(kLinkedHintProperty);
        if (button->toolTip().isEmpty() ||
            (linked.isValid() && button->toolTip() == linked.toString())) {
            // Without a hint of its own, an action answers its caption.
            const QString hint = action->toolTip() == QString(action->text()).remove(u'&')
                                     ? QString()
                                     : action->toolTip();
            button->setToolTip(hint);
            button->setProperty(kLinkedHintProperty, hint);
        }
    };
    connect(action, &QAction::changed, button, sync);
    connect(button, &QPushButton::clicked, action, [action] { action->trigger(); });
    sync();
}

void TCaptureForm::createControls()
{
    Panel1 = new QFrame(client_);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setAutoFillBackground(true);
    Panel1->setGeometry(kFrameX, kFrameY, kFrameWidth, kFrameHeight);

    vwEcran = new TVideoWidget(Panel1);
    vwEcran->setGeometry(16, 16, 384, 288);
    vwEcran->setContextMenuPolicy(Qt::PreventContextMenu);
    // Full screen makes the picture a window of its own, which must still
    // answer the window's keys (Alt+Enter, F11 and the rest).
    vwEcran->addActions(Actions());
    connect(vwEcran, &TVideoWidget::leftClicked, this, &TCaptureForm::vwEcranClick);
    connect(vwEcran, &TVideoWidget::rightClicked, this,
            [this](const QPoint& at) { PopupMenu->popup(at); });
    connect(vwEcran, &TVideoWidget::leaveFullScreenRequested, this, [this] {
        if (Action(ActionId::acfullscreen)->isChecked()) Action(ActionId::acfullscreen)->trigger();
    });

    Xslider = new QSlider(Qt::Horizontal, Panel1);
    Xslider->setObjectName(QStringLiteral("Xslider"));
    Xslider->setRange(0, 970);
    Xslider->setValue(900);
    Xslider->setGeometry(16, 305, 384, 14);
    Xslider->hide();
    Yslider = new QSlider(Qt::Vertical, Panel1);
    Yslider->setObjectName(QStringLiteral("Yslider"));
    Yslider->setRange(0, 930);
    // Dragged beside the picture, its handle stays level with the text: 0
    // at the top, and the Up key and the wheel move the handle up.
    Yslider->setInvertedAppearance(true);
    Yslider->setInvertedControls(true);
    Yslider->setValue(100);
    Yslider->setGeometry(401, 16, 12, 288);
    Yslider->hide();
    Shape1 = new QFrame(Panel1);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(16, 16, 20, 20);
    Shape1->setStyleSheet(QStringLiteral("background: qlineargradient(x1:0, y1:0, x2:1, y2:1, "
                                         "stop:0 white, stop:0.5 black, stop:1 white);"));
    Shape1->hide();

    Label1 = new QLabel(client_);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tb = new QSlider(Qt::Horizontal, client_);
    tb->setObjectName(QStringLiteral("tb"));
    tb->setRange(0, 10000);
    tb->setValue(10000);
    tb->setPageStep(1000);
    tb->setSingleStep(100);
    tb->setFocusPolicy(Qt::NoFocus);
    connect(tb, &QSlider::valueChanged, this, &TCaptureForm::tbChange);
    VolumeLab = new QLabel(client_);
    VolumeLab->setObjectName(QStringLiteral("VolumeLab"));

    CaptureBtn = new QPushButton(client_);
    CaptureBtn->setObjectName(QStringLiteral("CaptureBtn"));
    CouperBtn = new QPushButton(client_);
    CouperBtn->setObjectName(QStringLiteral("CouperBtn"));
    grabBtn = new QPushButton(client_);
    grabBtn->setObjectName(QStringLiteral("grabBtn"));
    for (QPushButton* b : {CaptureBtn, CouperBtn, grabBtn})
        b->setIconSize(QSize(kImageSize, kImageSize));
    bindButton(CaptureBtn, Action(ActionId::acCapturerBascule), true);
    bindButton(CouperBtn, Action(ActionId::acCouper), true);
    bindButton(grabBtn, Action(ActionId::acGrab), false);

    StatusBar1 = new TStatusBar(client_);
    StatusBar1->move(0, kClientHeight - StatusBar1->height());
    connect(StatusBar1, &TStatusBar::clicked, this, &TCaptureForm::StatusBar1Click);
}

void TCaptureForm::createToolBars()
{
    const auto make = [this](const char* name, std::initializer_list<ActionId> ids) {
        auto* bar = new QToolBar(client_);
        bar->setObjectName(QString::fromLatin1(name));
        bar->setMovable(false);
        bar->setFloatable(false);
        bar->setIconSize(QSize(kImageSize, kImageSize));
        bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        bar->setContentsMargins(0, 0, 0, 0);
        bar->layout()->setSpacing(0);
        bar->layout()->setContentsMargins(0, 0, 0, 0);
        bar->setStyleSheet(
            QStringLiteral("QToolBar { border: none; padding: 0px; spacing: 0px; }"));
        for (ActionId id : ids) {
            bar->addAction(Action(id));
            if (QWidget* w = bar->widgetForAction(Action(id)))
                w->setFixedSize(kToolButtonWidth, kToolButtonHeight);
        }
        bar->setFixedSize(static_cast<int>(ids.size()) * kToolButtonWidth, kToolButtonHeight);
        return bar;
    };
    tbActions =
        make("tbActions", {ActionId::acfullscreen, ActionId::acMute, ActionId::acIncruster,
                           ActionId::acVMRKeepratio, ActionId::acDesentrelacer, ActionId::acFlip});
    tbPanneaux = make("tbPanneaux", {ActionId::acSourcesFrame, ActionId::acDossiersFrame,
                                     ActionId::acProgrammerFrame, ActionId::acExtraireFrame,
                                     ActionId::acIncrusterFrame, ActionId::acOptionsFrame});
    TbGeneral = make("TbGeneral", {ActionId::acHelp, ActionId::acApropos, ActionId::acQuitter});
    TbGeneral->move(kClientWidth - TbGeneral->width() - 4, kToolBarTop);
}

void TCaptureForm::createMenus()
{
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addAction(Action(ActionId::acCapturerBascule));
    PopupMenu->addAction(Action(ActionId::acCouper));
    PopupMenu->addAction(Action(ActionId::acGrab));
    PopupMenu->addSeparator()->setObjectName(QStringLiteral("N1"));
    for (ActionId id :
         {ActionId::acfullscreen, ActionId::acReduire, ActionId::acMute, ActionId::acIncruster,
          ActionId::acVMRKeepratio, ActionId::acDesentrelacer, ActionId::acFlip})
        PopupMenu->addAction(Action(id));
    PopupMenu->addSeparator()->setObjectName(QStringLiteral("N2"));
    PanneauSources1 = PopupMenu->addMenu(ImageListIcon(10), QString());
    PanneauSources1->setObjectName(QStringLiteral("PanneauSources1"));
    for (ActionId id : kPanelActions)
        PanneauSources1->addAction(Action(id));
    PopupMenu->addSeparator()->setObjectName(QStringLiteral("N3"));
    PopupMenu->addAction(Action(ActionId::acQuitter));
    PopupMenu->setToolTipsVisible(true);
    PopupMenu->setFont(font());
    PanneauSources1->setFont(font());

    SettingsMenu = new QMenu(this);
    SettingsMenu->setObjectName(QStringLiteral("SettingsMenu"));
    pmProfiles = new QMenu(this);
    pmProfiles->setObjectName(QStringLiteral("pmProfiles"));
}

void TCaptureForm::createPanels()
{
    auto* sources = new TSourcesFrame(client_);
    auto* options = new TOptionsFrame(client_);
    options->setSourcesFrame(sources);
    panels_[piSources] = sources;
    panels_[piDossiers] = new TDossiersFrame(client_);
    panels_[piOptions] = options;

    // Panels still to come are held by a captioned place of the same size.
    const std::array<QString, kPanelCount> captions = {
        Text(TextId::SourcesGroupCaption),  Text(TextId::DirectoriesGroupCaption),
        Text(TextId::ScheduleGroupCaption), Text(TextId::GrabGroupCaption),
        Text(TextId::InlayGroupCaption),    Text(TextId::SettingsGroupCaption),
        Text(TextId::acHelpCaption),        Text(TextId::acAproposCaption),
    };
    for (int i = 0; i < kPanelCount; ++i) {
        QWidget*& p = panels_[static_cast<std::size_t>(i)];
        if (!p) p = new QGroupBox(captions[static_cast<std::size_t>(i)], client_);
        p->setObjectName(QString::fromLatin1(kPanelNames[i]));
        p->resize(kPanelWidth, kPanelHeight);
        p->hide();
    }

    ErreurFrame1 = new QWidget(client_);
    ErreurFrame1->setObjectName(QStringLiteral("ErreurFrame1"));
    ErreurFrame1->setGeometry(kClientWidth + 10, 0, kClientWidth, kClientHeight);
    ErreurFrame1->hide();
}

void TCaptureForm::createTimers()
{
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10000);

    DroppedFramesTimer = new QTimer(this);
    DroppedFramesTimer->setObjectName(QStringLiteral("DroppedFramesTimer"));
    DroppedFramesTimer->setInterval(50);
    connect(DroppedFramesTimer, &QTimer::timeout, this, &TCaptureForm::DroppedActionTimer);
    DroppedFramesTimer->start();

    TimerLumatex = new QTimer(this);
    TimerLumatex->setObjectName(QStringLiteral("TimerLumatex"));
    TimerLumatex->setInterval(5000);
    TimerLumatex->setSingleShot(true);
    connect(TimerLumatex, &QTimer::timeout, this, [this] {
        TimerLumatex->stop();
        acIncrusterExecute();
    });
}

QList<QAction*> TCaptureForm::Actions() const
{
    QList<QAction*> list;
    for (QAction* a : al_)
        list.append(a);
    return list;
}

QWidget* TCaptureForm::Panel(int index) const
{
    if (index < 0 || index >= kPanelCount) return nullptr;
    return panels_[static_cast<std::size_t>(index)];
}

void TCaptureForm::SetPanel(int index, QWidget* panel)
{
    if (index < 0 || index >= kPanelCount || !panel) return;
    QWidget*& slot = panels_[static_cast<std::size_t>(index)];
    const bool visible = slot && slot->isVisibleTo(client_);
    if (slot && slot != panel) slot->deleteLater();
    slot = panel;
    panel->setParent(client_);
    if (panel->objectName().isEmpty())
        panel->setObjectName(QString::fromLatin1(kPanelNames[index]));
    panel->move(panelLeft_, kPanelTop);
    panel->setVisible(visible);
    if (visible) panel->raise();
}

void TCaptureForm::SetErrorPanel(QWidget* panel)
{
    if (!panel) return;
    if (ErreurFrame1 && ErreurFrame1 != panel) ErreurFrame1->deleteLater();
    ErreurFrame1 = panel;
    panel->setParent(client_);
    panel->hide();
}

// ---------------------------------------------------------------------------
// Texts

void TCaptureForm::ApplyTexts()
{
    applyMainWindowTexts();
    // Then each panel's own routine, in the fixed order; the later one wins
    // where two set the same text.
    for (int index : {piHelp, piIncruster, piApropos, piSources, piDossiers, piExtraire, piOptions,
                      piProgrammer})
        runPanelRoutine(Panel(index), "ApplyTexts()");
    runPanelRoutine(ErreurFrame1, "ApplyTexts()");
}

void TCaptureForm::BuildShortcutLists()
{
    helpLists_ = BuildHelpLists(Actions());
    QWidget* help = Panel(piHelp);
    if (hasMethod(help, "SetShortcutLists(QStringList,QStringList)"))
        QMetaObject::invokeMethod(help, "SetShortcutLists",
                                  Q_ARG(QStringList, helpLists_.Shortcuts),
                                  Q_ARG(QStringList, helpLists_.Camcorder));
    emit shortcutListsBuilt(helpLists_);
}

void TCaptureForm::runPanelRoutine(QWidget* panel, const char* method)
{
    if (!hasMethod(panel, method)) return;
    QByteArray name(method);
    name.truncate(name.indexOf('('));
    QMetaObject::invokeMethod(panel, name.constData());
}

void TCaptureForm::applyMainWindowTexts()
{
    setWindowTitle(Text(TextId::WindowCaption));
    for (const ActionRow& row : ActionTable()) {
        QAction* a = Action(row.id);
        a->setProperty(kCategoryProperty, Text(row.category));
        if (row.caption != kNoText) a->setText(Text(row.caption));
        if (row.hint != kNoText) a->setToolTip(Text(row.hint));
        // The secondary keys replace any earlier ones; the primary stays.
        QStringList secondary;
        QList<QKeySequence> keys = ShortCutToKeys(row.shortcut);
        for (TextId t : row.secondary) {
            if (t == kNoText) continue;
            secondary.append(Text(t));
            const QKeySequence k = SecondaryToKey(Text(t));
            if (!k.isEmpty()) keys.append(k);
        }
        a->setProperty(kSecondaryProperty, secondary);
        a->setShortcuts(keys);
    }
    VolumeLab->setText(Text(TextId::VolumeLabCaption));
    Label1->setText(Text(TextId::Label1Caption));
    CouperBtn->setText(Text(TextId::CouperBtnCaption));
    CouperBtn->setToolTip(Text(TextId::CouperBtnHint));
    CaptureBtn->setText(Text(TextId::CaptureBtnCaption));
    grabBtn->setText(Text(TextId::grabBtnCaption));
    grabBtn->setToolTip(Text(TextId::grabBtnHint));
    Xslider->setToolTip(Text(TextId::XsliderHint));
    Yslider->setToolTip(Text(TextId::YsliderHint));
    PanneauSources1->setTitle(Text(TextId::PanneauSources1Caption));
    PanneauSources1->menuAction()->setToolTip(Text(TextId::PanneauSources1Hint));

    if (auto* sources = qobject_cast<TSourcesFrame*>(Panel(piSources))) {
        sources->sbVideo->setText(Text(TextId::SingleBlank));
        sources->sbFerrovue->setText(Text(TextId::SingleBlank));
        sources->PilotSpeedBtn->setToolTip(QString());
        sources->gbAudio->setToolTip(QString());
        sources->Label2->setText(Text(TextId::SourcesLabel2Caption));
        sources->sbDone->setToolTip(Text(TextId::sbDoneHint));
        // The items are the panel's own to reword: setting them anew here
        // would lose the chosen frequency.
        sources->rgFrequenceDV->setTitle(Text(TextId::rgFrequenceDVCaption));
        sources->rgFrequenceDV->setToolTip(Text(TextId::rgFrequenceDVHint));
    }

    StatusBar1->SetPanelText(0, Text(TextId::StatusIntervalometerOff));
    StatusBar1->SetPanelText(1, Text(TextId::StatusCapture));
    StatusBar1->SetPanelText(2, Text(TextId::StatusCapturedFrames));
    StatusBar1->SetPanelText(3, Text(TextId::StatusLostFrames));
}

// ---------------------------------------------------------------------------
// Start-up and shutdown

void TCaptureForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TCaptureForm::FormShow()
{
    shown_ = true;
    try {
        emit videoWindowWanted();
        ApplyTexts();
        emit panelsInitWanted();
        BuildShortcutLists();

        startupError_.clear();
        emit deviceListsWanted();
        startupErrorHeld_ = std::exchange(startupError_, QString());

        emit optionalFiltersWanted();
        ApplyPresence();
        emit systemReportWanted();
        startupHeld_ = false;
        applyingPreferences_ = true;
        emit preferencesWanted();
        applyingPreferences_ = false;
    } catch (const std::exception&) {
        applyingPreferences_ = false;
        dialogs().message(Text(TextId::UnexpectedInitError));
        return;
    } catch (...) {
        applyingPreferences_ = false;
        dialogs().message(Text(TextId::UnexpectedInitError));
        return;
    }
    // Applying the preferences connects the video source, which may end
    // later (ResumeStartup).
    if (!startupHeld_) finishStartup();
}

void TCaptureForm::HoldStartup()
{
    startupHeld_ = true;
}

void TCaptureForm::ResumeStartup()
{
    if (!std::exchange(startupHeld_, false)) return;
    if (!applyingPreferences_) finishStartup();
}

void TCaptureForm::finishStartup()
{
    try {
        QString error = std::exchange(startupErrorHeld_, QString());
        emit audioTypeWanted();
        ShowPreviewState();
        if (!StartPreview()) ShowIdleState();

        emit startupPreviewShown();
        // The camcorder window may have come up meanwhile (a tape player
        // connected) and takes the activation once its showing is handled:
        // the keyboard comes back to this one after it, as when the whole
        // start-up ran before the first activation.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isVisible()) activateWindow();
            },
            Qt::QueuedConnection);
        if (CaptureBtn->isEnabled() && CaptureBtn->isVisible()) CaptureBtn->setFocus();

        if (!error.isEmpty()) {
            error += QStringLiteral(" \r\n") + Text(TextId::ReportPlatformIs) +
                     MediaPlatformVersion() + Text(TextId::ReportIsInstalled) +
                     Text(TextId::ReportSystemIs) + OperatingSystemName() +
                     Text(TextId::ReportEnd) + QStringLiteral("\r\n");
            if (isSignalConnected(QMetaMethod::fromSignal(&TCaptureForm::startupErrorReported)))
                emit startupErrorReported(error, true);
            else
                dialogs().error(error.trimmed());
            ShowIdleState();
        }
    } catch (const std::exception&) {
        dialogs().message(Text(TextId::UnexpectedInitError));
    } catch (...) {
        dialogs().message(Text(TextId::UnexpectedInitError));
    }
}

void TCaptureForm::ShowConnecting(bool connecting)
{
    if (connecting_ == connecting) return;
    connecting_ = connecting;
    if (connecting) {
        applyConnecting();
        return;
    }
    for (const ConnectingHold& held : connectingHeld_) {
        held.action->setEnabled(held.enabled);
        held.action->setToolTip(held.hint);
    }
    connectingHeld_.clear();
    grabBtn->setEnabled(grabBtnHeld_);
}

void TCaptureForm::applyConnecting()
{
    if (!connecting_) return;
    // A preview, a capture or a still taken from a source still opening
    // would reach a half-connected graph. What the states want for these is
    // kept and given back once the source is connected.
    const QString hint = Text(TextId::ConnectingToSource);
    for (ActionId id : {ActionId::acCapturer, ActionId::acCapturerBascule, ActionId::acGrab}) {
        QAction* a = Action(id);
        auto held = std::find_if(connectingHeld_.begin(), connectingHeld_.end(),
                                 [a](const ConnectingHold& h) { return h.action == a; });
        if (held == connectingHeld_.end())
            held = connectingHeld_.insert(connectingHeld_.end(), ConnectingHold{a, true, {}});
        held->enabled = a->isEnabled();
        if (a->toolTip() != hint) held->hint = a->toolTip();
        a->setEnabled(false);
        a->setToolTip(hint);
    }
    grabBtnHeld_ = grabBtn->isEnabled();
    grabBtn->setEnabled(false);
}

void TCaptureForm::ReportDeviceLists(bool videoLoaded, bool audioLoaded)
{
    if (!videoLoaded) startupError_ += QStringLiteral("\r\n") + Text(TextId::CannotLoadVideo);
    if (!audioLoaded) startupError_ += QStringLiteral("\r\n") + Text(TextId::CannotLoadAudio);
}

void TCaptureForm::ApplyPresence()
{
    refreshFacts();
    Action(ActionId::acDesentrelacer)->setEnabled(facts_.DeinterlacerPresent);
    for (ActionId id : {ActionId::acIncruster, ActionId::acFlip})
        Action(id)->setVisible(facts_.InlayFiltersAvailable);
    if (!facts_.InlayFiltersAvailable) Action(ActionId::acIncruster)->setEnabled(false);
    TControlStates c;
    c.DeinterlacerBoxEnabled = facts_.DeinterlacerPresent;
    c.OptionsAllowInlaysEnabled = facts_.InlayFiltersAvailable;
    c.InlayAllowInlaysEnabled = facts_.InlayFiltersAvailable;
    applyControlStates(c);
}

void TCaptureForm::closeEvent(QCloseEvent* event)
{
    FormCloseQuery();
    if (vwEcran->IsFullScreen()) vwEcran->SetFullScreen(false);
    event->accept();
}

void TCaptureForm::FormCloseQuery()
{
    if (session_) session_->StopGraph();
    emit closing();
}

void TCaptureForm::GraphDeviceLost()
{
    emit deviceLost();
}

// ---------------------------------------------------------------------------
// States

void TCaptureForm::refreshFacts()
{
    if (factsSource_) factsSource_->Refresh(facts_);
}

void TCaptureForm::SetSession(TCaptureSession* session)
{
    if (session_) disconnect(session_, nullptr, this, nullptr);
    session_ = session;
    if (!session_) return;
    connect(session_, &TCaptureSession::stateChanged, this, &TCaptureForm::followSession);
    connect(session_, &TCaptureSession::finishingChanged, this, &TCaptureForm::applyFinishing);
}

QString TCaptureForm::CurrentVideoFileName() const
{
    return session_ ? session_->VideoFileName() : QString();
}

CaptureState TCaptureForm::State() const
{
    return session_ ? session_->State() : state_;
}

void TCaptureForm::followSession(CaptureState state)
{
    if (showing_) return;
    switch (state) {
    case CaptureState::csIdle:
        ShowIdleState();
        break;
    case CaptureState::csPreview:
        ShowPreviewState();
        break;
    case CaptureState::csCapturing:
        ShowCaptureState();
        break;
    case CaptureState::csScheduled:
        ShowScheduledState();
        break;
    case CaptureState::csScheduledCapture:
        ShowScheduledCaptureState();
        break;
    }
}

void TCaptureForm::applyFinishing()
{
    if (!session_ || !session_->Finishing()) return;
    Action(ActionId::acCapturerBascule)->setEnabled(false);
    Action(ActionId::acCouper)->setEnabled(false);
}

void TCaptureForm::setFrameColour(const QColor& colour)
{
    QPalette p = Panel1->palette();
    p.setColor(QPalette::Window, colour);
    Panel1->setPalette(p);
}

QColor TCaptureForm::FrameColour() const
{
    return Panel1->palette().color(QPalette::Window);
}

QString TCaptureForm::StatusText(int panel) const
{
    return StatusBar1->PanelText(panel);
}

void TCaptureForm::SetStatusText(int panel, const QString& text)
{
    StatusBar1->SetPanelText(panel, text);
}

void TCaptureForm::setState(CaptureState state)
{
    state_ = state;
    if (session_) {
        const bool was = std::exchange(showing_, true);
        session_->SetState(state);
        showing_ = was;
    }
    // Starting has something to start only from the preview or a schedule.
    Action(ActionId::acCapturer)
        ->setEnabled(state == CaptureState::csPreview || state == CaptureState::csScheduled);
    emit stateChanged(state);
}

QString TCaptureForm::cutCaption() const
{
    const int paren = facts_.FormatCaption.indexOf(QLatin1Char('('));
    return paren < 0 ? facts_.FormatCaption : facts_.FormatCaption.left(paren);
}

bool TCaptureForm::formatReencodes() const
{
    return CaptureReencodes(CaptureFormatOf(facts_.Kind, facts_.FormatIndex));
}

QString TCaptureForm::sourceMarker() const
{
    switch (facts_.Kind) {
    case SourceKind::skDV:
        return Text(TextId::StDV);
    case SourceKind::skMovieBoxB:
        return Text(TextId::StMBX);
    case SourceKind::skMpeg2:
        return Text(TextId::StMPEG2);
    default:
        return {};
    }
}

void TCaptureForm::applyControlStates(const TControlStates& c)
{
    const auto merge = [](auto& into, const auto& from) {
        if (from) into = from;
    };
    merge(controls_.IntervalometerEnabled, c.IntervalometerEnabled);
    merge(controls_.GrabBtnEnabled, c.GrabBtnEnabled);
    merge(controls_.VideoGroupEnabled, c.VideoGroupEnabled);
    merge(controls_.AudioGroupEnabled, c.AudioGroupEnabled);
    merge(controls_.FormatEnabled, c.FormatEnabled);
    merge(controls_.VideoComboEnabled, c.VideoComboEnabled);
    merge(controls_.StandardEnabled, c.StandardEnabled);
    merge(controls_.EcouterDVVisible, c.EcouterDVVisible);
    merge(controls_.PilotButtonVisible, c.PilotButtonVisible);
    merge(controls_.DeinterlacerBoxEnabled, c.DeinterlacerBoxEnabled);
    merge(controls_.OptionsAllowInlaysEnabled, c.OptionsAllowInlaysEnabled);
    merge(controls_.InlayAllowInlaysEnabled, c.InlayAllowInlaysEnabled);
    merge(controls_.CodecGroupEnabled, c.CodecGroupEnabled);
    merge(controls_.FolderControlsEnabled, c.FolderControlsEnabled);
    merge(controls_.ScheduleStartVisible, c.ScheduleStartVisible);
    merge(controls_.AudioGroupHeight, c.AudioGroupHeight);

    if (c.GrabBtnEnabled) grabBtn->setEnabled(*c.GrabBtnEnabled);
    if (auto* s = qobject_cast<TSourcesFrame*>(Panel(piSources))) {
        if (c.VideoGroupEnabled) s->gbVideo->setEnabled(*c.VideoGroupEnabled);
        if (c.AudioGroupEnabled) s->gbAudio->setEnabled(*c.AudioGroupEnabled);
        if (c.FormatEnabled) s->rgFormat->setEnabled(*c.FormatEnabled);
        if (c.VideoComboEnabled) s->cboxvideo->setEnabled(*c.VideoComboEnabled);
        if (c.StandardEnabled) s->rgStandard->setEnabled(*c.StandardEnabled);
        if (c.EcouterDVVisible) s->rgEcouterDV->setVisible(*c.EcouterDVVisible);
        if (c.PilotButtonVisible) s->PilotSpeedBtn->setVisible(*c.PilotButtonVisible);
        if (c.AudioGroupHeight) s->SetAudioSettingsShown(*c.AudioGroupHeight == kAudioGroupOpen);
    }
    if (auto* o = qobject_cast<TOptionsFrame*>(Panel(piOptions))) {
        if (c.DeinterlacerBoxEnabled) o->cbDeinterlacer->setEnabled(*c.DeinterlacerBoxEnabled);
        if (c.OptionsAllowInlaysEnabled)
            o->cbAllowIncrust->setEnabled(*c.OptionsAllowInlaysEnabled);
        if (c.CodecGroupEnabled) o->gbCodecs->setEnabled(*c.CodecGroupEnabled);
    }
    if (auto* d = qobject_cast<TDossiersFrame*>(Panel(piDossiers))) {
        if (c.FolderControlsEnabled) {
            d->gbFichier->setEnabled(*c.FolderControlsEnabled);
            d->gbFichierImages->setEnabled(*c.FolderControlsEnabled);
        }
    }
    // Panels without a class here yet are reached by their controls' names.
    const auto byName = [this](int panel, const char* name) -> QWidget* {
        QWidget* p = Panel(panel);
        return p ? p->findChild<QWidget*>(QString::fromLatin1(name)) : nullptr;
    };
    if (c.IntervalometerEnabled) {
        if (QWidget* w = byName(piExtraire, "RxSwitch1")) w->setEnabled(*c.IntervalometerEnabled);
    }
    if (c.InlayAllowInlaysEnabled) {
        if (QWidget* w = byName(piIncruster, "cbAllowIncrust"))
            w->setEnabled(*c.InlayAllowInlaysEnabled);
    }
    if (c.ScheduleStartVisible) {
        if (QWidget* w = byName(piProgrammer, "gbDebut")) w->setVisible(*c.ScheduleStartVisible);
    }
}

void TCaptureForm::ShowPreviewState()
{
    refreshFacts();
    setState(CaptureState::csPreview);
    setFrameColour(palette().color(QPalette::Button));

    QString p1 = Text(TextId::StPreview);
    if (facts_.PermettreIncruster) p1 += Text(TextId::StInc);
    if (facts_.DeinterlacerChecked) p1 += Text(TextId::StDes);
    p1 += sourceMarker();
    if (facts_.IsVCR) p1 += Text(TextId::StVCR);
    SetStatusText(1, p1);

    emit audioTypeWanted();
    refreshFacts();
    QString p2 =
        facts_.Kind == SourceKind::skNoVideo ? Text(TextId::StNoVideo) : Text(TextId::StVid);
    p2 += cutCaption();
    if (facts_.PermettreIncruster && formatReencodes()) p2 += Text(TextId::StInc);
    switch (facts_.Audio) {
    case AudioKind::akIncluded:
        p2 += Text(TextId::StAud) + sourceMarker();
        break;
    case AudioKind::akSoundCard:
        p2 += Text(TextId::StAud) + Text(TextId::StAUX);
        break;
    case AudioKind::akNone:
        p2 += Text(TextId::StDash) + Text(TextId::StNoAudio);
        break;
    }
    SetStatusText(2, p2);

    const QString name = CurrentVideoFileName();
    const quint64 free = FreeDiskSpace(name);
    SetStatusText(3, Text(TextId::StFreeSpace).arg(free / 1048576ULL).arg(FileSystemName(name)));

    emit alarmResetWanted();
    Action(ActionId::acCapturerBascule)->setEnabled(true);
    Action(ActionId::acDesentrelacer)->setEnabled(facts_.DeinterlacerPresent);
    TControlStates c;
    c.ScheduleStartVisible = true;
    c.IntervalometerEnabled = true;
    c.GrabBtnEnabled = true;
    c.AudioGroupHeight =
        facts_.Audio == AudioKind::akSoundCard ? kAudioGroupOpen : kAudioGroupCollapsed;
    c.VideoGroupEnabled = true;
    c.AudioGroupEnabled = true;
    c.FormatEnabled = true;
    c.VideoComboEnabled = true;
    c.StandardEnabled = true;
    c.EcouterDVVisible = facts_.Kind == SourceKind::skDV && facts_.Audio == AudioKind::akIncluded;
    c.PilotButtonVisible = facts_.IsVCR;
    c.DeinterlacerBoxEnabled = facts_.DeinterlacerPresent;
    c.OptionsAllowInlaysEnabled = facts_.InlayFiltersAvailable;
    c.InlayAllowInlaysEnabled = facts_.InlayFiltersAvailable;
    c.CodecGroupEnabled = true;
    c.FolderControlsEnabled = true;
    applyControlStates(c);
    Action(ActionId::acCouper)->setEnabled(false);
    applyConnecting();
}

void TCaptureForm::ShowIdleState()
{
    refreshFacts();
    setState(CaptureState::csIdle);
    setFrameColour(kIdleColour);
    emit alarmResetWanted();
    Action(ActionId::acCapturerBascule)->setEnabled(false);
    Action(ActionId::acCouper)->setEnabled(false);
    TControlStates c;
    c.IntervalometerEnabled = false;
    c.GrabBtnEnabled = false;
    if (facts_.DeinterlacerPresent) c.DeinterlacerBoxEnabled = true;
    c.VideoComboEnabled = true;
    c.AudioGroupEnabled = true;
    c.FormatEnabled = true;
    c.StandardEnabled = true;
    applyControlStates(c);
    applyConnecting();
}

void TCaptureForm::ShowCaptureState()
{
    refreshFacts();
    setState(CaptureState::csCapturing);
    setFrameColour(kCaptureColour);

    QString p1 = Text(TextId::StCapture) + Text(TextId::StColon) + cutCaption();
    if (formatReencodes()) p1 += Text(TextId::StInc);
    if (facts_.EcouterAudioInclus || facts_.EnregistrerSourceAudio)
        p1 += Text(TextId::StCaptureDash);
    else
        p1 += Text(TextId::StCaptureNoAudioDash) + Text(TextId::StNoAudio);
    if (facts_.EcouterAudioInclus) p1 += Text(TextId::StDV);
    if (facts_.EnregistrerSourceAudio) p1 += Text(TextId::StAUX);
    SetStatusText(1, p1);

    Action(ActionId::acDesentrelacer)->setEnabled(false);
    emit alarmResetWanted();
    TControlStates c;
    c.IntervalometerEnabled = true;
    c.GrabBtnEnabled = true;
    c.VideoGroupEnabled = false;
    c.AudioGroupEnabled = false;
    c.FormatEnabled = false;
    c.StandardEnabled = false;
    c.DeinterlacerBoxEnabled = false;
    c.CodecGroupEnabled = false;
    c.InlayAllowInlaysEnabled = false;
    c.OptionsAllowInlaysEnabled = facts_.InlayFiltersAvailable;
    c.FolderControlsEnabled = false;
    c.ScheduleStartVisible = false;
    applyControlStates(c);
    Action(ActionId::acCouper)->setEnabled(true);
    applyFinishing();
}

void TCaptureForm::ShowScheduledState()
{
    refreshFacts();
    setState(CaptureState::csScheduled);
    setFrameColour(kScheduledColour);
    SetStatusText(1, Text(TextId::StSchedule));

    QString p2 = Text(TextId::StVid) + cutCaption();
    if (formatReencodes()) p2 += Text(TextId::StInc);
    if (facts_.EcouterAudioInclus || facts_.EnregistrerSourceAudio)
        p2 += Text(TextId::StAud);
    else
        p2 += Text(TextId::StDash) + Text(TextId::StNoAudio);
    if (facts_.EcouterAudioInclus) p2 += Text(TextId::StDV);
    if (facts_.EnregistrerSourceAudio) p2 += Text(TextId::StAUX);
    SetStatusText(2, p2);
    SetStatusText(3, Text(TextId::StStartAt) + twoDigitTime(facts_.AlarmTime));
    TControlStates c;
    c.ScheduleStartVisible = true;
    c.IntervalometerEnabled = true;
    c.GrabBtnEnabled = true;
    c.VideoGroupEnabled = true;
    c.VideoComboEnabled = true;
    c.FormatEnabled = true;
    c.StandardEnabled = true;
    c.AudioGroupEnabled = true;
    c.DeinterlacerBoxEnabled = facts_.DeinterlacerPresent;
    applyControlStates(c);
    Action(ActionId::acCouper)->setEnabled(false);
}

void TCaptureForm::ShowScheduledCaptureState()
{
    emit stopAlarmWanted();
    refreshFacts();
    setState(CaptureState::csScheduledCapture);
    setFrameColour(kScheduledCaptureColour);
    SetStatusText(1, Text(TextId::StCaptureUntil) + twoDigitTime(facts_.AlarmTime));
    TControlStates c;
    c.IntervalometerEnabled = true;
    c.GrabBtnEnabled = true;
    c.DeinterlacerBoxEnabled = false;
    c.ScheduleStartVisible = false;
    c.VideoGroupEnabled = false;
    c.AudioGroupEnabled = false;
    c.FormatEnabled = false;
    c.VideoComboEnabled = false;
    c.StandardEnabled = false;
    applyControlStates(c);
    Action(ActionId::acCouper)->setEnabled(true);
    applyFinishing();
}

bool TCaptureForm::StartPreview()
{
    if (!session_) return false;
    ApplyVolume();
    return session_->StartPreview();
}

void TCaptureForm::ApplyVolume()
{
    if (session_) session_->SetVolume(Action(ActionId::acMute)->isChecked() ? 0 : tb->value());
}

void TCaptureForm::tbChange()
{
    ApplyVolume();
    VolumeLab->setText(QString::number(tb->value() / 100));
}

void TCaptureForm::DroppedActionTimer()
{
    const CaptureState state = State();
    if (state == CaptureState::csCapturing || state == CaptureState::csScheduledCapture) {
        const auto counts =
            session_ ? session_->FrameCounters() : std::optional<std::pair<qint64, qint64>>();
        if (counts) {
            SetStatusText(2, Text(TextId::StCapturedFrames).arg(counts->first));
            SetStatusText(3, Text(TextId::StLostFrames).arg(counts->second));
        } else {
            SetStatusText(2, QString());
            SetStatusText(3, QString());
        }
    }
}

// ---------------------------------------------------------------------------
// Panels and layout

void TCaptureForm::ShowPanel(int index)
{
    if (index < 0 || index >= kPanelCount) return;
    if (QWidget* old = Panel(panneauActif_)) old->hide();
    Action(kPanelActions[panneauActif_])->setChecked(false);
    panneauActif_ = index;
    QWidget* panel = Panel(index);
    panel->move(panelLeft_, kPanelTop);
    panel->raise();
    panel->show();
    Action(kPanelActions[index])->setChecked(true);
    emit viewChanged();
}

void TCaptureForm::LayoutWindow()
{
    if (ecranGauche_) {
        panelLeft_ = 427;
        videoLeft_ = 0;
    } else {
        panelLeft_ = 0;
        videoLeft_ = 266;
    }
    Panel1->move(videoLeft_ + kFrameX, Panel1->y());
    tb->setGeometry(videoLeft_ + 144, kVolumeTop, 156, 22);
    VolumeLab->setGeometry(videoLeft_ + 304, kVolumeTop, 40, 22);
    Label1->setGeometry(videoLeft_ + 108, kVolumeTop, 36, 22);
    for (QWidget* p : panels_)
        p->move(panelLeft_, kPanelTop);
    CaptureBtn->setGeometry(videoLeft_ + 54, kButtonTop, 120, kButtonHeight);
    CouperBtn->setGeometry(videoLeft_ + 186, kButtonTop, 106, kButtonHeight);
    grabBtn->setGeometry(videoLeft_ + 304, kButtonTop, 106, kButtonHeight);
    tbActions->move(videoLeft_ + 120, kToolBarTop);
    tbPanneaux->move(panelLeft_ == 0 ? 60 : TbGeneral->x() - 174, kToolBarTop);
}

bool TCaptureForm::IsReduced() const
{
    return Action(ActionId::acReduire)->isChecked();
}

void TCaptureForm::acBasculerPanneauExecute(bool bySender)
{
    if (bySender) ecranGauche_ = !ecranGauche_;
    if (!IsReduced()) LayoutWindow();
    emit viewChanged();
}

void TCaptureForm::acNextPanneauExecute()
{
    ShowPanel(panneauActif_ >= kPanelCount - 1 ? 0 : panneauActif_ + 1);
}

QString TCaptureForm::VideoComboText() const
{
    if (auto* s = qobject_cast<TSourcesFrame*>(Panel(piSources))) {
        // With nothing chosen the combo shows its placeholder ("No video"),
        // and so does the caption.
        const QComboBox* box = s->cboxvideo;
        return box->currentIndex() < 0 ? box->placeholderText() : box->currentText();
    }
    return videoComboText_;
}

void TCaptureForm::updateCaption()
{
    if (IsReduced())
        setWindowTitle(VideoComboText());
    else
        setWindowTitle(Text(TextId::ProductName) + Text(TextId::Blank) + Text(TextId::By) +
                       Text(TextId::Blank) + Text(TextId::MakerName) +
                       Text(TextId::TitleSeparator) + VideoComboText());
}

void TCaptureForm::acReduireExecute()
{
    QAction* a = Action(ActionId::acReduire);
    if (a->isChecked()) {
        Panel1->move(0, 0);
        setFixedSize(kFrameWidth, kFrameHeight);
        a->setText(Text(TextId::RestoreCaption));
        Panel1->raise();
    } else {
        LayoutWindow();
        Panel1->move(videoLeft_ + kFrameX, kFrameY);
        setFixedSize(kClientWidth, kClientHeight);
        a->setText(Text(TextId::ReduceCaption));
    }
    updateCaption();
    emit viewChanged();
}

void TCaptureForm::contextMenuEvent(QContextMenuEvent* event)
{
    PopupMenu->popup(event->globalPos());
    event->accept();
}

// ---------------------------------------------------------------------------
// View switches

void TCaptureForm::acfullscreenExecute()
{
    QAction* a = Action(ActionId::acfullscreen);
    if (previousChecked(a)) {
        vwEcran->SetFullScreen(false);
        a->setChecked(false);
        a->setText(Text(TextId::DisplayFullscreenCaption));
    } else {
        vwEcran->SetFullScreen(true);
        a->setChecked(true);
        a->setText(Text(TextId::QuitFullscreenCaption));
    }
    emit viewChanged();
}

void TCaptureForm::acMuteExecute()
{
    QAction* a = Action(ActionId::acMute);
    if (previousChecked(a)) {
        a->setChecked(false);
        setActionImage(a, 24);
        a->setText(Text(TextId::TurnSoundOffCaption));
    } else {
        a->setChecked(true);
        setActionImage(a, 23);
        a->setText(Text(TextId::TurnSoundOnCaption));
    }
    // Muting only touches what is heard; the recorded sound is untouched.
    ApplyVolume();
    emit viewChanged();
}

void TCaptureForm::acVMRKeepratioExecute()
{
    QAction* a = Action(ActionId::acVMRKeepratio);
    if (previousChecked(a)) {
        a->setChecked(false);
        vmrKeepAspect_ = true;
        vwEcran->SetKeepAspect(true);
        a->setText(Text(TextId::Ratio4x3Caption));
    } else {
        a->setChecked(true);
        vmrKeepAspect_ = false;
        vwEcran->SetKeepAspect(false);
        a->setText(Text(TextId::RatioNativeCaption));
    }
    emit viewChanged();
}

void TCaptureForm::acDesentrelacerExecute()
{
    QAction* a = Action(ActionId::acDesentrelacer);
    const bool was = previousChecked(a);
    refreshFacts();
    if (!facts_.DeinterlacerPresent) {
        a->setChecked(was);
        return;
    }
    a->setChecked(!was);
    emit deinterlacerToggled(!was);
    if (session_ && session_->PreviewBuilt()) {
        if (StartPreview())
            ShowPreviewState();
        else
            ShowIdleState();
    }
}

void TCaptureForm::acFlipExecute()
{
    QAction* a = Action(ActionId::acFlip);
    const bool wanted = a->isChecked();
    // Flipping needs the overlay filter; until it answers (or without it)
    // the switch falls back.
    a->setChecked(false);
    emit flipRequested(wanted);
}

void TCaptureForm::ShowFlip(bool flipped)
{
    Action(ActionId::acFlip)->setChecked(flipped);
}

// ---------------------------------------------------------------------------
// Capture commands

void TCaptureForm::acCapturerBasculeExecute()
{
    QAction* a = Action(ActionId::acCapturerBascule);
    // The caption and picture follow the wish whatever the start gives.
    const bool wanted = a->isChecked();
    if (wanted)
        acCapturerExecute();
    else
        acStopCaptureExecute();
    ShowCaptureToggle(wanted);
}

void TCaptureForm::ShowCaptureToggle(bool capturing)
{
    QAction* a = Action(ActionId::acCapturerBascule);
    a->setChecked(capturing);
    if (capturing) {
        a->setText(Text(TextId::StopCaptureCaption));
        a->setToolTip(Text(TextId::StopCaptureHint));
        setActionImage(a, 28);
    } else {
        a->setText(Text(TextId::acCapturerBasculeCaption));
        a->setToolTip(Text(TextId::CaptureHint));
        setActionImage(a, 14);
    }
}

void TCaptureForm::acCapturerExecute()
{
    // The session starts from the preview; an armed schedule starts its
    // recording now.
    const CaptureState state = State();
    if (state == CaptureState::csPreview || state == CaptureState::csScheduled)
        emit startCaptureRequested();
    Action(ActionId::acCouper)->setEnabled(true);
    TControlStates c;
    c.ScheduleStartVisible = false;
    applyControlStates(c);
}

void TCaptureForm::acStopCaptureExecute()
{
    // The session finishes the files, then shows the preview again.
    emit stopCaptureRequested();
    Action(ActionId::acCouper)->setEnabled(false);
    Action(ActionId::acStopProg)->setVisible(false);
    Action(ActionId::acProgrammer)->setVisible(true);
    Action(ActionId::acStopCapture)->setVisible(false);
    Action(ActionId::acCapturer)->setVisible(true);
    TControlStates c;
    c.ScheduleStartVisible = true;
    applyControlStates(c);
    applyFinishing();
}

void TCaptureForm::acCouperExecute()
{
    emit cutRequested();
    ApplyVolume();
}

void TCaptureForm::acGrabExecute()
{
    emit grabRequested();
}

void TCaptureForm::vwEcranClick()
{
    Action(ActionId::acGrab)->trigger();
}

void TCaptureForm::acProgrammerExecute()
{
    emit scheduleRequested();
}

void TCaptureForm::acStopProgExecute()
{
    emit stopScheduleRequested();
}

void TCaptureForm::acIncrusterExecute()
{
    emit inlayToggleRequested();
}

void TCaptureForm::acStartIncrusterExecute()
{
    emit inlayStartRequested();
}

void TCaptureForm::acStopIncrusterExecute()
{
    emit inlayStopRequested();
}

void TCaptureForm::acAllowIncrustExecute()
{
    emit inlaysAllowed(Action(ActionId::acAllowIncrust)->isChecked());
}

void TCaptureForm::acJpgOptionExecute()
{
    emit imageTypeChosen(1);
}

void TCaptureForm::acBmpOptionExecute()
{
    emit imageTypeChosen(0);
}

void TCaptureForm::acSauverPrefsExecute()
{
    emit savePreferencesRequested();
}

void TCaptureForm::camExecute(ActionId id)
{
    emit cameraCommandRequested(id);
}

void TCaptureForm::acEcouterAudioInclusExecute()
{
    emit includedAudioToggled(Action(ActionId::acEcouterAudioInclus)->isChecked());
}

void TCaptureForm::acEnregistrerAudioSourceExecute()
{
    emit auxAudioToggled(Action(ActionId::acEnregistrerAudioSource)->isChecked());
}

void TCaptureForm::acShowPilotDVExecute()
{
    emit pilotWindowRequested();
}

void TCaptureForm::acLogExecute()
{
    emit logToggled(Action(ActionId::acLog)->isChecked());
}

void TCaptureForm::acFixerAudioExecute()
{
    emit audioSettingsRequested();
}

void TCaptureForm::acFerrovueExecute()
{
    emit ferrovueRequested();
}

void TCaptureForm::acQuitterExecute()
{
    close();
}

void TCaptureForm::acOuvrirDossierVideosExecute()
{
    emit openVideoFolderRequested();
}

void TCaptureForm::StatusBar1Click()
{
    acOuvrirDossierVideosExecute();
}

} // namespace kad
