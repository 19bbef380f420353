#pragma once

// The device settings pop-up of the Sources panel: one entry per settings
// page the connected sources offer, and the video inputs as radio entries.

#include "graph/device_controls.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>

class QAction;
class QMenu;
class QWidget;

namespace kad {

class TdmCam;

class TSettingsMenu : public QObject {
    Q_OBJECT
public:
    // window: the parent of the pages it opens.
    TSettingsMenu(TdmCam& cam, QWidget* window, QObject* parent = nullptr);
    ~TSettingsMenu() override;

    // Empties menu and adds the entries of the connected devices; false when
    // there was none to add (the caller then says "[No settings]"). Building
    // never changes the device's routing.
    bool BuildSettingsMenu(QMenu* menu);
    void SettingsMenuClick(QAction* entry);
    void VideoInputClick(QAction* entry);
    // The sound source's pages ("Audio Capture Filter...", and "Audio
    // Capture Pin..." where it offers more than one format), opened or
    // brought forward; false when the sound source in the graph offers
    // neither, or none is there.
    bool OpenAudioSettings();

    // Builds and runs the preview again after a format change; true when it
    // runs. Without it the new format waits for the next build.
    std::function<bool()> RebuildPreview;

private:
    QWidget* openPage(int entry);
    QWidget* videoFormatPage(const QString& title);
    QWidget* crossbarPage();
    QWidget* tvAudioPage();
    QWidget* audioFormatPage();
    // Stops the graph, lets change() act on the stopped graph and builds
    // the preview again; the refusal text, empty when the change holds.
    void rememberSoundOf(const std::string& device);
    QString onStoppedGraph(const std::function<void()>& change, const std::function<void()>& undo);

    TdmCam& cam_;
    QWidget* window_;
    // One page per entry: a second click brings the open one forward.
    std::map<int, QPointer<QWidget>> pages_;
    // What was chosen for the video device, and for the sound device (each
    // build makes a new sound source element), by device name.
    std::string videoDevice_;
    CapsRef videoFormat_;
    std::shared_ptr<SoundSettings> sound_;
    std::string soundDevice_;
};

} // namespace kad
