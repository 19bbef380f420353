#include "ui/schedule_panel.h"

#include <QDateEdit>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <initializer_list>
#include <utility>

#include "system/texts.h"
#include "ui/panel_controls_widget.h"

namespace kad {

namespace {

QSpinBox* timeField(QWidget* parent, int maximum)
{
    auto* s = new QSpinBox(parent);
    s->setRange(0, maximum);
    s->setAlignment(Qt::AlignRight);
    return s;
}

QToolButton* textButton(QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setMinimumWidth(90);
    return b;
}

// A start or end group: date on the first row, hours : minutes : seconds on
// the second.
QGroupBox* momentGroup(QDateEdit*& date, QSpinBox*& h, QSpinBox*& m, QSpinBox*& s, QWidget* parent)
{
    auto* group = new QGroupBox(parent);
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setHorizontalSpacing(2);
    grid->setVerticalSpacing(2);
    date = new QDateEdit(group);
    date->setCalendarPopup(true);
    grid->addWidget(date, 0, 0, 1, 5);
    h = timeField(group, 23);
    m = timeField(group, 59);
    s = timeField(group, 59);
    grid->addWidget(h, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral(":"), group), 1, 1);
    grid->addWidget(m, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral(":"), group), 1, 3);
    grid->addWidget(s, 1, 4);
    grid->setColumnStretch(5, 1);
    return group;
}

void setMomentTexts(QGroupBox* group, TextId caption, TextId hint, TextId timeHint, TextId dateHint,
                    QDateEdit* date, std::initializer_list<QSpinBox*> fields)
{
    group->setTitle(Text(caption));
    group->setToolTip(Text(hint));
    // The date entered stays; only the way it reads changes.
    date->setDisplayFormat(Text(TextId::ScheduleDateFormat));
    date->setToolTip(Text(dateHint));
    for (QSpinBox* field : fields)
        field->setToolTip(Text(timeHint));
}

} // namespace

TProgrammerFrame::TProgrammerFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ProgrammerFrame1"));
    resize(kPanelSize);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    gbProgrammer = new QGroupBox(this);
    outer->addWidget(gbProgrammer);
    auto* main = new QVBoxLayout(gbProgrammer);
    main->setContentsMargins(4, 2, 4, 2);
    main->setSpacing(4);

    RxClock2 = new QLabel(gbProgrammer);
    QFont clock(QStringLiteral("Rockwell"));
    clock.setPointSize(20);
    clock.setBold(true);
    RxClock2->setFont(clock);
    RxClock2->setAlignment(Qt::AlignCenter);
    RxClock2->setFrameShape(QFrame::Panel);
    RxClock2->setFrameShadow(QFrame::Sunken);
    main->addWidget(RxClock2);

    gbDebut = momentGroup(DateEdit1, RxSpinEdit1, RxSpinEdit2, RxSpinEdit3, gbProgrammer);
    main->addWidget(gbDebut);
    gbFin = momentGroup(DateEdit2, RxSpinEdit4, RxSpinEdit5, RxSpinEdit6, gbProgrammer);
    main->addWidget(gbFin);

    auto* buttons = new QHBoxLayout;
    NowBtn = textButton(gbProgrammer);
    ProgBtn = textButton(gbProgrammer);
    StopprogBtn = textButton(gbProgrammer);
    StopprogBtn->hide();
    buttons->addWidget(NowBtn);
    buttons->addStretch(1);
    buttons->addWidget(ProgBtn);
    buttons->addWidget(StopprogBtn);
    main->addLayout(buttons);
    main->addStretch(1);
    ApplyTexts();

    Preset(QDateTime::currentDateTime());
    // The clock updates just after each change of second, so the shown
    // time and the alarm's check are never most of a second behind.
    clock_ = new QTimer(this);
    clock_->setSingleShot(true);
    clock_->setTimerType(Qt::PreciseTimer);
    connect(clock_, &QTimer::timeout, this, &TProgrammerFrame::updateClock);
    // The window's state routines reach the controls by these names.
    const std::pair<QWidget*, const char*> named[] = {
        {gbProgrammer, "gbProgrammer"},
        {RxClock2, "RxClock2"},
        {gbDebut, "gbDebut"},
        {DateEdit1, "DateEdit1"},
        {RxSpinEdit1, "RxSpinEdit1"},
        {RxSpinEdit2, "RxSpinEdit2"},
        {RxSpinEdit3, "RxSpinEdit3"},
        {gbFin, "gbFin"},
        {DateEdit2, "DateEdit2"},
        {RxSpinEdit4, "RxSpinEdit4"},
        {RxSpinEdit5, "RxSpinEdit5"},
        {RxSpinEdit6, "RxSpinEdit6"},
        {NowBtn, "NowBtn"},
        {ProgBtn, "ProgBtn"},
        {StopprogBtn, "StopprogBtn"},
    };
    for (const auto& [widget, name] : named)
        widget->setObjectName(QString::fromLatin1(name));
    updateClock();
    // NowBtn goes with the start controls, which the capture states hide.
    gbDebut->installEventFilter(this);

    for (QSpinBox* s : {RxSpinEdit1, RxSpinEdit2, RxSpinEdit3})
        connect(s, &QSpinBox::valueChanged, this, &TProgrammerFrame::startTimeChanged);
    for (QSpinBox* s : {RxSpinEdit4, RxSpinEdit5, RxSpinEdit6})
        connect(s, &QSpinBox::valueChanged, this, &TProgrammerFrame::endTimeChanged);
    connect(NowBtn, &QToolButton::clicked, this, &TProgrammerFrame::NowBtnClick);
}

