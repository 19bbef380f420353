#pragma once

// Kadrillo's string table. Code refers to entries by identifier, never to a
// literal text, so the whole English wording lives in texts.inc. It sits low
// in the library order so that the messages the session, the graph and the
// settings put in front of the user read from the same table as the windows.

#include <QString>

namespace kad {

enum class TextId : int {
#define KAD_TEXT(id, text) id,
#include "system/texts.inc"
#undef KAD_TEXT
    Count_
};

// The text of an entry: the English one unless SetText replaced it.
QString Text(TextId id);

// Replaces an entry's text for the rest of the run, as a translation loaded
// at start-up would; the windows show it at their next text pass, messages
// the next time they are made. Any thread may read the table meanwhile (the
// still writer words its failures on its own thread).
void SetText(TextId id, const QString& text);
// Back to the English texts.
void ResetTexts();

// The identifier of an entry by its name ("acGrabCaption"), for tests and
// tools; nullopt-like TextId::Count_ when there is none.
TextId TextIdByName(const char* name);

} // namespace kad
