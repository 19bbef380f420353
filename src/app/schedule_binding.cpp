#include "app/schedule_binding.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <climits>

#include "graph/dm_cam.h"
#include "session/capture_session.h"
#include "settings/naming.h"
#include "system/dialogs.h"
#include "system/texts.h"
#include "ui/capture_form.h"
#include "ui/grab_panel.h"
#include "ui/schedule_panel.h"
#include "ui/status_bar.h"

namespace kad {

namespace {

// The status bar's colour while the intervalometer runs.
const QColor kIntervalometerColour{0, 255, 0};

} // namespace

TScheduleBinding::TScheduleBinding(TProgramParts& parts, std::function<bool()> snapshot,
                                   QObject* parent)
    : QObject(parent), p_(parts), snapshot_(std::move(snapshot)), intervalometer_(clock_),
      schedule_(clock_, *this)
{
}

TScheduleBinding::~TScheduleBinding() = default;

void TScheduleBinding::Bind(TCaptureSession& session)
{
    session_ = &session;
    TCaptureForm& f = *p_.Form;
    TExtraireFrame* g = p_.ExtraireFrame1;
    TProgrammerFrame* s = p_.ProgrammerFrame1;

    // Each tick is placed on its own time counted from the start, so the
    // timer fires once per tick.
    f.Timer1->stop();
    f.Timer1->setSingleShot(true);
    f.Timer1->setTimerType(Qt::PreciseTimer);
    connect(f.Timer1, &QTimer::timeout, this, &TScheduleBinding::IntervalometerTick);
    connect(g, &TExtraireFrame::intervalometerSwitched, this,
            &TScheduleBinding::SwitchIntervalometer);
    connect(g->cbBeeps, &QCheckBox::toggled, this,
            [this](bool on) { intervalometer_.SetBeeps(on); });
    statusPalette_ = f.StatusBar1->palette();
    statusAutoFill_ = f.StatusBar1->autoFillBackground();

    connect(&f, &TCaptureForm::scheduleRequested, this, [this] { schedule_.Programmer(); });
    connect(&f, &TCaptureForm::stopScheduleRequested, this, [this] { schedule_.StopProg(); });
    connect(&f, &TCaptureForm::alarmResetWanted, this, [this] { schedule_.ResetAlarm(); });
    connect(&f, &TCaptureForm::stopAlarmWanted, this, [this] { schedule_.ArmStopAlarm(); });

    connect(s, &TProgrammerFrame::clockTick, this, [this] { schedule_.CheckAlarm(); });
    connect(s, &TProgrammerFrame::startTimeChanged, this,
            [this] { schedule_.StartFieldsChanged(); });
    connect(s, &TProgrammerFrame::endTimeChanged, this, [this] { schedule_.EndFieldsChanged(); });
    connect(s, &TProgrammerFrame::nowClicked, this, [this] { schedule_.EndFieldsChanged(); });
    connect(s, &TProgrammerFrame::shown, this, [this, s] {
        const CaptureState state = p_.Form->State();
        if (state != CaptureState::csScheduled && state != CaptureState::csScheduledCapture)
            s->Preset(clock_.Now());
    });
    QAction* prog = f.Action(ActionId::acProgrammer);
    QAction* stop = f.Action(ActionId::acStopProg);
    connect(s->ProgBtn, &QToolButton::clicked, prog, &QAction::trigger);
    connect(s->StopprogBtn, &QToolButton::clicked, stop, &QAction::trigger);
    // The panel's two buttons follow the actions wherever they are switched.
    const auto follow = [s, prog, stop] {
        s->ProgBtn->setVisible(prog->isVisible());
        s->StopprogBtn->setVisible(stop->isVisible());
    };
    connect(prog, &QAction::visibleChanged, this, follow);
    connect(stop, &QAction::visibleChanged, this, follow);
    follow();
}

// ---------------------------------------------------------------------------
// Intervalometer

void TScheduleBinding::SwitchIntervalometer(bool on)
{
    if (on)
        startIntervalometer();
    else
        stopIntervalometer();
}

void TScheduleBinding::startIntervalometer()
{
    TExtraireFrame* g = p_.ExtraireFrame1;
    g->chronoLab->hide();
    const int value = g->RxSpinEdit7->value();
    const qint64 period = IntervalPeriodMs(value, g->cbUnites->currentIndex(),
                                           p_.Cam ? p_.Cam->Preview().Format().FrameDuration : 0);
    switch (intervalometer_.Start(period, g->cbBeeps->isChecked())) {
    case TIntervalometer::StartResult::NoPeriod:
        return;
    case TIntervalometer::StartResult::TooLong:
        dialogs().error(IntervalTooLongMessage(value, g->cbUnites->currentText()));
        g->RxSwitch1->setChecked(false);
        return;
    case TIntervalometer::StartResult::Started:
        break;
    }
    g->chronoLab->setText(intervalometer_.StartLabel());
    g->chronoLab->show();
    setIntervalometerStatus(IntervalStatusText(value, g->cbUnites->currentText()), true);
    g->RxSpinEdit7->setEnabled(false);
    g->cbUnites->setEnabled(false);
    scheduleNextTick();
}

void TScheduleBinding::stopIntervalometer()
{
    TExtraireFrame* g = p_.ExtraireFrame1;
    intervalometer_.Stop();
    p_.Form->Timer1->stop();
    g->chronoLab->hide();
    setIntervalometerStatus(Text(TextId::StatusIntervalometerOff), false);
    g->RxSpinEdit7->setEnabled(true);
    g->cbUnites->setEnabled(true);
}

void TScheduleBinding::setIntervalometerStatus(const QString& text, bool running)
{
    TStatusBar* bar = p_.Form->StatusBar1;
    p_.Form->SetStatusText(0, text);
    if (running) {
        QPalette lime = statusPalette_;
        lime.setColor(QPalette::Window, kIntervalometerColour);
        bar->setPalette(lime);
        bar->setAutoFillBackground(true);
    } else {
        bar->setPalette(statusPalette_);
        bar->setAutoFillBackground(statusAutoFill_);
    }
}

void TScheduleBinding::scheduleNextTick()
{
    if (!intervalometer_.Running()) return;
    const qint64 wait = std::min<qint64>(intervalometer_.MsUntilNextTick(), INT_MAX);
    p_.Form->Timer1->start(static_cast<int>(wait));
}

void TScheduleBinding::playBeep(int index)
{
    if (!beeper_) beeper_ = std::make_unique<TBeepPlayer>();
    beeper_->Play(index);
}

void TScheduleBinding::IntervalometerTick()
{
    if (!intervalometer_.Running()) return;
    const IntervalTick t = intervalometer_.Tick();
    if (t.Due) {
        p_.ExtraireFrame1->chronoLab->setText(t.Label);
        // The sound plays on its own thread, so the image keeps its time.
        if (t.Beep) playBeep(*t.Beep);
        if (t.Snapshot) {
            const qint64 taken = clock_.SteadyMs();
            if (snapshot_ && snapshot_()) ++snapshotsWritten_;
            if (snapshotObserver_) snapshotObserver_(t.ScheduledAt, taken);
        }
    }
    scheduleNextTick();
}

// ---------------------------------------------------------------------------
// Schedule host

CaptureState TScheduleBinding::State() const
{
    return p_.Form->State();
}

ScheduleFields TScheduleBinding::Fields() const
{
    const TProgrammerFrame* s = p_.ProgrammerFrame1;
    ScheduleFields f;
    f.StartDate = s->DateEdit1->date();
    f.StartTime = s->StartMoment().time();
    f.EndDate = s->DateEdit2->date();
    f.EndTime = s->EndMoment().time();
    return f;
}

bool TScheduleBinding::StartCapture()
{
    return session_ &&
           session_->StartCapture(session_->VideoFileName(), CaptureState::csScheduledCapture);
}

void TScheduleBinding::StopCapture()
{
    p_.Cam->Capture().SetCaptureEndReason(CaptureEnd::ScheduleEnd);
    p_.Form->acStopCaptureExecute();
    p_.Form->ShowCaptureToggle(false);
}

void TScheduleBinding::ShowScheduledState()
{
    p_.Form->ShowScheduledState();
}

void TScheduleBinding::ShowScheduledCaptureState()
{
    p_.Form->ShowScheduledCaptureState();
}

void TScheduleBinding::ShowCaptureState()
{
    p_.Form->ShowCaptureState();
}

void TScheduleBinding::ShowPreviewState()
{
    p_.Form->ShowPreviewState();
}

void TScheduleBinding::ShowArmed(bool armed)
{
    p_.Form->Action(ActionId::acProgrammer)->setVisible(!armed);
    p_.Form->Action(ActionId::acStopProg)->setVisible(armed);
}

void TScheduleBinding::ShowCaptureStarted()
{
    TCaptureForm& f = *p_.Form;
    f.Action(ActionId::acCouper)->setEnabled(true);
    f.Action(ActionId::acCapturer)->setVisible(false);
    f.Action(ActionId::acStopCapture)->setVisible(true);
    // The capture toggle stops what the alarm started.
    f.ShowCaptureToggle(true);
}

void TScheduleBinding::ShowScheduleEnded()
{
    p_.Form->Action(ActionId::acCouper)->setEnabled(false);
    p_.ProgrammerFrame1->gbDebut->show();
}

void TScheduleBinding::ShowAlarmTime(const QTime& time)
{
    const QString shown = time.toString(QStringLiteral("HH:mm:ss"));
    if (p_.Form->State() == CaptureState::csScheduled)
        p_.Form->SetStatusText(3, Text(TextId::StStartAt) + shown);
    else
        p_.Form->SetStatusText(1, Text(TextId::StCaptureUntil) + shown);
}

void TScheduleBinding::AdvanceVideoName()
{
    // The end of a capture that splits at recordings names the next file
    // once its last one is known: advancing now would take a number before
    // that one, and the name arriving then would skip it.
    if (session_ && session_->AdvanceNameAfterFinish()) return;
    p_.Session->SetVideoFileName(NextVideoName());
}

} // namespace kad
