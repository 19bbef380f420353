#pragma once

// The Grab panel (panel 3, Alt+G): the thumbnail of the last stored image,
// the intervalometer's controls and the name of the next image.

#include <QImage>
#include <QWidget>

#include "ui/panel_controls_widget.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace kad {

class TExtraireFrame : public QWidget {
    Q_OBJECT
public:
    explicit TExtraireFrame(QWidget* parent = nullptr);

    // The panel's texts from the string table; the constructor and the main
    // window's text pass run it.
    Q_INVOKABLE void ApplyTexts();

    // Shows `stored` in the thumbnail box (ThumbnailRect of stills.h);
    // Bevel3 takes the same bounds.
    void ShowThumbnail(const QImage& stored);
    // The file-name part of the next image.
    void ShowImageName(const QString& fileName);

    // Controls, under their long-standing names.
    QGroupBox* GroupBox2 = nullptr; // "Grab images (F5)"
    QLabel* Image = nullptr;
    QFrame* Bevel3 = nullptr;
    QGroupBox* gbIntervallo = nullptr; // "Intervalometer"
    QPushButton* RxSwitch1 = nullptr;
    QSpinBox* RxSpinEdit7 = nullptr;
    QComboBox* cbUnites = nullptr;
    QCheckBox* cbBeeps = nullptr;
    QLabel* chronoLab = nullptr;
    QGroupBox* GroupBox1 = nullptr; // "Next image"
    TClickLabel* destlabel = nullptr;

signals:
    // RxSwitch1 clicked: the intervalometer is now on or off.
    void intervalometerSwitched(bool on);
    // destlabel clicked: acDossiersFrame.
    void foldersPanelRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace kad
