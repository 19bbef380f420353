#pragma once

// The Inlay panel (panel 4, Alt+I): whether inlays are allowed, manual or
// automatic mode and its duration, the computer's clock or the DV datecode
// with an hour offset, the date format, the font, and the inlay button.
// Without the companion inlay filters the controls give way to a note on
// how to install them.

#include <QWidget>

#include "ui/panel_controls_widget.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QToolButton;

namespace kad {

class TIncrusterFrame : public QWidget {
    Q_OBJECT
public:
    explicit TIncrusterFrame(QWidget* parent = nullptr);

    // The panel's texts from the string table; the constructor and the main
    // window's text pass run it. Choices, the format and a bound button
    // keep their state.
    Q_INVOKABLE void ApplyTexts();

    // Panel adaptation: the note and link instead of the controls when the
    // inlay filters are missing; otherwise the controls, "DV datecode"
    // offered only for a DV source (the previous choice kept when it still
    // exists), the duration only in Auto mode, the hour offset only for the
    // datecode.
    void AdaptPanel(bool inlayFiltersAvailable, bool sourceIsDV);
    // "If you want to enable the datetime inlays ..." with the program's
    // name.
    static QString InstallNote();
    // rgMode's and rgChoix's click handlers, run as if the user had clicked
    // the selected item (start-up applies the stored choices this way).
    void rgModeClick();
    void rgChoixClick();

    // Controls, under their long-standing names.
    QGroupBox* GroupBox1 = nullptr; // "Inlay (Alt+I)"
    QCheckBox* cbAllowIncrust = nullptr;
    TRadioGroup* rgMode = nullptr;
    QGroupBox* gbDuree = nullptr;
    QLabel* Label2 = nullptr;
    QSpinBox* RxSpinEdit1 = nullptr;
    TRadioGroup* rgChoix = nullptr;
    QGroupBox* gbDecalage = nullptr;
    QLabel* Label1 = nullptr;
    QSpinBox* RxSpinEdit2 = nullptr;
    QLabel* LabelFormat = nullptr;
    QLineEdit* edFormat = nullptr;
    // The format applied to the moment it last changed, as the overlay
    // draws it.
    QLabel* LabelExample = nullptr;
    QGroupBox* gbPolice = nullptr;
    QToolButton* SpeedButton4 = nullptr;
    QLabel* Label7 = nullptr;
    QCheckBox* cbAutoFontSize = nullptr;
    // Bound to acIncruster.
    QToolButton* IncrusterBtn = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    TLinkLabel* LnkUrlLabel1 = nullptr;

private:
    void showExample(const QString& format);

    // The filters were found missing: the note and its link show.
    bool filtersMissing_ = false;

signals:
    // cbAllowIncrust clicked (acAllowIncrust).
    void allowIncrustClicked(bool checked);
    // rgMode / rgChoix clicked.
    void modeClicked(int index);
    void choiceClicked(int index);
    // RxSpinEdit1 (duration), RxSpinEdit2 (hour offset), edFormat changed.
    void durationChanged(int seconds);
    void hourOffsetChanged(int hours);
    void formatChanged(const QString& format);
    // SpeedButton4: choose the inlay font.
    void fontRequested();
    // cbAutoFontSize clicked.
    void autoFontSizeClicked(bool checked);
};

} // namespace kad
