#pragma once

// The camcorder control window: a small floating window with the tape
// transport buttons, the tape's timecode and the "Stop when quit" switch.
// Its actions carry the window's own keys; the main window's camera actions
// trigger them. The window only asks (commandRequested); whoever holds the
// camcorder's transport sends the command.

#include <QWidget>

#include "platform/media/cam_transport.h"

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

    // The window's texts from the string table; the constructor runs it and
    // the text pass runs it again after the table changed.
    Q_INVOKABLE void ApplyTexts();

    // Caption "Drive the camcorder: " + the source's description.
    void SetSourceDescription(const QString& description);
    // The frame action that sends a command.
    QAction* CommandAction(CamCommand command) const;
    // The tape timecode as the camcorder reported it (BCD).
    void ShowTimecode(quint32 bcd);

    Tnav_captureframe* nav_captureframe1 = nullptr;
    QLabel* TimecodePanel = nullptr;
    QCheckBox* cbStopQuittant = nullptr;

signals:
    void commandRequested(kad::CamCommand command);

private:
    // Until a camcorder is chosen the caption is the window's own; then it is
    // built on the description.
    bool described_ = false;
    QString sourceDescription_;
};

} // namespace kad
