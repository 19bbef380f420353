#pragma once

#include <QMainWindow>

namespace kad {

// The main window: the preview, the capture states, the tool bars, the status
// bar and the option panels.
class TCaptureForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TCaptureForm(QWidget* parent = nullptr);
};

} // namespace kad
