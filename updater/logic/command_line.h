// Tovane.exe's command line and what the process's exit code says. Started
// with nothing, the updater opens its dialog as it always has; /quiet is the
// check a product runs at each start, which speaks only when there is an
// update to offer.
#pragma once

#include <string>
#include <vector>

namespace tovane {

struct CommandLine {
    bool valid = true;
    bool quiet = false;
    std::string refused;  // the first argument not understood
};

// The arguments after the program's name. "/quiet" (or "-quiet", any case)
// and nothing else; every other argument, a second /quiet included, is
// refused rather than ignored.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The exit codes of Tovane.exe. Without /quiet it always ends with kExitDone.
enum ExitCode : int {
    kExitDone = 0,            // no update: up to date, or no manifest on the server
    kExitOffered = 1,         // an update was offered: the dialog was shown
    kExitHeldBack = 2,        // newer, but not yet rolled out to this machine
    kExitFailed = 3,          // the check failed; %TEMP%\Tovane.log says why
    kExitAlreadyRunning = 4,  // another Tovane.exe runs
    kExitBadArguments = 5,    // the command line was refused
};

}  // namespace tovane
