#include "ui/camcorder_window.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "system/texts.h"

namespace kad {

namespace {

QAction* transportAction(QWidget* owner, QList<QKeySequence> keys)
{
    auto* a = new QAction(owner);
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    owner->addAction(a);
    return a;
}

QToolButton* actionButton(QWidget* parent, QAction* action, bool textOnly)
{
    auto* b = new QToolButton(parent);
    b->setDefaultAction(action);
    b->setToolButtonStyle(textOnly ? Qt::ToolButtonTextOnly : Qt::ToolButtonIconOnly);
    b->setAutoRaise(!textOnly);
    return b;
}

} // namespace

Tnav_captureframe::Tnav_captureframe(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("nav_captureframe1"));
    PlayAction = transportAction(
        this, {QKeySequence(Qt::Key_Insert), QKeySequence(Qt::SHIFT | Qt::Key_Space)});
    PauseAction = transportAction(this, {QKeySequence(Qt::Key_Delete)});
    StopAction = transportAction(this, {QKeySequence(Qt::Key_End)});
    ReculeRapideAction = transportAction(this, {QKeySequence(Qt::Key_Down)});
    ReculeLentAction = transportAction(this, {QKeySequence(Qt::Key_Left)});
    AvanceLentAction = transportAction(this, {QKeySequence(Qt::Key_Right)});
    AvanceRapideAction = transportAction(this, {QKeySequence(Qt::Key_Up)});
    ReculeRapideAction->setIcon(style()->standardIcon(QStyle::SP_MediaSeekBackward));
    ReculeLentAction->setIcon(style()->standardIcon(QStyle::SP_ArrowLeft));
    AvanceLentAction->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    AvanceRapideAction->setIcon(style()->standardIcon(QStyle::SP_MediaSeekForward));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    PlayBtn = actionButton(this, PlayAction, true);
    PauseBtn = actionButton(this, PauseAction, true);
    StopBtn = actionButton(this, StopAction, true);
    ReculeRapideBtn = actionButton(this, ReculeRapideAction, false);
    ReculeLentBtn = actionButton(this, ReculeLentAction, false);
    AvanceLentBtn = actionButton(this, AvanceLentAction, false);
    AvanceRapideBtn = actionButton(this, AvanceRapideAction, false);
    for (QToolButton* b : {PlayBtn, PauseBtn, StopBtn, ReculeRapideBtn, ReculeLentBtn,
                           AvanceLentBtn, AvanceRapideBtn})
        row->addWidget(b);
}

TcamForm::TcamForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("camForm"));
    QFont arial = font();
    arial.setFamily(QStringLiteral("Arial"));
    arial.setPointSize(8);
    setFont(arial);
    setFixedSize(481, 74);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(6, 4, 6, 4);
    main->setSpacing(2);
    auto* top = new QHBoxLayout;
    nav_captureframe1 = new Tnav_captureframe(this);
    top->addWidget(nav_captureframe1);
    top->addStretch(1);
    TimecodePanel = new QLabel(FormatTimecode(0), this);
    QFont bold = TimecodePanel->font();
    bold.setBold(true);
    bold.setPointSize(12);
    TimecodePanel->setFont(bold);
    TimecodePanel->setFrameShape(QFrame::Panel);
    TimecodePanel->setFrameShadow(QFrame::Sunken);
    TimecodePanel->setAlignment(Qt::AlignCenter);
    TimecodePanel->setMinimumWidth(110);
    top->addWidget(TimecodePanel);
    main->addLayout(top);
    cbStopQuittant = new QCheckBox(this);
    cbStopQuittant->setChecked(true);
    main->addWidget(cbStopQuittant);
    ApplyTexts();

    for (CamCommand command :
         {CamCommand::Play, CamCommand::Pause, CamCommand::Stop, CamCommand::SlowForward,
          CamCommand::FastForward, CamCommand::SlowReverse, CamCommand::FastReverse}) {
        connect(CommandAction(command), &QAction::triggered, this,
                [this, command] { emit commandRequested(command); });
    }
}

QAction* TcamForm::CommandAction(CamCommand command) const
{
    const Tnav_captureframe& n = *nav_captureframe1;
    switch (command) {
    case CamCommand::Play:
        return n.PlayAction;
    case CamCommand::Pause:
        return n.PauseAction;
    case CamCommand::Stop:
        return n.StopAction;
    case CamCommand::SlowForward:
        return n.AvanceLentAction;
    case CamCommand::FastForward:
        return n.AvanceRapideAction;
    case CamCommand::SlowReverse:
        return n.ReculeLentAction;
    case CamCommand::FastReverse:
        return n.ReculeRapideAction;
    }
    return n.StopAction;
}

void TcamForm::ShowTimecode(quint32 bcd)
{
    TimecodePanel->setText(FormatTimecode(bcd));
}

void TcamForm::SetSourceDescription(const QString& description)
{
    described_ = true;
    sourceDescription_ = description;
    ApplyTexts();
}

void TcamForm::ApplyTexts()
{
    setWindowTitle(described_ ? Text(TextId::camFormDriveCaption) + sourceDescription_
                              : Text(TextId::camFormCaption));
    Tnav_captureframe& n = *nav_captureframe1;
    const struct {
        QAction* action;
        TextId caption;
        TextId hint;
    } actions[] = {
        {n.PlayAction, TextId::PlayActionCaption, TextId::PlayActionHint},
        {n.PauseAction, TextId::PauseActionCaption, TextId::PauseActionHint},
        {n.StopAction, TextId::StopActionCaption, TextId::StopActionHint},
        {n.ReculeRapideAction, TextId::ReculeRapideActionCaption, TextId::ReculeRapideActionHint},
        {n.ReculeLentAction, TextId::ReculeLentActionCaption, TextId::ReculeLentActionHint},
        {n.AvanceLentAction, TextId::AvanceLentActionCaption, TextId::AvanceLentActionHint},
        {n.AvanceRapideAction, TextId::AvanceRapideActionCaption, TextId::AvanceRapideActionHint},
    };
    for (const auto& a : actions) {
        a.action->setText(Text(a.caption));
        a.action->setToolTip(Text(a.hint));
    }
    TimecodePanel->setToolTip(Text(TextId::TimecodePanelHint));
    cbStopQuittant->setText(Text(TextId::cbStopQuittantCaption));
    cbStopQuittant->setToolTip(Text(TextId::cbStopQuittantHint));
}

} // namespace kad
