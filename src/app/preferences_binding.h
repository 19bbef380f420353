#pragma once

// Copying the preferences into the window's controls at start-up
// (ApplyPreferences) and the controls back into the preferences at exit or
// on request (GatherPreferences), each in its fixed order, and the live
// links that keep a few preferences equal to their controls while the
// program runs (folders, confirmation, viewer path, active panel).
//
// GUI thread only.

#include <QObject>

#include <functional>

#include "app/program_parts.h"

namespace kad {

class TSourceSelection;

class TPreferencesBinding : public QObject {
    Q_OBJECT
public:
    TPreferencesBinding(TProgramParts& parts, TSourceSelection& sources, QObject* parent = nullptr);

    // Connects the panels' change signals that update preferences at once.
    void Bind();

    // Loads the preferences and applies them to the panels, the window and
    // the source in 25 stages; an error ends the sequence silently at the
    // failing stage. Stage 13 connects the video source, which ends later:
    // the stages after it run then, and then done (also after an error).
    // Returns how many stages completed by the time it returns.
    int ApplyPreferences(std::function<void()> done = {});
    // Copies the controls into the preferences (an error ends the copying) and saves them in every
    // case. Returns whether the hive was written.
    bool GatherPreferences();

    // At start-up, after the preferences: "masquer réglages audio" and the
    // audio group height.
    void AdjustAudioGroup();

    // The log switch: acLog's work (start or stop, the source list, the
    // system report).
    void acLogExecute(bool checked);

private:
    // The Windows Media version and profile the Settings panel shows, into
    // the capture settings (the entry's number depends on the machine's
    // profiles, so it is taken from the panel).
    void takeProfileChoice();
    // ApplyPreferences' stages after the source's connection; how many
    // stages completed in all.
    int applyAfterSource();

    TProgramParts& p_;
    TSourceSelection& sources_;
};

} // namespace kad
