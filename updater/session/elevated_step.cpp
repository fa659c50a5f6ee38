#include "session/elevated_step.h"

#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "app_paths.h"
#include "diag/log.h"
#include "install/durable_file.h"
#include "install/hold_point.h"
#include "install/installer.h"
#include "install/product_control.h"
#include "install/version_record.h"
#include "install_journal.h"
#include "install_plan.h"
#include "manifest.h"
#include "session/update_session.h"
#include "trust/verify.h"
#include "ui/text.h"

namespace tovane {

namespace {

// The events of the hand-over between the updater that waits and its
// elevated copy, named after the waiting updater's process.
std::wstring HandOverEventName(unsigned long waiting, const wchar_t* what) {
    return L"Local\\Tovane." + std::to_wstring(waiting) + L"." + what;
}

// The product as the elevated copy sees it. It is never started here, which
// would give it administrator rights too: the updater that waits starts it.
// Closing it is handed back to that updater too, once everything slow is
// done (the files staged, the journal written): it closes the product as
// the user, and asks the user where the product will not close. Where the
// hand-over events cannot be opened (an administrator of another account
// cannot open the user's objects), this copy closes it itself, and no one
// is asked.
class ElevatedProductControl : public Win32ProductControl {
public:
    ElevatedProductControl(std::string programFolder, unsigned long waiting)
        : Win32ProductControl(std::move(programFolder), [] { return false; }) {
        if (waiting == 0) {
            return;
        }
        staged_.reset(
            ::OpenEventW(EVENT_MODIFY_STATE, FALSE, HandOverEventName(waiting, L"staged").c_str()));
        stopped_.reset(
            ::OpenEventW(SYNCHRONIZE, FALSE, HandOverEventName(waiting, L"stopped").c_str()));
        refused_.reset(
            ::OpenEventW(SYNCHRONIZE, FALSE, HandOverEventName(waiting, L"refused").c_str()));
        waiter_.reset(::OpenProcess(SYNCHRONIZE, FALSE, waiting));
        handOver_ = staged_ && stopped_ && refused_ && waiter_;
    }

