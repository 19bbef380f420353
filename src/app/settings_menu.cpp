#include "app/settings_menu.h"

#include "app/device_controls_dialog.h"
#include "graph/crossbar.h"
#include "graph/device_controls.h"
#include "graph/dm_cam.h"
#include "system/dialogs.h"
#include "system/log.h"

#include <QActionGroup>
#include <QMenu>

namespace kad {

namespace {

// What an entry opens, kept in the entry's data.
enum SettingsEntry { VideoCaptureFilter = 4 };

} // namespace

TSettingsMenu::TSettingsMenu(TdmCam& cam, QWidget* window, QObject* parent)
    : QObject(parent), cam_(cam), window_(window)
{
}

bool TSettingsMenu::BuildSettingsMenu(QMenu* menu)
{
    // The inputs sub-menu is the menu's child, which clear() leaves behind.
    for (QMenu* old : menu->findChildren<QMenu*>(QStringLiteral("VideoInputMenu")))
        old->deleteLater();
    menu->clear();
    GstElement* source = cam_.VideoSource.Element();
    if (!source) return false;

    if (DeviceControlsOf(source)) {
        QAction* entry = menu->addAction(tr("Video Capture Filter..."));
        entry->setData(VideoCaptureFilter);
        connect(entry, &QAction::triggered, this, [this, entry] { SettingsMenuClick(entry); });
    }

    TCrossbar* crossbar = cam_.VideoCrossbar.get();
    if (crossbar && cam_.VideoInputCount > 0 && crossbar->RouteCount() > 0) {
        menu->addSeparator();
        QMenu* inputs = menu->addMenu(tr("Video Input"));
        inputs->setObjectName(QStringLiteral("VideoInputMenu"));
        auto* group = new QActionGroup(inputs);
        // The input in use as the device tells it; failing that, the one
        // Kadrillo last chose; and only for a device never routed, the tuner
        // input it is then routed to.
        std::optional<int> checked = crossbar->RouteInUse();
        if (!checked && crossbar->Routed()) checked = crossbar->CurrentRoute();
        if (!checked) {
            checked = crossbar->PreferredRoute();
            if (checked && !crossbar->ApplyRoute(*checked))
                WriteLog(QStringLiteral("The video input could not be selected"));
        }
        for (int i = 0; i < crossbar->RouteCount(); ++i) {
            QAction* entry = inputs->addAction(crossbar->RouteInputName(i).value_or(QString()));
            entry->setCheckable(true);
            entry->setData(i);
            entry->setChecked(checked == i);
            group->addAction(entry);
            connect(entry, &QAction::triggered, this, [this, entry] { VideoInputClick(entry); });
        }
    }
    return !menu->isEmpty();
}

void TSettingsMenu::SettingsMenuClick(QAction* entry)
{
    if (!entry || entry->data().toInt() != VideoCaptureFilter) return;
    // One page per device: a second click brings the open one forward.
    if (controlsDialog_) {
        controlsDialog_->raise();
        controlsDialog_->activateWindow();
        return;
    }
    auto controls = DeviceControlsOf(cam_.VideoSource.Element());
    if (!controls) return;
    auto* dialog = new TDeviceControlsDialog(std::move(controls), window_);
    dialog->setWindowTitle(tr("Video Capture Filter"));
    controlsDialog_ = dialog;
    dialog->show();
}

void TSettingsMenu::VideoInputClick(QAction* entry)
{
    TCrossbar* crossbar = cam_.VideoCrossbar.get();
    if (!entry || !crossbar) return;
    const int route = entry->data().toInt();
    if (crossbar->ApplyRoute(route)) {
        entry->setChecked(true);
        return;
    }
    // A refused route leaves the entry of the input still in use checked.
    const QString text = tr("The device refused the video input \"%1\".").arg(entry->text());
    WriteLog(text);
    dialogs().warning(text);
    const auto inUse = crossbar->RouteInUse();
    entry->setChecked(inUse == route);
    if (auto* group = entry->actionGroup(); group && inUse) {
        for (QAction* sibling : group->actions())
            if (sibling->data().toInt() == *inUse) sibling->setChecked(true);
    }
}

} // namespace kad
