#pragma once

// The main window's action list `al`: every command of the window, in list
// order, with its category, caption, hint, shortcuts, check behaviour and
// image. Buttons, tool buttons, menu items and keys only trigger actions.

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

#include "system/texts.h"

class QAction;

namespace kad {

enum class ActionId : int {
    acGrab,
    acfullscreen,
    acMute,
    acOptionsFrame,
    acDossiersFrame,
    acProgrammerFrame,
    acExtraireFrame,
    acIncrusterFrame,
    acIncruster,
    acQuitter,
    acApropos,
    acCapturer,
    acCouper,
    acProgrammer,
    acJpgOption,
    acBmpOption,
    acDesentrelacer,
    acVMRKeepratio,
    acBasculerPanneau,
    acNextPanneau,
    acHelp,
    acSauverPrefs,
    acReduire,
    acSourcesFrame,
    acStopCapture,
    acStopProg,
    camPlay,
    camPause,
    camStop,
    camAvanceLent,
    camAvanceRapide,
    camReculeLent,
    camReculeRapide,
    acCapturerBascule,
    acStopIncruster,
    acStartIncruster,
    acEcouterAudioInclus,
    acEnregistrerAudioSource,
    acShowPilotDV,
    acAllowIncrust,
    acFlip,
    acLog,
    acFixerAudio,
    acFerrovue,
    acOuvrirDossierVideos,
    Count_
};

inline constexpr int kActionCount = static_cast<int>(ActionId::Count_);
inline constexpr TextId kNoText = TextId::Count_;

// How an action's checked state changes: not at all, by itself before its
// handler runs, or by its handler.
enum class CheckMode { None, Auto, Handler };

struct ActionRow {
    ActionId id;
    const char* name;
    TextId category;
    TextId caption;
    TextId hint;
    int shortcut;                    // toolkit code, 0 = none
    std::array<TextId, 1> secondary; // kNoText = none
    CheckMode check;
    bool visible;
    bool enabled;
    int image; // image-list index, -1 = none
};

// The 45 actions in list order.
const std::array<ActionRow, kActionCount>& ActionTable();
const ActionRow& ActionInfo(ActionId id);

// Properties every action of the window carries besides its Qt texts.
inline constexpr const char* kCategoryProperty = "kadCategory";
inline constexpr const char* kShortcutProperty = "kadShortcut";   // int code
inline constexpr const char* kSecondaryProperty = "kadSecondary"; // QStringList
inline constexpr const char* kImageProperty = "kadImage";         // int

// The Help panel's two shortcut lists, lines "caption=shortcut (secondary)".
struct HelpLists {
    // Every category but "camera" and "frame", sorted, then "frame", sorted.
    QStringList Shortcuts;
    // "camera", sorted.
    QStringList Camcorder;
};

// Builds both lists from the actions in list order: an action takes part
// when it is visible, has a caption and a primary shortcut text.
HelpLists BuildHelpLists(const QList<QAction*>& actions);

} // namespace kad