void TProgrammerFrame::ApplyTexts()
{
    gbProgrammer->setTitle(Text(TextId::ScheduleGroupCaption));
    RxClock2->setToolTip(Text(TextId::RxClock2Hint));
    setMomentTexts(gbDebut, TextId::gbDebutCaption, TextId::gbDebutHint, TextId::StartTimeHint,
                   TextId::ScheduleStartDateHint, DateEdit1,
                   {RxSpinEdit1, RxSpinEdit2, RxSpinEdit3});
    setMomentTexts(gbFin, TextId::gbFinCaption, TextId::gbFinHint, TextId::EndTimeHint,
                   TextId::ScheduleEndDateHint, DateEdit2, {RxSpinEdit4, RxSpinEdit5, RxSpinEdit6});
    NowBtn->setText(Text(TextId::NowBtnCaption));
    NowBtn->setToolTip(Text(TextId::NowBtnHint));
    ProgBtn->setText(Text(TextId::ProgBtnCaption));
    ProgBtn->setToolTip(Text(TextId::ProgBtnHint));
    StopprogBtn->setText(Text(TextId::StopprogBtnCaption));
    StopprogBtn->setToolTip(Text(TextId::StopprogBtnHint));
}

void TProgrammerFrame::Preset(const QDateTime& now)
{
    const QDateTime start = now.addSecs(60);
    const QDateTime end = now.addSecs(31 * 60);
    DateEdit1->setDate(start.date());
    RxSpinEdit1->setValue(start.time().hour());
    RxSpinEdit2->setValue(start.time().minute());
    RxSpinEdit3->setValue(0);
    DateEdit2->setDate(end.date());
    RxSpinEdit4->setValue(end.time().hour());
    RxSpinEdit5->setValue(end.time().minute());
    RxSpinEdit6->setValue(0);
}

QDateTime TProgrammerFrame::StartMoment() const
{
    return QDateTime(DateEdit1->date(),
                     QTime(RxSpinEdit1->value(), RxSpinEdit2->value(), RxSpinEdit3->value()));
}

QDateTime TProgrammerFrame::EndMoment() const
{
    return QDateTime(DateEdit2->date(),
                     QTime(RxSpinEdit4->value(), RxSpinEdit5->value(), RxSpinEdit6->value()));
}

void TProgrammerFrame::NowBtnClick()
{
    DateEdit2->setDate(DateEdit1->date());
    RxSpinEdit4->setValue(RxSpinEdit1->value());
    RxSpinEdit5->setValue(RxSpinEdit2->value());
    RxSpinEdit6->setValue(RxSpinEdit3->value());
    emit nowClicked();
}

void TProgrammerFrame::updateClock()
{
    const QTime now = QTime::currentTime();
    RxClock2->setText(now.toString(QStringLiteral("HH:mm:ss")));
    clock_->start(1000 - now.msec() + 5);
    emit clockTick(now);
}

void TProgrammerFrame::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A window restored by the desktop is not the panel being opened.
    if (!event->spontaneous()) emit shown();
}

bool TProgrammerFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == gbDebut &&
        (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
        NowBtn->setHidden(gbDebut->isHidden());
    return QWidget::eventFilter(watched, event);
}

} // namespace kad
