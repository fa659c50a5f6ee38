// Why a transfer, a stop or an install failed, for whoever looks after the
// machine: one line per event in Tovane.log in the temporary folder (cut
// back to its newer half once past a size cap) and through
// OutputDebugString.
#pragma once

#include <windows.h>

namespace tovane::diag {

// A failed system call: its name, the code GetLastError gave right after
// it, and what it was about (a URL, a path); subject may be null.
void LogFailure(const char* operation, DWORD error, const char* subject);

// A failure told by a number other than a system error (an HTTP status).
void LogStatus(const char* operation, DWORD status, const char* subject);

// Anything else worth knowing when reading a failure: a resume, a restart.
void LogNote(const char* text, const char* subject);

// Where the log goes; empty when the temporary folder is unknown.
bool LogPath(char (&path)[MAX_PATH + 1]);

}  // namespace tovane::diag
