#pragma once

// The Schedule panel (panel 2, Alt+P): the computer's clock, the start and
// end of a scheduled capture, and the buttons that arm and disarm it.

#include <QDateTime>
#include <QWidget>

class QDateEdit;
class QGroupBox;
class QLabel;
class QSpinBox;
class QTimer;
class QToolButton;

namespace kad {

class TProgrammerFrame : public QWidget {
    Q_OBJECT
public:
    explicit TProgrammerFrame(QWidget* parent = nullptr);

    // The panel's texts from the string table; the constructor and the main
    // window's text pass run it.
    Q_INVOKABLE void ApplyTexts();

    // Start fields := now + 1 minute, end fields := now + 31 minutes (hours
    // and minutes, seconds 0), each with the date of that moment.
    void Preset(const QDateTime& now);
    // The moments the fields hold.
    QDateTime StartMoment() const;
    QDateTime EndMoment() const;
    // NowBtn: the end takes the start's date, hours, minutes and seconds.
    void NowBtnClick();

    // Controls, under their long-standing names.
    QGroupBox* gbProgrammer = nullptr; // "Schedule (Alt+P)"
    QLabel* RxClock2 = nullptr;
    QGroupBox* gbDebut = nullptr; // "Start"
    QDateEdit* DateEdit1 = nullptr;
    QSpinBox* RxSpinEdit1 = nullptr; // hours
    QSpinBox* RxSpinEdit2 = nullptr; // minutes
    QSpinBox* RxSpinEdit3 = nullptr; // seconds
    QGroupBox* gbFin = nullptr;      // "End"
    QDateEdit* DateEdit2 = nullptr;
    QSpinBox* RxSpinEdit4 = nullptr;
    QSpinBox* RxSpinEdit5 = nullptr;
    QSpinBox* RxSpinEdit6 = nullptr;
    QToolButton* NowBtn = nullptr;
    // Bound to acProgrammer and acStopProg; only one of them shows.
    QToolButton* ProgBtn = nullptr;
    QToolButton* StopprogBtn = nullptr;

signals:
    // A start or end time field changed (hours, minutes or seconds).
    void startTimeChanged();
    void endTimeChanged();
    // NowBtn copied the start into the end.
    void nowClicked();
    // The clock's once-a-second update, with the time it shows.
    void clockTick(const QTime& now);
    // The panel was shown.
    void shown();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateClock();

    QTimer* clock_ = nullptr;
};

} // namespace kad
