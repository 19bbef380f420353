#pragma once

// When the MovieBox USB (model B) is woken, and what happens around it.
//
// The box delivers nothing until its vendor's software has started it, so
// the first time it is connected in a run the instructions window is shown
// with the priming dialog over it. The dialog never blocks: Connected()
// opens it and returns, and DialogClosed() finishes the step when the
// dialog has gone. While the dialog is open the preview is kept off the
// main window.
//
// The step runs again only after Reset() (the device list was refreshed or
// a device was lost). Another source connected while the dialog is open is
// previewed at once. A reset while the dialog is open lets its closing count
// for nothing, unless the MovieBox is connected again before it closes; the
// open dialog then serves that connection, and no second dialog is opened.
//
// GUI thread only; no widgets: the hooks show and hide them.

#include <QString>

#include <functional>

#include "system/kinds.h"

namespace kad {

struct MovieBoxStepHooks {
    std::function<void()> detachPreview;
    std::function<void()> attachPreview;
    std::function<void()> showInstructions;
    std::function<void()> closeInstructions;
    // Opens the priming dialog for the named source and returns at once;
    // its closing must reach DialogClosed().
    std::function<void(const QString& sourceName)> openPrimingDialog;
    std::function<void(const QString& line)> log;
};

class TMovieBoxStep {
public:
    TMovieBoxStep() = default;
    explicit TMovieBoxStep(MovieBoxStepHooks hooks) : hooks_(std::move(hooks)) {}

    void SetHooks(MovieBoxStepHooks hooks) { hooks_ = std::move(hooks); }

    // A source of `kind` was connected: starts the step when the MovieBox
    // has not been woken yet. True when the step started.
    bool Connected(SourceKind kind, const QString& sourceName);
    // The priming dialog has closed, accepted or not.
    void DialogClosed();
    // The devices changed or the list was refreshed: the box must be woken
    // again.
    void Reset();

    // The MovieBox has been woken since start or the last Reset().
    bool Launched() const { return launched_; }
    // The priming dialog is open.
    bool Running() const { return running_; }

private:
    void call(const std::function<void()>& f) const
    {
        if (f) f();
    }

    // Takes the preview off the main window, or gives it back; each once.
    void hold();
    void release();

    MovieBoxStepHooks hooks_;
    bool launched_ = false;
    bool running_ = false;
    // A reset came while the dialog was open and no MovieBox since.
    bool stale_ = false;
    // The preview is off the main window.
    bool held_ = false;
};

} // namespace kad
