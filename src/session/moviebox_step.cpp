#include "session/moviebox_step.h"

namespace kad {

bool TMovieBoxStep::Connected(SourceKind kind, const QString& sourceName)
{
    const bool box = kind == SourceKind::skMovieBoxB;
    if (running_) {
        // The dialog still open wakes the MovieBox connected again; any
        // other source is shown at once.
        if (box) {
            stale_ = false;
            hold();
        } else {
            release();
        }
        return false;
    }
    if (!box || launched_) return false;
    running_ = true;
    stale_ = false;
    hold();
    if (hooks_.log) hooks_.log(QStringLiteral("Launching the MovieBox"));
    call(hooks_.showInstructions);
    if (hooks_.openPrimingDialog) {
        hooks_.openPrimingDialog(sourceName);
    } else {
        // Nothing to wait for: the step ends here.
        DialogClosed();
    }
    return true;
}

void TMovieBoxStep::DialogClosed()
{
    if (!running_) return;
    running_ = false;
    release();
    if (!stale_) launched_ = true;
    stale_ = false;
    call(hooks_.closeInstructions);
}

void TMovieBoxStep::Reset()
{
    launched_ = false;
    if (running_) {
        stale_ = true;
        release();
    }
}

void TMovieBoxStep::hold()
{
    if (held_) return;
    held_ = true;
    call(hooks_.detachPreview);
}

void TMovieBoxStep::release()
{
    if (!held_) return;
    held_ = false;
    call(hooks_.attachPreview);
}

} // namespace kad
