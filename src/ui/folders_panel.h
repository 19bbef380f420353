#pragma once

// The Folders panel (panel 1, Alt+D): where videos and images go and how
// their files are named, and the path of the clip viewer.
//
// Folder fields take a folder only from the folder browser, never typed
// text. Every change of folder, root or date switch rebuilds the next name
// without using up a number, through the run's naming state
// (settings/naming.h), and reports the new full name so the main window
// keeps the session's next video name and NextImageFileName.

#include <QWidget>

#include <functional>

#include "settings/naming.h"
#include "ui/panel_controls_widget.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QToolButton;

namespace kad {

class TDossiersFrame : public QWidget {
    Q_OBJECT
public:
    // Returns the chosen path, or an empty text when the user cancelled.
    using PathChooser =
        std::function<QString(QWidget* parent, const QString& caption, const QString& start)>;

    explicit TDossiersFrame(QWidget* parent = nullptr);

    // The panel's texts from the string table; the constructor and the main
    // window's text pass run it. The fields keep what they hold.
    Q_INVOKABLE void ApplyTexts();

    // The folder browser (QFileDialog::getExistingDirectory by default) and
    // the viewer's file chooser (QFileDialog::getOpenFileName by default).
    void setFolderChooser(PathChooser chooser);
    void setFileChooser(PathChooser chooser);
    // The naming state the handlers rebuild names in (Naming() by default).
    void setNamingState(NamingState* state);

    // Opens the folder browser for the video or image folder; a chosen
    // folder goes into the field, whose change handler then runs.
    void ChooseVideoFolder();
    void ChooseImageFolder();
    void ChooseFerrovue();

    // Asks the desktop to open the "Video Directory" / "Image Directory".
    void OpenVideoFolder() const;
    void OpenImageFolder() const;

    // The file-name parts of the next names (what NextVideoName and
    // NextImageName show).
    void ShowVideoName(const QString& fileName);
    void ShowImageName(const QString& fileName);

    // Controls, under their long-standing names.
    QGroupBox* GroupBox1 = nullptr; // "Directories (Alt+D)"
    QGroupBox* gbFichier = nullptr; // "Video Files"
    TClickLabel* LabelVideo = nullptr;
    QToolButton* sbVideo = nullptr;
    QLineEdit* VideoDirEdit = nullptr;
    QLineEdit* VideoRacineEdit = nullptr;
    QCheckBox* cbVideoDate = nullptr;
    QGroupBox* gbFichierImages = nullptr; // "Image Files"
    TClickLabel* LabelImage = nullptr;
    QToolButton* sbImage = nullptr;
    QLineEdit* ImageDirEdit = nullptr;
    QLineEdit* ImageRacineEdit = nullptr;
    QCheckBox* cbImageDate = nullptr;
    QGroupBox* GroupBox2 = nullptr; // "Ferrovue"
    QLineEdit* feFerrovue = nullptr;

signals:
    // "Video Directory" / "Image Directory" take the new folder; the free
    // space shown for the video target changes with it.
    void videoDirectoryChanged(const QString& folder);
    void imageDirectoryChanged(const QString& folder);
    // The full path the next (or running) capture writes, after a rebuild.
    void currentVideoFileNameChanged(const QString& path);
    // The full path the next grab writes, after a rebuild.
    void nextImageFileNameChanged(const QString& path);
    // "Ferrovue" takes the viewer path.
    void ferrovuePathChanged(const QString& path);
    // LabelVideo clicked: acSourcesFrame. LabelImage clicked: acExtraireFrame.
    void sourcesPanelRequested();
    void grabPanelRequested();

private:
    void VideoDirEditChange();
    void ImageDirEditChange();
    void rebuildVideo();
    void rebuildImage();

    PathChooser folderChooser_;
    PathChooser fileChooser_;
    NamingState* naming_ = nullptr;
};

} // namespace kad
