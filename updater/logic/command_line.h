// Tovane.exe's command line and what the process's exit code says. Started
// with nothing, the updater opens its dialog as it always has; /quiet is the
// check a product runs at each start, which speaks only when there is an
// update to offer.
#pragma once

#include <string>
#include <vector>

namespace tovane {

// The step an updater without the rights for the product's folder hands to
// an elevated copy of itself. The elevated copy shows no window and trusts
// none of the files the user's programs can write: it verifies them again.
enum class ElevatedStep {
    kNone,
    kInstall,  // /install <downloads folder> <target folder> <waiting updater's process id>
    kRecover,  // /recover: an interrupted installation put right
};

struct CommandLine {
    bool valid = true;
    bool quiet = false;
    ElevatedStep elevated = ElevatedStep::kNone;
    std::string downloads;      // /install: the folder the checked downloads lie in
    std::string target;         // /install: the folder to install into
    unsigned long waiting = 0;  // /install: the updater that waits, and stops the product
    std::string refused;        // the first argument not understood
};

// The arguments after the program's name. "/quiet" (or "-quiet", any case)
// alone, "/install" with two folders and a process id, or "/recover" alone;
// every other argument, a second /quiet included, is refused rather than
// ignored.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The arguments that ParseCommandLine reads back as /install of these
// folders for the waiting updater, quoted for CommandLineToArgvW (a
// folder's trailing '\' would otherwise escape the closing quote).
std::string InstallArguments(const std::string& downloads, const std::string& target,
                             unsigned long waiting);

// The exit codes of Tovane.exe. Without /quiet it always ends with kExitDone.
enum ExitCode : int {
    kExitDone = 0,            // no update: up to date, or no manifest on the server
    kExitOffered = 1,         // an update was offered: the dialog was shown
    kExitHeldBack = 2,        // newer, but not yet rolled out to this machine
    kExitFailed = 3,          // the check failed; %TEMP%\Tovane.log says why
    kExitAlreadyRunning = 4,  // another Tovane.exe runs
    kExitBadArguments = 5,    // the command line was refused
};

// The exit codes of the elevated step, for the updater that waits for it.
enum ElevatedExitCode : int {
    kElevatedInstalled = 0,
    kElevatedRolledBack = 20,    // a step failed; every file has its old content
    kElevatedBroken = 21,        // a step failed; the journal stays for the next start
    kElevatedStillRunning = 22,  // Kelvo runs again; nothing was changed
    kElevatedNotVerified = 23,   // the manifest or a file failed the check; nothing was changed
    kElevatedUnusable = 24,      // arguments, folders or files unusable; nothing was changed
    kElevatedNoKey = 25,         // built without a key: it installs nothing it cannot verify
};

}  // namespace tovane
