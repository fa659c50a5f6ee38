// The installation as one UI-free unit: stopping the product, the journal,
// replacing the files, rolling back, starting the product again and
// recording the version. It reports progress and a result; the dialog only
// shows them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "install/product_control.h"
#include "version_rule.h"

namespace tovane {

class InstallProgress {
public:
    virtual ~InstallProgress() = default;
    virtual void Status(const std::string& text) = 0;
    virtual void Range(int count) = 0;
    virtual void Position(int done) = 0;
};

struct InstallRequest {
    std::string programFolder;  // the updater's folder: its journal lives here; ends with '\'
    std::string sourceFolder;   // where the downloads lie; ends with '\'
    std::vector<std::string> names;
    // When given, parallel to `names`: open handles of the downloads, each
    // copied from its start instead of opening sourceFolder + name again,
    // so that what was checked through the handle is what is installed.
    // They stay the caller's to close; a null one means "by path".
    std::vector<HANDLE> sources;
    std::string versionFileName;  // "Version.ini"
    Version version;              // recorded in the target's version file
    DWORD graceMs = kProductGraceMs;
    // The folder the caller found files already up to date in and left out
    // of `names`: the installation goes there or nowhere, and there when the
    // product is not running. Empty: wherever the product runs. With it, an
    // empty `names` still records the version.
    std::string plannedTarget;
};

struct InstallResult {
    enum class Outcome {
        kInstalled,
        kNothingToInstall,  // the product was left as it was
        kProductStillRunning,
        kRolledBack,  // a step failed; every file has its old content
        kBroken,      // a step failed and not everything could be put back
    };
    Outcome outcome = Outcome::kNothingToInstall;
    std::string targetFolder;
    std::string message;  // for the user; names the file and the system error
    bool restarted = false;
};

InstallResult Install(const InstallRequest& request, ProductControl& control,
                      InstallProgress& progress);

struct RecoveryResult {
    bool found = false;  // a journal was there
    bool ok = true;      // the folder is whole again (old or new) and the journal gone
    std::string message;
};

// Run on every start, before anything else: an installation that was cut
// short is rolled back to the old version, one that had committed is
// finished, and the product that was stopped is started again.
RecoveryResult RecoverInterruptedInstall(const std::string& programFolder, ProductControl& control);

// The journal's path in a program folder.
std::string JournalPath(const std::string& programFolder);

}  // namespace tovane
