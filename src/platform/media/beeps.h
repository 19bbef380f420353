#pragma once

// The two short notification sounds ("BEEP0", "BEEP1"), embedded as Qt
// resources and played synchronously: the call returns when the sound has
// played to its end. Where no sound output exists the call returns at once,
// silently. GUI thread only.

#include <QByteArray>

namespace kad {

enum class BeepResult {
    Played,        // played to its end
    NoSoundOutput, // no audio sink could be opened; nothing was played
    Failed,        // the sound could not be decoded or the playback failed
};

BeepResult PlayBeep0();
BeepResult PlayBeep1();

// Plays beep `index` (0 or 1) on a sink made by `sinkFactory`. The sink must
// reach READY, otherwise there is no sound output; autoaudiosink counts as
// none when it falls back to a fake sink.
BeepResult PlayBeep(int index, const char* sinkFactory = "autoaudiosink");

// The embedded WAV file of beep `index`; empty for another index.
QByteArray BeepResource(int index);

} // namespace kad
