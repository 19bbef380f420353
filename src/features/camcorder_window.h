#pragma once

// The camcorder control window: a small floating window with the tape
// transport buttons, the tape's timecode and the "Stop when quit" switch.
// Its actions carry the window's own keys; the main window's camera actions
// trigger them.

#include <QWidget>

class QAction;
class QCheckBox;
class QLabel;
class QToolButton;

namespace kad {

// The transport bar: Play, Pause, Stop and four wind buttons, each bound to
// an action of the bar.
class Tnav_captureframe : public QWidget {
    Q_OBJECT
public:
    explicit Tnav_captureframe(QWidget* parent = nullptr);

    QAction* PlayAction = nullptr;         // Insert, Shift+Space
    QAction* PauseAction = nullptr;        // Delete
    QAction* StopAction = nullptr;         // End
    QAction* AvanceLentAction = nullptr;   // Right
    QAction* AvanceRapideAction = nullptr; // Up
    QAction* ReculeLentAction = nullptr;   // Left
    QAction* ReculeRapideAction = nullptr; // Down

    QToolButton* PlayBtn = nullptr;
    QToolButton* PauseBtn = nullptr;
    QToolButton* StopBtn = nullptr;
    QToolButton* ReculeRapideBtn = nullptr;
    QToolButton* ReculeLentBtn = nullptr;
    QToolButton* AvanceLentBtn = nullptr;
    QToolButton* AvanceRapideBtn = nullptr;
};

class TcamForm : public QWidget {
    Q_OBJECT
public:
    explicit TcamForm(QWidget* parent = nullptr);

    // Caption "Drive the camcorder: " + the source's description.
    void SetSourceDescription(const QString& description);

    Tnav_captureframe* nav_captureframe1 = nullptr;
    QLabel* TimecodePanel = nullptr;
    QCheckBox* cbStopQuittant = nullptr;
};

} // namespace kad
