#include "session/capture_session.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <utility>

#include "graph/dm_cam.h"
#include "graph/frame_counter.h"
#include "settings/naming.h"
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

TCaptureSession::TCaptureSession(TdmCam& cam, QObject* parent)
    : QObject(parent), cam_(cam), cutWait_(new QTimer(this))
{
    cutWait_->setSingleShot(true);
    cutWait_->setInterval(kCutWaitMs);
    connect(cutWait_, &QTimer::timeout, this, &TCaptureSession::cutWaitOver);
    connectGraph();
}

TCaptureSession::~TCaptureSession() = default;

void TCaptureSession::connectGraph()
{
    // A capture that ended by itself (full disk, write error) has already
    // said why; whoever drives the session stops it as if by hand.
    connect(&cam_.Capture(), &TcaptureRun::CaptureStopped, this, [this](const QString&) {
        if (Capturing() && !finishing_) emit captureEndedByItself();
    });
    // The capture goes on without its sound: the status bar keeps saying so
    // until the capture ends, the log says when.
    connect(&cam_.Capture(), &TcaptureRun::CaptureSoundLost, this, &TCaptureSession::statusText);
    // Any other failure of the graph is at least written down; a capture
    // has said its own words about what ended it.
    connect(&cam_.FilterGraph(), &TfilterGraph::GraphError, this,
            [](const QString& text) { WriteLog("The media graph reports: " + text); });
    connect(&cam_.Capture(), &TcaptureRun::CaptureFileSwitched, this,
            [this](const QString&, const QString& newName) { fileSwitched(newName); });
    connect(&cam_.Capture(), &TcaptureRun::CaptureSwitchFailed, this,
            [this](const QString& name, const QString& error) {
                if (name == pendingCut_) cutGivenUp(QStringLiteral("it failed (") + error + u')');
            });
    connect(&cam_.Capture(), &TcaptureRun::CaptureFileRenamed, this,
            [this](const QString& oldName, const QString& newName) {
                renamed_.insert(oldName, newName);
                if (currentFile_ != oldName) return;
                currentFile_ = newName;
                emit currentFileChanged(newName);
            });
    connect(&cam_.Capture(), &TcaptureRun::CaptureFinished, this,
            &TCaptureSession::captureFinished);
}

// ---------------------------------------------------------------------------
// State

void TCaptureSession::SetState(CaptureState state)
{
    if (state == state_) return;
    state_ = state;
    emit stateChanged(state);
}

void TCaptureSession::setFinishing(bool finishing)
{
    if (finishing == finishing_) return;
    finishing_ = finishing;
    emit finishingChanged(finishing);
}

void TCaptureSession::SetVolume(int volume)
{
    volume_ = volume;
    cam_.FilterGraph().SetVolume(volume);
}

// ---------------------------------------------------------------------------
// Preview and stop

bool TCaptureSession::StartPreview()
{
    cam_.FilterGraph().StopGraph();
    if (rebuilding_) {
        // The preview is taken as started; one that cannot be built once the
        // source is back leaves the window idle.
        AfterRebuild([this](bool finished) {
            // A step before this one may have run the graph again.
            if (finished && !StartPreview()) SetState(CaptureState::csIdle);
        });
        return true;
    }
    return buildPreview();
}

bool TCaptureSession::buildPreview()
{
    emit graphOptionsWanted();
    if (!cam_.Preview().BuildPreviewGraph()) return false;
    cam_.FilterGraph().SetVolume(volume_);
    cam_.FilterGraph().RunGraph();
    return true;
}

void TCaptureSession::EndRebuild(bool finished)
{
    rebuilding_ = false;
    // A step may stop the graph again and so start another rebuild: what it
    // asks then waits for that one.
    std::vector<std::function<void(bool)>> steps = std::exchange(afterRebuild_, {});
    for (std::function<void(bool)>& step : steps)
        step(finished);
}

void TCaptureSession::AfterRebuild(std::function<void(bool)> step)
{
    if (!step) return;
    if (!rebuilding_) {
        step(true);
        return;
    }
    afterRebuild_.push_back(std::move(step));
}

bool TCaptureSession::PreviewBuilt() const
{
    return cam_.Preview().PreviewBuilt();
}

void TCaptureSession::StopGraph()
{
    cam_.FilterGraph().StopGraph();
}

void TCaptureSession::enterPreview()
{
    state_ = StartPreview() ? CaptureState::csPreview : CaptureState::csIdle;
    emit stateChanged(state_);
}

