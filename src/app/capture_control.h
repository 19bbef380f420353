#pragma once

// The program's side of the capture session: the graph's options filled
// from the panels before each build, the names and words the session has
// for the window shown there, and a capture that ended by itself stopped as
// the user would stop it.
//
// GUI thread only.

#include "app/program_parts.h"
#include "session/capture_session.h"

namespace kad {

class TSourceSelection;

void BindCaptureSession(TCaptureSession& session, TProgramParts& parts, TSourceSelection& sources);

} // namespace kad
