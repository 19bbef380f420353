#pragma once

// The TV tuner page: the video standard (applied when chosen) and the
// frequency in MHz (applied by "Tune"). A refusal of the device is said and
// the page shows again what the device kept.

#include "platform/media/v4l2_controls.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QDoubleSpinBox;

namespace kad {

class TTvTunerDialog : public QDialog {
    Q_OBJECT
public:
    TTvTunerDialog(std::unique_ptr<V4l2Ioctl> port, QWidget* parent);

    // As the user does: picks the standard at index of the list, tunes to mhz.
    bool ChooseStandard(int index);
    bool Tune(double mhz);

private:
    bool said(const V4l2Refusal& refusal);
    void reload();

    std::unique_ptr<V4l2Ioctl> port_;
    V4l2Controls device_;
    std::vector<V4l2Standard> standards_;
    QComboBox* standard_ = nullptr;
    QDoubleSpinBox* frequency_ = nullptr;
};

} // namespace kad
