#pragma once

// The Settings panel (panel 5, F10): still-image type and JPEG quality, the
// replace confirmation, saving and deleting the preferences, the
// deinterlacer and inlay switches, and the choice of the Windows Media
// profile (the program's own levels on the Sources panel, or a system
// profile of a chosen Windows Media version).

#include <QWidget>

#include "settings/naming.h"
#include "settings/wm_profiles.h"
#include "system/capture_format.h"
#include "ui/panel_controls_widget.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QSlider;
class QToolButton;

namespace kad {

class TSourcesFrame;

class TOptionsFrame : public QWidget {
    Q_OBJECT
public:
    explicit TOptionsFrame(QWidget* parent = nullptr);

    // The Sources panel whose rgProfiles, Label1 and pmProfiles follow the
    // profile choice made here.
    void setSourcesFrame(TSourcesFrame* sources);
    // The naming state the image type change rebuilds the image name in
    // (Naming() by default).
    void setNamingState(NamingState* state);
    // Where the system profiles come from: Kadrillo's profile table by
    // default; null when Windows Media capture is not available, which
    // leaves only "Use the default profiles". Refills the list.
    void setProfileTable(const WmProfileTable* table);
    // The registry hive the preferences are deleted from (the user's by
    // default).
    void setHiveFile(const QString& hiveFile) { hiveFile_ = hiveFile; }

    // The panel's texts from the string table, applied by the constructor
    // and again by the window's text pass. Items are reworded in place, so
    // the choices made stay.
    Q_INVOKABLE void ApplyTexts();

    // rgExtension picked (also acJpgOption / acBmpOption): 0 bmp, 1 jpeg.
    // Shows the quality group only for jpeg, rebuilds the next image name
    // with the same number and signals extensionChanged.
    void SelectExtension(int index);

    // "Save the preferences now": savePreferencesRequested (the window
    // gathers and saves), then cbPrefsQuittant is unchecked so later changes
    // are not saved at exit. acSauverPrefs runs this too.
    void SavePreferencesNow();
    // "Delete the preferences": asks, deletes the key and reports; when the
    // key was deleted cbPrefsQuittant is unchecked so quitting does not
    // write it again.
    void DeletePreferencesNow();

    // Rebuilds cboxMedia: "Use the default profiles", then one entry per
    // system profile of the rgversion version; entry 0 is selected.
    void RefillProfiles();
    // Selects the entry whose text equals `text` (ignoring case), else the
    // first entry; sets the box's text to it.
    void SelectProfile(const QString& text);
    // The selected cboxMedia entry: 0 the default profiles, i >= 1 system
    // profile i - 1, -1 none.
    int ChosenProfileEntry() const;

    // The capture format in use, which decides whether the profile controls
    // of the Sources panel show.
    void SetCaptureFormat(CaptureFormat format);
    // Shows rgProfiles (default profiles) or Label1 (a system profile) on
    // the Sources panel while Windows Media is the capture format, neither
    // otherwise.
    void OptionsframecboxdivxChange();
    // Fills `menu` with one item per cboxMedia entry each time it opens; a
    // pick selects that entry (pmProfilesPopup, capsetItem).
    void AttachProfilesMenu(QMenu* menu);

    // Controls, under their long-standing names.
    QGroupBox* GroupBox1 = nullptr; // "Settings (F10)"
    TRadioGroup* rgExtension = nullptr;
    QGroupBox* gbQuality = nullptr; // "Jpeg quality"
    QSlider* TrackBar1 = nullptr;
    QLabel* labQuality = nullptr;
    QCheckBox* cbConfirmer = nullptr;
    QGroupBox* gbPrefs = nullptr; // "Preferences"
    QToolButton* SpeedButton1 = nullptr;
    TClickLabel* LabelSauverNow = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    TClickLabel* LabelEffacerPrefs = nullptr;
    QCheckBox* cbPrefsQuittant = nullptr;
    QCheckBox* cbDeinterlacer = nullptr;
    QCheckBox* cbAllowIncrust = nullptr;
    QCheckBox* cbCaptureReport = nullptr;
    QCheckBox* cbSplitRecordings = nullptr;
    QCheckBox* cbNameByDate = nullptr;
    QGroupBox* gbCodecs = nullptr;
    QLabel* Label1 = nullptr;
    TRadioGroup* rgversion = nullptr;
    QComboBox* cboxMedia = nullptr;

signals:
    // The next image file after a change of image type (NextImageFileName).
    void nextImageFileNameChanged(const QString& path);
    // The image type shown changed, picked on rgExtension or set by
    // SelectExtension (Ctrl+J / Ctrl+B, the preferences): "Extension des
    // images".
    void extensionChanged(int index);
    // cbConfirmer clicked: "Confirmer" takes the state at once.
    void confirmerChanged(bool confirm);
    // Gather the controls and save the preferences now.
    void savePreferencesRequested();
    // cbDeinterlacer clicked (acDesentrelacer).
    void deinterlacerClicked(bool checked);
    // cbAllowIncrust clicked (acAllowIncrust).
    void allowIncrustClicked(bool checked);
    // cbCaptureReport clicked: "Capture report" takes the state at once.
    void captureReportChanged(bool write);
    // cbSplitRecordings clicked: "Split at recording" takes the state at once.
    void splitRecordingsChanged(bool split);
    // cbNameByDate clicked: "Name by recording date" takes the state at once.
    void nameByDateChanged(bool byDate);
    // cboxMedia or rgversion changed the chosen profile.
    void profileChoiceChanged(int entry);

private:
    TSourcesFrame* sources_ = nullptr;
    NamingState* naming_ = nullptr;
    const WmProfileTable* table_ = nullptr;
    QString hiveFile_;
    CaptureFormat format_ = CaptureFormat::cfNone;
};

} // namespace kad