void TCaptureSession::StopCapture()
{
    if (finishing_) return;
    const QString givenUp = giveUpPendingCut();
    // A capture that ended by itself (a full disk, a failed encoder) may
    // still be finishing its files: the preview waits for them as after a
    // stop by hand.
    if (!cam_.Capture().Capturing() && !cam_.Capture().CaptureFinishing()) {
        catchUpWithWriter();
        emit nameAfterCapture(givenUp.isEmpty() ? NextVideoName() : givenUp);
        enterPreview();
        return;
    }
    // A writer that splits at recordings may still open the next
    // recording's file with the frame it holds: the number after its last
    // file is known once it has finished.
    nameAtFinish_ = splitting_ && givenUp.isEmpty();
    if (!nameAtFinish_) emit nameAfterCapture(givenUp.isEmpty() ? NextVideoName() : givenUp);
    // The files are finished while the preview goes on showing the source;
    // the state stays the capture's until they are complete.
    setFinishing(true);
    cam_.Capture().BeginFinishCapture();
}

bool TCaptureSession::AdvanceNameAfterFinish()
{
    if (!finishing_ || !nameAtFinish_) return false;
    ++advancesAtFinish_;
    return true;
}

void TCaptureSession::captureFinished(const QString& lastFile)
{
    // The writer has opened its last file: the next names come after it,
    // also when the capture ended by itself and its stop is still to come.
    if (splitting_) useNumberOf(lastFile);
    if (!finishing_) return;
    // Neither finished flag nor state may say "capturing" once the preview
    // is built again, so the flag falls first and the state follows.
    finishing_ = false;
    splitting_ = false;
    if (std::exchange(nameAtFinish_, false)) {
        QString next = NextVideoName();
        for (; advancesAtFinish_ > 0; --advancesAtFinish_)
            next = NextVideoName();
        emit nameAfterCapture(next);
    }
    advancesAtFinish_ = 0;
    enterPreview();
    emit finishingChanged(false);
}

// ---------------------------------------------------------------------------
// Capture start

bool TCaptureSession::checkTarget(const QString& path)
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

bool TCaptureSession::StartCapture(const QString& path, CaptureState as)
{
    return startCapture(path, as, state_);
}

bool TCaptureSession::startCapture(const QString& path, CaptureState as, CaptureState before)
{
    if (finishing_ || path.isEmpty()) return false;
    if (rebuilding_) {
        // The MovieBox is not back yet: the whole start waits for it, the
        // checks and the options read from the panels included (they
        // depend on the source). The capture stands meanwhile.
        waitForRebuild(as, before,
                       [this, path, as, before] { return startCapture(path, as, before); });
        SetState(as);
        return true;
    }
    if (!checkTarget(path)) return false;
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    emit graphOptionsWanted();
    emit captureOptionsWanted();
    TgraphOptions graphOptions = cam_.Preview().Options();
    graphOptions.CaptureReport = choices_.CaptureReport;
    cam_.Preview().SetOptions(graphOptions);
    TcaptureOptions options = cam_.Capture().Options();
    options.FormatName = choices_.FormatName;
    cam_.Capture().SetCurrentVideoFileName(path);
    currentFile_ = path;
    // DV only: the builders of the other formats never read these.
    splitting_ = choices_.SplitAtRecording;
    options.SplitAtRecording = splitting_;
    splitName_ = splitting_ ? peekNextVideoName() : QString();
    options.SplitFileName = splitName_;
    options.DateNameRoot = choices_.NameByRecordingDate
                               ? QFileInfo(path).path() + u'/' + Naming().videoRacine
                               : QString();
    cam_.Capture().SetOptions(options);
    WriteLogSeparator();
    WriteLog(QStringLiteral("Start of capture into ") + path);
    if (!captureOnRebuiltGraph(as, before)) return false;
    SetState(as);
    return true;
}

bool TCaptureSession::captureOnRebuiltGraph(CaptureState as, CaptureState before)
{
    // Stopping the MovieBox's graph starts its rebuild: the capture is built
    // on the rebuilt graph once its source is back. The user asked for it,
    // so it stands meanwhile; a graph that cannot be built then gives the
    // state back.
    if (cam_.Source().Kind() == SourceKind::skMovieBoxB) cam_.FilterGraph().StopGraph();
    if (!rebuilding_) return buildCapture();
    // A step run before this one may have run the graph again: it is
    // stopped, and so rebuilt, once more.
    waitForRebuild(as, before, [this, as, before] { return captureOnRebuiltGraph(as, before); });
    return true;
}

void TCaptureSession::waitForRebuild(CaptureState as, CaptureState before,
                                     std::function<bool()> retry)
{
    // The counters are this capture's from now on, not the last one's.
    cam_.Capture().WrittenFrames().Reset();
    captureWaiting_ = true;
    AfterRebuild([this, as, before, retry = std::move(retry)](bool finished) {
        captureWaiting_ = false;
        // Stopped or given up meanwhile.
        if (state_ != as) return;
        if (!finished || !retry()) SetState(before);
    });
}

bool TCaptureSession::buildCapture()
{
    if (!cam_.Capture().BuildCaptureGraph()) return false;
    cam_.FilterGraph().SetVolume(volume_);
    return true;
}

