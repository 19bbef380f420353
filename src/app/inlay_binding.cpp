#include "app/inlay_binding.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QFontDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include "graph/dm_cam.h"
#include "session/inlay.h"
#include "settings/preferences.h"
#include "system/dialogs.h"
#include "system/texts.h"
#include "ui/app_icons.h"
#include "ui/capture_form.h"
#include "ui/inlay_panel.h"
#include "ui/options_panel.h"

namespace kad {

namespace {

constexpr int kInlayRunningImage = 25;
constexpr int kInlayStoppedImage = 26;
constexpr int kMarkerSize = 20;

} // namespace

TInlayBinding::TInlayBinding(TProgramParts& parts, QObject* parent)
    : QObject(parent), p_(parts), graph_(std::make_unique<TdmCamInlayGraph>(*parts.Cam))
{
    inlay_ = new TInlay(*p_.Prefs, *graph_, *p_.Form->TimerLumatex, this);
}

TInlayBinding::~TInlayBinding() = default;

void TInlayBinding::Bind()
{
    TCaptureForm& f = *p_.Form;
    TIncrusterFrame* panel = p_.IncrusterFrame1;
    TInlay* inlay = inlay_;

    inlay->SetControlsSource([&f, panel] {
        TInlayControls c;
        c.Format = panel->edFormat->text();
        c.Mode = panel->rgMode->itemIndex();
        c.Duration = panel->RxSpinEdit1->value();
        c.Choice = panel->rgChoix->itemIndex();
        c.HourOffset = panel->RxSpinEdit2->value();
        c.X = f.Xslider->value();
        c.YSlider = f.Yslider->value();
        return c;
    });
    p_.Cam->Preview().SetInlaySetup([inlay] { inlay->AfterBuild(); });

    connect(panel, &TIncrusterFrame::modeClicked, inlay, &TInlay::ModeClicked);
    connect(panel, &TIncrusterFrame::choiceClicked, inlay, &TInlay::ChoiceClicked);
    connect(panel, &TIncrusterFrame::durationChanged, inlay, &TInlay::DurationChanged);
    connect(panel, &TIncrusterFrame::hourOffsetChanged, inlay, &TInlay::HourOffsetChanged);
    connect(panel, &TIncrusterFrame::formatChanged, inlay, &TInlay::FormatChanged);
    connect(panel, &TIncrusterFrame::autoFontSizeClicked, inlay, &TInlay::AutoFontSizeClicked);
    connect(panel, &TIncrusterFrame::fontRequested, this, &TInlayBinding::chooseFont);
    connect(f.Xslider, &QSlider::valueChanged, inlay, &TInlay::PositionChanged);
    connect(f.Yslider, &QSlider::valueChanged, inlay, &TInlay::PositionChanged);
    connect(inlay, &TInlay::toggledChanged, this, &TInlayBinding::showToggle);
    connect(inlay, &TInlay::caution, this,
            [](const QString& text) { dialogs().information(text); });

    panel->IncrusterBtn->setDefaultAction(f.Action(ActionId::acIncruster));
    panel->IncrusterBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    // The marker sits in the preview panel's lower right corner, where the
    // two sliders meet.
    QWidget* preview = f.Shape1->parentWidget();
    f.Shape1->setGeometry(preview->width() - kMarkerSize, preview->height() - kMarkerSize,
                          kMarkerSize, kMarkerSize);
    f.Shape1->setToolTip(Text(TextId::Shape1Hint));
    f.Shape1->setCursor(Qt::PointingHandCursor);
    f.Shape1->raise();
    f.Shape1->installEventFilter(this);

    connect(&f, &TCaptureForm::inlayToggleRequested, inlay, &TInlay::Toggle);
    connect(&f, &TCaptureForm::inlayStartRequested, inlay, &TInlay::Start);
    connect(&f, &TCaptureForm::inlayStopRequested, inlay, &TInlay::Stop);
    connect(&f, &TCaptureForm::inlaysAllowed, this, &TInlayBinding::AllowIncrust);
    // The switch shows what the overlay filter did.
    connect(&f, &TCaptureForm::flipRequested, inlay,
            [&f, inlay](bool flip) { f.ShowFlip(inlay->SetFlip(flip) && flip); });
    // Until inlays are allowed, starting or stopping one has nothing to act
    // on; AllowIncrust turns the three on together.
    for (ActionId id : {ActionId::acStartIncruster, ActionId::acStopIncruster})
        f.Action(id)->setEnabled(f.Action(ActionId::acIncruster)->isEnabled());
}

void TInlayBinding::showToggle(bool on)
{
    QAction* a = p_.Form->Action(ActionId::acIncruster);
    a->setChecked(on);
    a->setText(Text(on ? TextId::acIncrusterStopCaption : TextId::acIncrusterCaption));
    a->setToolTip(Text(on ? TextId::acIncrusterStopHint : TextId::acIncrusterHint));
    const int image = on ? kInlayRunningImage : kInlayStoppedImage;
    a->setProperty(kImageProperty, image);
    a->setIcon(ImageListIcon(image));
}

void TInlayBinding::AllowIncrust(bool allowed)
{
    TCaptureForm& f = *p_.Form;
    Preferences& pr = *p_.Prefs;
    inlay_->Allow(allowed);
    if (p_.OptionsFrame) p_.OptionsFrame->cbAllowIncrust->setChecked(allowed);
    if (TIncrusterFrame* i = p_.IncrusterFrame1) {
        i->cbAllowIncrust->setChecked(allowed);
        i->rgMode->setEnabled(allowed);
        i->rgChoix->setEnabled(allowed);
    }
    AdaptPanel();

    f.Shape1->setVisible(allowed);
    if (!allowed) showSliders(false);
    for (ActionId id :
         {ActionId::acIncruster, ActionId::acStartIncruster, ActionId::acStopIncruster})
        f.Action(id)->setEnabled(allowed);
    showToggle(inlay_->Toggled());
    QAction* flip = f.Action(ActionId::acFlip);
    flip->setChecked(allowed && pr.FlipOn.Value);
    flip->setEnabled(allowed);

    // A running capture keeps its graph; the filters follow at the next
    // preview rather than cutting the file short.
    if (p_.Cam->Preview().PreviewBuilt() && f.State() == CaptureState::csPreview &&
        f.StartPreview())
        f.ShowPreviewState();
}

void TInlayBinding::AdaptPanel()
{
    if (p_.IncrusterFrame1)
        p_.IncrusterFrame1->AdaptPanel(p_.Cam->FilterGraph().Presence().InlayFiltersAvailable,
                                       p_.Cam->Source().Kind() == SourceKind::skDV);
}

void TInlayBinding::chooseFont()
{
    Preferences& pr = *p_.Prefs;
    auto* dialog = new QFontDialog(pr.IncrustFont.Font.Font, p_.Form);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("FontDialog1"));
    Preferences* prefs = &pr;
    connect(dialog, &QFontDialog::fontSelected, this,
            [prefs](const QFont& font) { prefs->IncrustFont.Font.Font = font; });
    // Confirmed or not, the overlay hears the font the preferences hold.
    connect(dialog, &QDialog::finished, inlay_, &TInlay::ApplyFont);
    dialog->open();
}

void TInlayBinding::showSliders(bool visible)
{
    inlay_->SetSlidersVisible(visible);
    p_.Form->Xslider->setVisible(visible);
    p_.Form->Yslider->setVisible(visible);
    if (visible) {
        p_.Form->Xslider->raise();
        p_.Form->Yslider->raise();
    }
}

bool TInlayBinding::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == p_.Form->Shape1 && event->type() == QEvent::MouseButtonPress) {
        if (inlay_->MarkerPressed()) showSliders(inlay_->SlidersVisible());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kad
