// Updates into a folder that only administrators may write (C:\Program
// Files\Kelvo on a locked-down PC). The updater runs as the user: it fetches
// and checks as always, then starts a copy of itself with administrator
// rights for the one step that needs them, stops the product when that copy
// has staged the files, waits for it and starts the product again. The
// elevated copy shows no window, starts no program, and trusts nothing the
// user's programs can write: it verifies the manifest and every file again,
// from handles that deny writers, before it installs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "command_line.h"

namespace tovane {

// Whether the updater may write the folder: a file is created there and
// deleted again. Only a refusal counts as "no"; any other error is left to
// the installation, which reports it.
bool NeedsAdministrator(const std::string& folder);

// Where the updater hands the verified manifest and its signature to the
// elevated copy: beside the downloads.
std::string HandOverManifestPath(const std::string& downloads);
std::string HandOverSignaturePath(const std::string& downloads);

struct ElevatedRun {
    bool started = false;
    DWORD error = 0;     // why it did not start; ERROR_CANCELLED: consent declined
    DWORD exitCode = 0;  // once it ended
};

// Starts this program with administrator rights ("runas") in `directory`
// and waits for it to end. An elevated /install hands the product's stop
// back when it is ready for it: stopProduct runs then, here, and says
// whether the product has ended.
ElevatedRun RunElevated(
    const std::string& parameters, const std::string& directory,
    const std::function<bool()>& stopProduct = [] { return false; });

// The user's message for an elevated step's end that was not a success.
std::string ElevatedFailureMessage(const ElevatedRun& run, bool recovery);

// In the elevated copy: the step its command line names, run to its end
// without a window; the result is the process's exit code.
int RunElevatedStep(const CommandLine& line);

}  // namespace tovane
