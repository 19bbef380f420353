#include "app/capture_control.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>

#include <utility>

#include "app/capture_form.h"
#include "app/source_selection.h"
#include "app/sources_panel.h"
#include "graph/dm_cam.h"
#include "settings/naming.h"
#include "settings/preferences.h"
#include "system/dialogs.h"
#include "system/log.h"

namespace kad {

QString ExistingFileQuestion(const QString& path)
{
    return QStringLiteral("The file ") + path +
           QStringLiteral(" exists already. Do you want to crush it?");
}

QString MissingFolderError(const QString& path)
{
    const QFileInfo info(path);
    return QStringLiteral("The folder ") + info.path() +
           QStringLiteral(" does not exist. Please check in which folder you want to create") +
           QStringLiteral("\r\n") + QStringLiteral(" the video file ") + info.fileName() +
           QStringLiteral(".");
}

TCaptureControl::TCaptureControl(TProgramParts& parts, TSourceSelection& sources, QObject* parent)
    : QObject(parent), p_(parts), sources_(sources), cutWait_(new QTimer(this))
{
    cutWait_->setSingleShot(true);
    cutWait_->setInterval(kCutWaitMs);
    connect(cutWait_, &QTimer::timeout, this, &TCaptureControl::cutWaitOver);
}

void TCaptureControl::Bind()
{
    // A capture that ended by itself (full disk, write error) has already
    // said why; the window goes back to the preview as if stopped by hand.
    connect(p_.Cam, &TdmCam::CaptureStopped, this, [this](const QString&) {
        TCaptureForm& f = *p_.Form;
        if (f.State() != CaptureState::csCapturing && f.State() != CaptureState::csScheduledCapture)
            return;
        QAction* toggle = f.Action(ActionId::acCapturerBascule);
        toggle->setChecked(false);
        f.acCapturerBasculeExecute();
    });
    // The capture goes on without its sound: the status bar keeps saying so
    // until the capture ends, the log says when.
    connect(p_.Cam, &TdmCam::CaptureSoundLost, this,
            [this](const QString& text) { p_.Form->SetStatusText(1, text); });
    // Any other failure of the graph is at least written down; a capture
    // has said its own words about what ended it.
    connect(p_.Cam, &TdmCam::GraphError, this,
            [](const QString& text) { WriteLog("The media graph reports: " + text); });
    connect(p_.Cam, &TdmCam::CaptureFileSwitched, this,
            [this](const QString&, const QString& newName) { fileSwitched(newName); });
    connect(p_.Cam, &TdmCam::CaptureSwitchFailed, this,
            [this](const QString& name, const QString& error) {
                if (name == pendingCut_) cutGivenUp(QStringLiteral("it failed (") + error + u')');
            });
    connect(p_.Cam, &TdmCam::CaptureFileRenamed, this,
            [this](const QString& oldName, const QString& newName) {
                renamed_.insert(oldName, newName);
                TCaptureForm& f = *p_.Form;
                if (f.CurrentVideoFileName != oldName) return;
                f.CurrentVideoFileName = newName;
                sources_.ShowVideoName(newName);
            });
}

void TCaptureControl::fileSwitched(const QString& name)
{
    // A switch reported once the capture has ended changes nothing: the
    // window has moved on to the next capture's name.
    if (!p_.Cam->Capturing()) return;
    if (!pendingCut_.isEmpty() && name == pendingCut_) {
        pendingCut_.clear();
        cutWait_->stop();
        p_.Form->CurrentVideoFileName = name;
        sources_.ShowVideoName(name);
    }
    followRecordingSplit(name);
}

void TCaptureControl::cutGivenUp(const QString& why)
{
    cutWait_->stop();
    const QString name = std::exchange(pendingCut_, QString());
    NamingState& n = Naming();
    // The number goes back unless another name was taken meanwhile.
    if (n.VideoCounter == counterAfterCut_ && n.VideoCounter > 0) --n.VideoCounter;
    const QString text = QStringLiteral("The cut into ") + QFileInfo(name).fileName() +
                         QStringLiteral(" was given up: ") + why +
                         QStringLiteral(". The capture goes on in ") +
                         QFileInfo(p_.Form->CurrentVideoFileName).fileName() + u'.';
    WriteLog(text);
    p_.Form->SetStatusText(1, text);
    sources_.ShowVideoName(p_.Form->CurrentVideoFileName);
}

void TCaptureControl::cutWaitOver()
{
    if (pendingCut_.isEmpty()) return;
    if (p_.Cam->GiveUpCaptureSwitch()) {
        cutGivenUp(QStringLiteral("no picture came from the source"));
        return;
    }
    // A muxer writer past the point of no return completes (or fails) by
    // itself; a writer that has just moved on says so on its way here.
    if (p_.Cam->CaptureSwitchBusy()) cutWait_->start();
}

QString TCaptureControl::NameAfterCapture()
{
    // The cut is given up before the writer is caught up with: that
    // finishes the capture, which would give the cut up in its own way.
    QString givenUp;
    if (!pendingCut_.isEmpty()) {
        cutWait_->stop();
        const QString name = std::exchange(pendingCut_, QString());
        if (p_.Cam->GiveUpCaptureSwitch(true)) givenUp = name;
    }
    catchUpWithWriter();
    if (!givenUp.isEmpty()) {
        // Never made: its number, already taken, is the next capture's.
        sources_.ShowVideoName(givenUp);
        return givenUp;
    }
    return NextVideoName();
}

QString TCaptureControl::peekNextVideoName()
{
    NamingState& n = Naming();
    const QString next = NextVideoName(n);
    if (n.VideoCounter > 0) --n.VideoCounter;
    sources_.ShowVideoName(p_.Form->CurrentVideoFileName);
    return next;
}

void TCaptureControl::followRecordingSplit(const QString& name)
{
    TCaptureForm& f = *p_.Form;
    if (name != f.CurrentVideoFileName) {
        // Not a cut of ours (that one names the window's file itself): the
        // tape's next recording, in the next free numbered name.
        f.CurrentVideoFileName = name;
        sources_.ShowVideoName(name);
        useNumberOf(name);
    }
    if (splitting_) {
        splitName_ = peekNextVideoName();
        p_.Cam->SetRecordingSplitName(splitName_);
    }
}

void TCaptureControl::useNumberOf(const QString& name)
{
    const QString stem = QFileInfo(name).completeBaseName();
    bool numbered = false;
    const int number = stem.mid(stem.lastIndexOf(u'_') + 1).toInt(&numbered);
    NamingState& n = Naming();
    if (numbered && number >= n.VideoCounter) n.VideoCounter = number + 1;
}

void TCaptureControl::catchUpWithWriter()
{
    if (!splitting_) return;
    splitting_ = false;
    useNumberOf(p_.Cam->EndRecordingSplits());
}

bool TCaptureControl::checkTarget(const QString& path)
{
    if (QFileInfo::exists(path) &&
        dialogs().warningYesNo(ExistingFileQuestion(path)) != DialogAnswer::Yes)
        return false;
    const QFileInfo info(path);
    if (!info.dir().exists()) {
        dialogs().error(MissingFolderError(path));
        return false;
    }
    return true;
}

bool TCaptureControl::StartCapture()
{
    TCaptureForm& f = *p_.Form;
    TdmCam& cam = *p_.Cam;
    const QString path = f.CurrentVideoFileName;
    if (path.isEmpty() || !checkTarget(path)) return false;
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    sources_.FillGraphOptions();
    sources_.FillCaptureOptions();
    cam.Options.CaptureReport = p_.Prefs->CaptureReport.Value;
    cam.Capture.FormatName = p_.SourcesFrame->rgFormat->selectedText();
    cam.CurrentVideoFileName = path;
    // DV only: the builders of the other formats never read these.
    splitting_ = p_.Prefs->SplitAtRecording.Value;
    cam.Capture.SplitAtRecording = splitting_;
    splitName_ = splitting_ ? peekNextVideoName() : QString();
    cam.Capture.SplitFileName = splitName_;
    cam.Capture.DateNameRoot = p_.Prefs->NameByRecordingDate.Value
                                   ? QFileInfo(path).path() + u'/' + Naming().videoRacine
                                   : QString();
    WriteLogSeparator();
    WriteLog(QStringLiteral("Start of capture into ") + path);
    if (!cam.BuildCaptureGraph()) return false;
    f.ApplyVolume();
    return true;
}

bool TCaptureControl::Cut()
{
    TCaptureForm& f = *p_.Form;
    TdmCam& cam = *p_.Cam;
    if (!cam.Capturing() || cam.CaptureSwitchBusy() || !pendingCut_.isEmpty()) return false;
    NamingState& n = Naming();
    QString next = NextVideoName(n);
    // The tape's next recording may take the split's pending name at any
    // frame, before the writer gets to the cut: the cut never draws it.
    if (splitting_ && next == splitName_) next = NextVideoName(n);
    // The window keeps the file being written until the writer moves on.
    sources_.ShowVideoName(f.CurrentVideoFileName);
    if (!checkTarget(next) || !cam.SwitchCaptureFile(next)) {
        // The name was not used: the next cut or stop offers it again.
        if (n.VideoCounter > 0) --n.VideoCounter;
        return false;
    }
    WriteLog(QStringLiteral("Cut into ") + next);
    pendingCut_ = next;
    counterAfterCut_ = n.VideoCounter;
    cutWait_->start();
    return true;
}

std::optional<std::pair<qint64, qint64>> TCaptureControl::FrameCounters() const
{
    const TdmCam& cam = *p_.Cam;
    if (!cam.Capturing()) return std::nullopt;
    return std::make_pair(static_cast<qint64>(cam.CapturedFrames()),
                          static_cast<qint64>(cam.LostFrames()));
}

} // namespace kad