// ---------------------------------------------------------------------------
// Names, cuts and splits

void TCaptureSession::fileSwitched(const QString& name)
{
    // A switch reported once the capture has ended changes nothing: the
    // window has moved on to the next capture's name.
    if (!cam_.Capture().Capturing()) return;
    if (!pendingCut_.isEmpty() && name == pendingCut_) {
        pendingCut_.clear();
        cutWait_->stop();
        currentFile_ = name;
        emit currentFileChanged(name);
    }
    followRecordingSplit(name);
}

void TCaptureSession::cutGivenUp(const QString& why)
{
    cutWait_->stop();
    const QString name = std::exchange(pendingCut_, QString());
    NamingState& n = Naming();
    // The number goes back unless another name was taken meanwhile.
    if (n.VideoCounter == counterAfterCut_ && n.VideoCounter > 0) --n.VideoCounter;
    const QString text = QStringLiteral("The cut into ") + QFileInfo(name).fileName() +
                         QStringLiteral(" was given up: ") + why +
                         QStringLiteral(". The capture goes on in ") +
                         QFileInfo(currentFile_).fileName() + u'.';
    WriteLog(text);
    emit statusText(text);
    emit videoNameShown(currentFile_);
}

void TCaptureSession::cutWaitOver()
{
    if (pendingCut_.isEmpty()) return;
    if (cam_.Capture().GiveUpCaptureSwitch()) {
        cutGivenUp(QStringLiteral("no picture came from the source"));
        return;
    }
    // A muxer writer past the point of no return completes (or fails) by
    // itself; a writer that has just moved on says so on its way here.
    if (cam_.Capture().CaptureSwitchBusy()) cutWait_->start();
}

QString TCaptureSession::giveUpPendingCut()
{
    if (pendingCut_.isEmpty()) return {};
    cutWait_->stop();
    const QString name = std::exchange(pendingCut_, QString());
    if (!cam_.Capture().GiveUpCaptureSwitch(true)) return {};
    // Never made: its number, already taken, is the next capture's.
    emit videoNameShown(name);
    return name;
}

QString TCaptureSession::NameAfterCapture()
{
    // The cut is given up before the writer is caught up with: that
    // finishes the capture, which would give the cut up in its own way.
    const QString givenUp = giveUpPendingCut();
    catchUpWithWriter();
    return givenUp.isEmpty() ? NextVideoName() : givenUp;
}

QString TCaptureSession::peekNextVideoName()
{
    NamingState& n = Naming();
    const QString next = NextVideoName(n);
    if (n.VideoCounter > 0) --n.VideoCounter;
    emit videoNameShown(currentFile_);
    return next;
}

void TCaptureSession::followRecordingSplit(const QString& name)
{
    if (name != currentFile_) {
        // Not a cut of ours (that one names the file itself): the tape's
        // next recording, in the next free numbered name.
        currentFile_ = name;
        emit currentFileChanged(name);
        useNumberOf(name);
    }
    if (splitting_) {
        splitName_ = peekNextVideoName();
        cam_.Capture().SetRecordingSplitName(splitName_);
    }
}

void TCaptureSession::useNumberOf(const QString& name)
{
    const QString stem = QFileInfo(name).completeBaseName();
    bool numbered = false;
    const int number = stem.mid(stem.lastIndexOf(u'_') + 1).toInt(&numbered);
    NamingState& n = Naming();
    if (numbered && number >= n.VideoCounter) n.VideoCounter = number + 1;
}

void TCaptureSession::catchUpWithWriter()
{
    if (!splitting_) return;
    splitting_ = false;
    // Only for a capture that has ended already (its source lost, its files
    // finished): the writer's moves into new recordings have all been told,
    // the graph's own name of its file included.
    useNumberOf(currentFile_);
    useNumberOf(cam_.Capture().CaptureFileName());
}

bool TCaptureSession::Cut()
{
    if (finishing_ || !cam_.Capture().Capturing() || cam_.Capture().CaptureSwitchBusy() ||
        !pendingCut_.isEmpty())
        return false;
    NamingState& n = Naming();
    QString next = NextVideoName(n);
    // The tape's next recording may take the split's pending name at any
    // frame, before the writer gets to the cut: the cut never draws it.
    if (splitting_ && next == splitName_) next = NextVideoName(n);
    // The labels keep the file being written until the writer moves on.
    emit videoNameShown(currentFile_);
    if (!checkTarget(next) || !cam_.Capture().SwitchCaptureFile(next)) {
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

std::optional<std::pair<qint64, qint64>> TCaptureSession::FrameCounters() const
{
    if (!cam_.Capture().Capturing()) return std::nullopt;
    return std::make_pair(static_cast<qint64>(cam_.Capture().CapturedFrames()),
                          static_cast<qint64>(cam_.Capture().LostFrames()));
}

} // namespace kad
