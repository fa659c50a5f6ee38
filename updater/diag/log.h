// Why a transfer, a stop or an install failed, for whoever looks after the
// machine: one line per event in Tovane.log in the temporary folder (cut
// back to its newer half once past a size cap) and through
// OutputDebugString.
#pragma once

#include <windows.h>

#include "failure.h"

namespace tovane::diag {

// A failure, in the words of LogLine (failure.h).
void Log(const Failure& failure);

// Anything else worth knowing when reading a failure: a resume, a restart.
// subject may be null.
void LogNote(const char* text, const char* subject);

// Where the log goes; empty when the temporary folder is unknown.
bool LogPath(char (&path)[MAX_PATH + 1]);

}  // namespace tovane::diag