    void RequestClose() override {
        if (handOver_) {
            ::SetEvent(staged_.get());
        } else {
            Win32ProductControl::RequestClose();
        }
    }
    bool WaitForExit(DWORD timeoutMs) override {
        if (!handOver_) {
            return Win32ProductControl::WaitForExit(timeoutMs);
        }
        if (!answered_) {
            // As long as the user takes to answer, or until that updater ends.
            HANDLE answers[3] = {stopped_.get(), refused_.get(), waiter_.get()};
            closedByUser_ = ::WaitForMultipleObjects(3, answers, FALSE, INFINITE) == WAIT_OBJECT_0;
            answered_ = true;
        }
        return closedByUser_ && Win32ProductControl::WaitForExit(kClosedWaitMs);
    }
    bool Terminate(DWORD* error) override {
        if (handOver_) {
            *error = ERROR_CANCELLED;  // the user's updater has decided
            return false;
        }
        return Win32ProductControl::Terminate(error);
    }
    bool Start(const std::string&, DWORD*) override { return true; }

private:
    // The waiting updater says "stopped" once the process has ended.
    static constexpr DWORD kClosedWaitMs = 5000;
    kelvo::unique_handle staged_;
    kelvo::unique_handle stopped_;
    kelvo::unique_handle refused_;
    kelvo::unique_handle waiter_;
    bool handOver_ = false;
    bool answered_ = false;
    bool closedByUser_ = false;
};

class NoInstallProgress : public InstallProgress {
public:
    void Status(const std::string&) override {}
    void Range(int) override {}
    void Position(int) override {}
};

// Read through a handle that denies writers for as long as it is open: what
// is verified is what stays there.
bool ReadHandedOver(const std::string& path, std::size_t limit, std::string* bytes) {
    kelvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = ::GetLastError();
    if (!file || !ReadWholeFile(file.get(), limit, bytes, &error)) {
        diag::Log(Failure::System("Reading", path, error));
        return false;
    }
    return true;
}

int Refused(const char* why, const std::string& subject, int code) {
    diag::LogNote((std::string("elevated step refused: ") + why).c_str(), subject.c_str());
    return code;
}

int ExitCodeFor(const InstallResult& result) {
    switch (result.outcome) {
    case InstallResult::Outcome::kInstalled:
    case InstallResult::Outcome::kNothingToInstall:
        return kElevatedInstalled;
    case InstallResult::Outcome::kProductStillRunning:
        return kElevatedStillRunning;
    case InstallResult::Outcome::kRolledBack:
        return kElevatedRolledBack;
    case InstallResult::Outcome::kBroken:
        break;
    }
    return kElevatedBroken;
}

int ElevatedInstall(const CommandLine& line, const std::string& programFolder) {
    if (!trust::HasBuiltInKey()) {
        return Refused("no key is built in", line.downloads, kElevatedNoKey);
    }
    // The product's folder only: this one, or one that holds its program.
    if (!SameFolder(line.target, programFolder) && !IsRegularFile(line.target + kProductFileName)) {
        return Refused("the target is neither this folder nor Kelvo's", line.target,
                       kElevatedUnusable);
    }
    HoldIfAsked("elevated");
    std::string manifestBytes;
    std::string signature;
    if (!ReadHandedOver(HandOverManifestPath(line.downloads), limits::kManifestBytes,
                        &manifestBytes) ||
        !ReadHandedOver(HandOverSignaturePath(line.downloads), limits::kSignatureBytes,
                        &signature)) {
        return kElevatedUnusable;
    }
    long error = 0;
    const trust::ManifestCheck check = trust::VerifyManifest(
        manifestBytes.data(), manifestBytes.size(), signature.data(), signature.size(), &error);
    if (check != trust::ManifestCheck::kVerified) {
        return Refused(trust::ToString(check), line.downloads, kElevatedNotVerified);
    }
    Manifest manifest;
    std::string unusable;
    if (ParseManifest(manifestBytes, &manifest) != ManifestParse::kOk ||
        !MakeFileNamesUsable(&manifest, &unusable)) {
        return Refused("the manifest names an unusable file", unusable, kElevatedNotVerified);
    }
    // Signed is not enough: an older release, or one whose time is over,
    // handed over again would have an administrator install it.
    const Version installed = ReadVersionRecord(line.target + "Version.ini");
    if (!IsNewerVersion(installed, manifest.offered) || PastExpiry(manifest)) {
        return Refused("the release is not newer than the installed one, or has expired",
                       line.target, kElevatedNotVerified);
    }

    InstallRequest request;
    request.programFolder = programFolder;
    request.sourceFolder = line.downloads;
    request.versionFileName = "Version.ini";
    request.version = manifest.offered;
    request.plannedTarget = line.target;
    std::vector<kelvo::unique_hfile> held;
    const int n = InstalledEntryCount(manifest.files.size());
    for (int i = 0; i < n; ++i) {
        const std::string& name = manifest.files[i];
        const std::string* value = manifest.FilesValue(name);
        if (name.empty()) {
            continue;
        }
        if (value == nullptr) {
            return Refused("a listed file has no [Files] entry", name, kElevatedNotVerified);
        }
        {
            kelvo::unique_hfile installed(
                ::CreateFileA((line.target + name).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            if (installed && trust::CheckFile(installed.get(), value->c_str(), true) ==
                                 trust::FileCheck::kMatch) {
                continue;  // up to date already
            }
        }
        held.emplace_back(::CreateFileA((line.downloads + name).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!held.back() ||
            trust::CheckFile(held.back().get(), value->c_str(), true) != trust::FileCheck::kMatch) {
            return Refused("a download does not match its [Files] entry", name,
                           kElevatedNotVerified);
        }
        request.names.push_back(name);
        request.sources.push_back(held.back().get());
    }
    ElevatedProductControl control(programFolder, line.waiting);
    NoInstallProgress progress;
    const InstallResult result = Install(request, control, progress);
    if (result.outcome != InstallResult::Outcome::kInstalled) {
        diag::LogNote(("elevated installation: " + result.message).c_str(), line.target.c_str());
    }
    return ExitCodeFor(result);
}

int ElevatedRecovery(const std::string& programFolder) {
    HoldIfAsked("recovering");
    // As administrator, only a journal about its own folder: one that names
    // another lies where the user may be able to write, and could have an
    // administrator delete files in that other folder.
    std::string text;
    DWORD error = 0;
    if (ReadWholeFile(JournalPath(programFolder), kJournalBytes, &text, &error)) {
        const std::optional<InstallJournal> journal = ParseJournal(text);
        if (journal && !SameFolder(journal->targetFolder, programFolder)) {
            return Refused("the journal names another folder", journal->targetFolder,
                           kElevatedUnusable);
        }
    }
    ElevatedProductControl control(programFolder, 0);
    const RecoveryResult result = RecoverInterruptedInstall(programFolder, control);
    if (!result.message.empty()) {
        diag::LogNote(("elevated recovery: " + result.message).c_str(), programFolder.c_str());
    }
    return result.ok ? kElevatedInstalled : kElevatedBroken;
}

}  // namespace

bool NeedsAdministrator(const std::string& folder) {
    char name[64];
    std::snprintf(name, sizeof name, "Tovane.probe.%lu",
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    kelvo::unique_hfile probe(::CreateFileA(
        (folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return !probe && ::GetLastError() == ERROR_ACCESS_DENIED;
}

std::string HandOverManifestPath(const std::string& downloads) {
    return downloads + "Tovane.install.txt";
}

std::string HandOverSignaturePath(const std::string& downloads) {
    return downloads + "Tovane.install.sig";
}

ElevatedRun RunElevated(const std::string& parameters, const std::string& directory,
                        const std::function<bool()>& stopProduct) {
    ElevatedRun run;
    if (AskedFor("decline-elevation")) {
        run.error = ERROR_CANCELLED;
        return run;
    }
    const unsigned long self = ::GetCurrentProcessId();
    kelvo::unique_handle staged(
        ::CreateEventW(nullptr, TRUE, FALSE, HandOverEventName(self, L"staged").c_str()));
    kelvo::unique_handle stopped(
        ::CreateEventW(nullptr, TRUE, FALSE, HandOverEventName(self, L"stopped").c_str()));
    kelvo::unique_handle refused(
        ::CreateEventW(nullptr, TRUE, FALSE, HandOverEventName(self, L"refused").c_str()));
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        run.error = length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return run;
    }
    const std::wstring wideParameters = kelvo::ui::WideFromCodePage(parameters, CP_ACP);
    const std::wstring wideDirectory = kelvo::ui::WideFromCodePage(directory, CP_ACP);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = path;
    info.lpParameters = wideParameters.c_str();
    info.lpDirectory = wideDirectory.c_str();
    info.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&info)) {
        run.error = ::GetLastError();
        diag::Log(Failure::System("Starting with administrator rights", parameters, run.error));
        return run;
    }
    run.started = true;
    if (info.hProcess == nullptr) {
        run.exitCode = kElevatedUnusable;  // no handle: its end cannot be known
        return run;
    }
    kelvo::unique_handle process(info.hProcess);
    // The copy asks for the product's stop once it is ready for it; its end
    // comes without that when it fails first or the product is not running.
    HANDLE waits[2] = {process.get(), staged.get()};
    const DWORD count = staged && stopped && refused ? 2 : 1;
    if (::WaitForMultipleObjects(count, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        ::SetEvent(stopProduct() ? stopped.get() : refused.get());
        ::WaitForSingleObject(process.get(), INFINITE);
    }
    DWORD code = kElevatedUnusable;
    ::GetExitCodeProcess(process.get(), &code);
    run.exitCode = code;
    return run;
}

std::string ElevatedFailureMessage(const ElevatedRun& run, bool recovery) {
    if (!run.started) {
        const std::string what = recovery ? "An interrupted update must be put right with "
                                            "administrator rights"
                                          : "Kelvo's folder can be changed only with "
                                            "administrator rights";
        if (run.error == ERROR_CANCELLED) {
            return what + ", which were not given. Nothing was changed.";
        }
        return what + ", and the updater could not be started with them (system error " +
               std::to_string(run.error) + "). Nothing was changed.";
    }
    if (recovery && run.exitCode == kElevatedUnusable) {
        return "The updater with administrator rights left the record of an interrupted update "
               "alone: it acts only on a record about its own folder.";
    }
    switch (run.exitCode) {
    case kElevatedRolledBack:
        return "Installing the update with administrator rights failed; every file has its "
               "previous content again. The update was not installed.";
    case kElevatedStillRunning:
        return "Kelvo is still running, so the update was not installed. Nothing was changed; "
               "close Kelvo and try the update again.";
    case kElevatedNotVerified:
        return "The update files no longer match the update information they were checked "
               "against. Nothing was changed; please try the update again later.";
    case kElevatedNoKey:
    case kElevatedUnusable:
        return "The updater with administrator rights could not use the update. Nothing was "
               "changed.";
    default:
        break;
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "The updater with administrator rights ended with code %lu. What it could not "
                  "finish is put right on the next start of the updater.",
                  static_cast<unsigned long>(run.exitCode));
    return text;
}

int RunElevatedStep(const CommandLine& line) {
    char folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetCurrentDirectoryA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) {
        return kElevatedUnusable;
    }
    const std::string programFolder = ProgramFolderFromCurrentDir(folder);
    return line.elevated == ElevatedStep::kRecover ? ElevatedRecovery(programFolder)
                                                   : ElevatedInstall(line, programFolder);
}

}  // namespace tovane
