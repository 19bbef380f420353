#pragma once

// The device settings pop-up of the Sources panel: one entry per settings
// page the connected source offers, and its video inputs as radio entries.

#include <QObject>
#include <QPointer>

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

    // Empties menu and adds the entries of the connected devices; false when
    // there was none to add (the caller then says "[No settings]"). Building
    // never changes the device's routing.
    bool BuildSettingsMenu(QMenu* menu);
    void SettingsMenuClick(QAction* entry);
    void VideoInputClick(QAction* entry);

private:
    TdmCam& cam_;
    QWidget* window_;
    QPointer<QWidget> controlsDialog_;
};

} // namespace kad
