#pragma once

// What the pieces of the assembled program share: the main window, the data
// module, the panels, the preferences and the device lists. TProgram owns
// every object named here; the source selection, the capture control and the
// preferences binding only hold a reference to this record.
//
// GUI thread only.

#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

#include "session/capture_settings.h"
#include "session/moviebox_step.h"
#include "system/devices/video_sources.h"

namespace kad {

class Preferences;
class TAproposFrame;
class TCaptureForm;
class TDossiersFrame;
class TErreurFrame;
class TExtraireFrame;
class THelpFrame;
class TIncrusterFrame;
class TOptionsFrame;
class TProgrammerFrame;
class TSourcesFrame;
class TamorcerForm;
class TcamForm;
class TdmCam;
class TCaptureSession;

struct TProgramParts {
    TCaptureForm* Form = nullptr;
    TdmCam* Cam = nullptr;
    // The headless capture session (it names the next capture's file).
    TCaptureSession* Session = nullptr;
    // Created with the window and loaded by ApplyPreferences.
    Preferences* Prefs = nullptr;

    TSourcesFrame* SourcesFrame = nullptr;
    TDossiersFrame* DossiersFrame1 = nullptr;
    TProgrammerFrame* ProgrammerFrame1 = nullptr;
    TExtraireFrame* ExtraireFrame1 = nullptr;
    TIncrusterFrame* IncrusterFrame1 = nullptr;
    TOptionsFrame* OptionsFrame = nullptr;
    THelpFrame* HelpFrame1 = nullptr;
    TAproposFrame* AproposFrame1 = nullptr;
    TErreurFrame* ErreurFrame1 = nullptr;
    // Top-level windows of their own, owned by TProgram.
    TcamForm* camForm = nullptr;
    TamorcerForm* amorcerForm = nullptr;

    // The video devices seen since start, and the entries the video combo
    // shows, item for item.
    TvideoSourceList VideoSources;
    TvideoItems VideoItems;
    // The audio devices of the audio combo.
    QStringList AudioItems;

    // Wakes the MovieBox on its first connection since start, the last
    // refresh or the last device loss.
    TMovieBoxStep MovieBox;

    // The file the next grab writes.
    QString NextImageFileName;

    // The capture choices of the panels, kept current by their change
    // signals; the graph's and the capture's options and the grabs read
    // them from here.
    TCaptureSettings Settings;
};

} // namespace kad
