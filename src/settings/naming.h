#pragma once

// Names of the files a run produces: the next video file and the next image
// file, built from the folders panel's settings, the run's start-up time and
// two counters that start at 0 on every run.

#include <QString>

#include <functional>

#include "system/capture_format.h"
#include "system/sysinfo.h" // StartupTime, SetStartupTime, DateTimeStamp

namespace kad {

// What the folders panel, the format choice and the options panel hold for
// naming. Folders may end with "/" or not; the builders add one when missing.
struct NamingState {
    QString videoDirectory;                              // "Video Directory"
    QString videoRacine = QStringLiteral("Video");       // "Video Racine"
    bool videoDate = true;                               // "Video Date"
    QString imageDirectory;                              // "Image Directory"
    QString imageRacine = QStringLiteral("Image");       // "Image Racine"
    bool imageDate = false;                              // "Image date"
    int VideoCounter = 0;                                // number of the next video name
    int ImageCounter = 0;                                // number of the next image name
    CaptureFormat captureFormat = CaptureFormat::cfNone; // decides the extension
    int imageExtension = 0;                              // "Extension des images": 0 bmp, 1 jpeg
};

// The run's naming state (one per process, GUI thread only).
NamingState& Naming();

// Called with the file-name part (after the last "/") of every name built, so
// the panels can show it in their labels. An empty function disconnects.
using NameShownHook = std::function<void(const QString& fileName)>;
void SetVideoNameShown(NameShownHook hook);
void SetImageNameShown(NameShownHook hook);

// Builds the next video name and adds 1 to VideoCounter:
// folder/root_DDMMYY_HHNNSS_n.avi (the date part only with videoDate), with
// ".mpg" for the program-stream format of MPEG-2 sources and ".wmv" for the
// Windows Media entry of the format list.
QString NextVideoName(NamingState& state);
QString NextVideoName();
// Builds the next image name and adds 1 to ImageCounter:
// folder/root_DDMMYY_HHNNSS_nnnn.bmp or .jpg (four digits, the last four
// from 10000 on).
QString NextImageName(NamingState& state);
QString NextImageName();

// Rebuild the name after a change of folder, root, date switch, format or
// image type without using up a number: counter - 1, then build.
QString RebuildVideoName(NamingState& state);
QString RebuildVideoName();
QString RebuildImageName(NamingState& state);
QString RebuildImageName();

// The part of `path` after its last "/".
QString FileNamePart(const QString& path);

} // namespace kad
