#include "app/capture_control.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>

#include "app/capture_form.h"
#include "app/source_selection.h"
#include "graph/dm_cam.h"
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

TCaptureControl::TCaptureControl(TProgramParts& parts, TSourceSelection& sources, QObject* parent)
    : QObject(parent), p_(parts), sources_(sources)
{
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
    cam.CurrentVideoFileName = path;
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
    if (!cam.Capturing() || cam.CaptureSwitchBusy()) return false;
    NamingState& n = Naming();
    const QString next = NextVideoName(n);
    const auto giveBack = [&] {
        // The name was not used: the next cut or stop offers it again.
        if (n.VideoCounter > 0) --n.VideoCounter;
        sources_.ShowVideoName(f.CurrentVideoFileName);
    };
    if (!checkTarget(next) || !cam.SwitchCaptureFile(next)) {
        giveBack();
        return false;
    }
    f.CurrentVideoFileName = next;
    sources_.ShowVideoName(next);
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
