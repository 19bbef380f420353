#pragma once

// The picture controls of the video source (brightness, contrast, ...), one
// row per control, applied to the device as they move.

#include "graph/device_controls.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class QLabel;

namespace kad {

class TDeviceControlsDialog : public QDialog {
    Q_OBJECT
public:
    TDeviceControlsDialog(std::unique_ptr<DeviceControls> controls, QWidget* parent);

    // Puts every control back to the device's default and the rows with it.
    void ResetToDefaults();
    // The last refusal of the device, empty when it took every change.
    QString Refusal() const;

private:
    void apply(const V4l2Control& control, int value);
    void showRefusal(const V4l2Refusal& refusal);
    void reload();

    std::unique_ptr<DeviceControls> controls_;
    // Sets a row's widget to the device's value without applying it again.
    std::vector<std::function<void()>> reloaders_;
    QLabel* refusal_ = nullptr;
};

} // namespace kad
