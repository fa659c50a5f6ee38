#include "install/installer.h"

#include <cstdio>

#include "common/unique_handle.h"
#include "diag/log.h"
#include "install/durable_file.h"
#include "install/hold_point.h"
#include "install/version_record.h"
#include "install_journal.h"
#include "install_plan.h"

namespace tovane {

namespace {

const char kJournalName[] = "Tovane.journal";

// The user's message for a failed step; the step goes to the log as well,
// with the code taken right after the call that failed.
std::string Report(const Failure& failure) {
    diag::Log(failure);
    return Describe(failure);
}

// Deletes every file in the folder and the folder itself; true when it is gone.
bool RemoveFolder(const std::string& folder) {
    WIN32_FIND_DATAA data;
    {
        kelvo::unique_hfind find(::FindFirstFileA((folder + "*").c_str(), &data));
        for (bool more = static_cast<bool>(find); more; more = ::FindNextFileA(find.get(), &data)) {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                ::DeleteFileA((folder + data.cFileName).c_str());
            }
        }
    }
    ::RemoveDirectoryA(folder.c_str());
    return !Exists(folder);
}

// Puts every entry back, newest first. Safe to run again on a folder that
// is already (partly) back: each step looks at what is on disk.
bool RollBack(const InstallJournal& journal, Failure* failure) {
    bool whole = true;
    for (std::size_t i = journal.entries.size(); i-- > 0;) {
        const JournalEntry& entry = journal.entries[i];
        const std::string destination = journal.targetFolder + entry.name;
        const std::string backup = BackupPath(journal, i);
        DWORD error = 0;
        if (entry.existed) {
            // No backup means the old file was never moved away.
            if (Exists(backup) && !MoveFileDurably(backup, destination, &error)) {
                if (whole) {
                    *failure = Failure::System("Putting back", entry.name, error);
                }
                whole = false;
            }
        } else if (IsRegularFile(destination) && !::DeleteFileA(destination.c_str())) {
            error = ::GetLastError();
            if (whole) {
                *failure = Failure::System("Removing", entry.name, error);
            }
            whole = false;
        }
        ::DeleteFileA(StagingPath(journal, i).c_str());
    }
    return whole;
}

// After the commit: the old copies go. One that cannot (the running image of
// the updater itself, renamed aside) stays for the next start.
bool CleanUpCommitted(const InstallJournal& journal) { return RemoveFolder(journal.backupFolder); }

bool WriteJournal(const std::string& programFolder, const InstallJournal& journal, DWORD* error) {
    return WriteFileDurably(JournalPath(programFolder), FormatJournal(journal), error);
}

void RemoveJournal(const std::string& programFolder) {
    const std::string path = JournalPath(programFolder);
    ::DeleteFileA(path.c_str());
    ::DeleteFileA((path + ".tmp").c_str());
}

// The new version in a copy of the target's version file (other keys kept),
// assembled at the staging path of its entry.
bool StageVersionFile(const InstallJournal& journal, std::size_t index,
                      const InstallRequest& request, DWORD* error) {
    const std::string staging = StagingPath(journal, index);
    const std::string current = journal.targetFolder + request.versionFileName;
    ::DeleteFileA(staging.c_str());
    if (journal.entries[index].existed && !::CopyFileA(current.c_str(), staging.c_str(), FALSE)) {
        *error = ::GetLastError();
        return false;
    }
    return WriteVersionRecord(staging, request.version, error);
}

// Moves the old file aside (a rename, so even a running executable can go)
// and the staged new one into place.
bool PlaceEntry(const InstallJournal& journal, std::size_t index, DWORD* error) {
    const JournalEntry& entry = journal.entries[index];
    const std::string destination = journal.targetFolder + entry.name;
    if (entry.existed && !MoveFileDurably(destination, BackupPath(journal, index), error)) {
        return false;
    }
    return MoveFileDurably(StagingPath(journal, index), destination, error);
}

bool StartAgain(ProductControl& control, const std::string& exe, std::string* note) {
    DWORD error = 0;
    if (exe.empty() || control.Start(exe, &error)) {
        return !exe.empty();
    }
    *note = " " + Report(Failure::System("Starting", exe, error)) + " Please start it yourself.";
    return false;
}

// A step failed after the journal was written: everything goes back, the
// product runs again, and the user learns what failed and what is left.
InstallResult RollBackAfter(const std::string& failure, const InstallJournal& journal,
                            const std::string& programFolder, ProductControl& control) {
    InstallResult result;
    result.targetFolder = journal.targetFolder;
    Failure back;
    if (RollBack(journal, &back)) {
        RemoveFolder(journal.backupFolder);
        RemoveJournal(programFolder);
        result.outcome = InstallResult::Outcome::kRolledBack;
        result.message =
            failure + " Every file has its previous content again; the update was not installed.";
    } else {
        // The journal stays: the next start tries again.
        result.outcome = InstallResult::Outcome::kBroken;
        result.message = failure + " " + Report(back) + " The previous version is kept in " +
                         journal.backupFolder + " and put back on the next start of the updater.";
    }
    std::string note;
    result.restarted = StartAgain(control, journal.restart, &note);
    result.message += note;
    return result;
}

// The open download for a name, nullptr when the request carries none. The
// journal keeps a name's first spelling, so the first exact match is it.
HANDLE SourceHandle(const InstallRequest& request, const std::string& name) {
    for (std::size_t i = 0; i < request.names.size() && i < request.sources.size(); ++i) {
        if (request.names[i] == name) {
            return request.sources[i];
        }
    }
    return nullptr;
}

// Every new file copied and flushed to its staging path in the target's
// backup folder, on the target's volume, so that placing it is a rename.
bool StageFiles(const InstallRequest& request, const InstallJournal& journal,
                InstallProgress& progress, Failure* failure) {
    for (std::size_t i = 0; i + 1 < journal.entries.size(); ++i) {
        const JournalEntry& entry = journal.entries[i];
        progress.Position(static_cast<int>(i));
        const std::string half = "copy." + std::to_string(i) + ".half";
        HANDLE source = SourceHandle(request, entry.name);
        DWORD error = 0;
        const bool ok = source != nullptr
                            ? CopyFileDurably(source, StagingPath(journal, i), half, &error)
                            : CopyFileDurably(request.sourceFolder + entry.name,
                                              StagingPath(journal, i), half, &error);
        if (!ok) {
            *failure = Failure::System("Preparing", entry.name, error);
            return false;
        }
    }
    progress.Position(static_cast<int>(journal.entries.size() - 1));
    return true;
}

}  // namespace

std::string JournalPath(const std::string& programFolder) { return programFolder + kJournalName; }

InstallResult Install(const InstallRequest& request, ProductControl& control,
                      InstallProgress& progress) {
    InstallResult result;
    const std::vector<std::string> names = DistinctNames(request.names);
    if (names.empty() && request.plannedTarget.empty()) {
        result.message = "The update lists no files to install. Nothing was changed.";
        return result;
    }

    // Everything slow happens before the product is asked to close: each new
    // file is copied and flushed beside its destination, and the journal
    // written, so that the product is down for the renames and the version
    // record alone, however large the update. A kill from the journal on is
    // put right on the next start, and the product that was being stopped
    // is started again; a kill before it leaves the product running and
    // only a staging folder that the next start removes.
    InstallJournal journal;
    Failure failure;
    bool journalWritten = false;
    // For the log: how long the preparation took, and how long the product
    // was down for the rest.
    const DWORD begun = ::GetTickCount();
    DWORD staged = begun;
    auto writeJournal = [&](const std::string& exe, bool stopping) {
        journal.targetFolder = InstallTargetFolder(exe, request.programFolder);
        // A product that is not running has no folder of its own to say: the
        // folder the update was prepared for stands.
        if (exe.empty() && !request.plannedTarget.empty()) {
            journal.targetFolder = request.plannedTarget;
        }
        if (journal.targetFolder.empty()) {
            journal.targetFolder = request.programFolder;
        }
        // The files left out were found up to date in the planned folder
        // only: anywhere else they would be missing.
        if (!request.plannedTarget.empty() &&
            !SameFolder(journal.targetFolder, request.plannedTarget)) {
            failure = Failure::Note("Kelvo now runs from another folder, " + journal.targetFolder +
                                        ", than when the update was " + "prepared for " +
                                        request.plannedTarget,
                                    "");
            return false;
        }
        journal.backupFolder = journal.targetFolder + kBackupFolderName;
        journal.restart = stopping ? exe : std::string();
        journal.entries.clear();
        for (const std::string& name : names) {
            journal.entries.push_back({name, IsRegularFile(journal.targetFolder + name)});
        }
        // The version file is the last entry: it changes only once every
        // file is in place, and goes back with them.
        journal.entries.push_back({request.versionFileName,
                                   IsRegularFile(journal.targetFolder + request.versionFileName)});
        // A backup folder without a journal is what a finished install could
        // not delete, or what one cut short while preparing left; it holds
        // nothing needed any more.
        RemoveFolder(journal.backupFolder);
        DWORD error = 0;
        if (!::CreateDirectoryA(journal.backupFolder.c_str(), nullptr)) {
            failure =
                Failure::System("Creating the folder", journal.backupFolder, ::GetLastError());
            return false;
        }
        if (!StageFiles(request, journal, progress, &failure)) {
            RemoveFolder(journal.backupFolder);
            return false;
        }
        if (!WriteJournal(request.programFolder, journal, &error)) {
            failure = Failure::System("Writing", JournalPath(request.programFolder), error);
            RemoveFolder(journal.backupFolder);
            return false;
        }
        journalWritten = true;
        staged = ::GetTickCount();
        if (stopping) {
            progress.Status("Closing Kelvo for the update...");
        }
        HoldIfAsked("stopping");
        return true;
    };

    progress.Status("update");
    progress.Range(static_cast<int>(names.size()));
    std::string exe;
    StopOutcome stop = StopProduct(control, request.graceMs, &exe, [&](const std::string& path) {
        return writeJournal(path, true);
    });
    if (stop == StopOutcome::kNotRunning || stop == StopOutcome::kNoWindow) {
        writeJournal(exe, false);
    }
    if (stop == StopOutcome::kStillRunning) {
        RemoveFolder(journal.backupFolder);
        RemoveJournal(request.programFolder);
        result.outcome = InstallResult::Outcome::kProductStillRunning;
        result.message =
            "Kelvo is still running, so the update was not installed. Nothing was "
            "changed; close Kelvo and try the update again.";
        progress.Status(result.message);
        return result;
    }
    if (!journalWritten) {
        // Nothing was touched, and the product was never asked to close.
        result.outcome = InstallResult::Outcome::kRolledBack;
        result.message = Report(failure) + " Nothing was changed.";
        progress.Status(result.message);
        return result;
    }
    const std::string restart = journal.restart;
    result.targetFolder = journal.targetFolder;

    progress.Status("update");
    DWORD error = 0;
    HoldIfAsked("journal");

    std::size_t i = 0;
    bool ok = true;
    for (; i < journal.entries.size(); ++i) {
        const JournalEntry& entry = journal.entries[i];
        if (i + 1 == journal.entries.size()) {
            HoldIfAsked("version");
            ok = StageVersionFile(journal, i, request, &error);
        }
        ok = ok && PlaceEntry(journal, i, &error);
        if (!ok) {
            failure = Failure::System("Installing", entry.name, error);
            break;
        }
        HoldIfAsked("placed." + std::to_string(i));
    }

    if (!ok) {
        return RollBackAfter(Report(failure), journal, request.programFolder, control);
    }
    progress.Position(static_cast<int>(names.size()));

    // The commit point: from here on the new version stays.
    journal.state = InstallJournal::State::kCommitted;
    if (!WriteJournal(request.programFolder, journal, &error)) {
        // The journal on disk still says installing, and the next start would
        // roll back a complete update: put it back now, while that is known.
        journal.state = InstallJournal::State::kInstalling;
        return RollBackAfter(
            Report(Failure::System("Writing", JournalPath(request.programFolder), error)), journal,
            request.programFolder, control);
    }
    HoldIfAsked("committed");

    std::string note;
    result.restarted = StartAgain(control, restart, &note);
    const DWORD restarted = ::GetTickCount();
    char timing[160];
    std::snprintf(timing, sizeof timing,
                  "installed: %u file(s) staged in %lu ms, then %lu ms from the close to the start "
                  "again",
                  static_cast<unsigned>(names.size()), static_cast<unsigned long>(staged - begun),
                  static_cast<unsigned long>(restarted - staged));
    diag::LogNote(timing, journal.targetFolder.c_str());
    if (CleanUpCommitted(journal)) {
        RemoveJournal(request.programFolder);
    } else if (!restart.empty()) {
        // The journal stays for the next start's clean-up; the product is
        // running again and must not be started a second time then.
        journal.restart.clear();
        WriteJournal(request.programFolder, journal, &error);
    }
    result.outcome = InstallResult::Outcome::kInstalled;
    result.message = "Update success" + note;
    return result;
}

RecoveryResult RecoverInterruptedInstall(const std::string& programFolder,
                                         ProductControl& control) {
    RecoveryResult result;
    const std::string path = JournalPath(programFolder);
    ::DeleteFileA((path + ".tmp").c_str());  // a journal never finished; nothing was touched
    std::string text;
    DWORD error = 0;
    if (!ReadWholeFile(path, kJournalBytes, &text, &error)) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            // Without a journal the backup folder holds only files staged by
            // an installation cut short before it stopped the product.
            RemoveFolder(programFolder + kBackupFolderName);
            return result;
        }
        result.found = true;
        result.ok = false;
        result.message = Report(Failure::System("Reading", path, error)) +
                         " An interrupted update could not be checked. No update check was made.";
        return result;
    }
    result.found = true;
    std::optional<InstallJournal> journal = ParseJournal(text);
    if (!journal) {
        result.ok = false;
        result.message = "The record of an interrupted update \"" + path +
                         "\" cannot be read, so the files it names were left as they are. No "
                         "update check was made.";
        return result;
    }
    // Trusted no further than the product's folder: the program folder, or
    // a folder that holds the product's program. Anyone who can write the
    // journal could otherwise have files deleted and a program started
    // anywhere, with the updater's rights.
    std::string why;
    if (!StaysInItsFolder(*journal, &why)) {
        why = "it names " + why;
    } else if (!SameFile(journal->targetFolder, programFolder) &&
               !IsRegularFile(journal->targetFolder + kProductFileName)) {
        why = "its folder \"" + journal->targetFolder + "\" is neither this one nor Kelvo's";
    }
    if (!why.empty()) {
        diag::LogNote(("record of an interrupted update left alone: " + why).c_str(), path.c_str());
        result.ok = false;
        result.message = "The record of an interrupted update \"" + path +
                         "\" was left alone, because " + why +
                         ". Nothing it names was changed or started. No update check was made.";
        return result;
    }

    if (journal->state == InstallJournal::State::kCommitted) {
        CleanUpCommitted(*journal);
        // Only the clean-up was left, and the product's start when the
        // updater ended right after the commit: nothing to tell otherwise.
        std::string note;
        if (!journal->restart.empty() && !control.IsRunning() &&
            StartAgain(control, journal->restart, &note)) {
            result.message = "The last update was completed and Kelvo was started again.";
        }
        if (!Exists(journal->backupFolder)) {
            RemoveJournal(programFolder);
        }
        result.message += note;
        return result;
    }

    // Anything started since the interruption runs over a mix of files.
    std::string exe;
    if (StopProduct(control, kProductGraceMs, &exe) == StopOutcome::kStillRunning) {
        result.ok = false;
        result.message =
            "An interrupted update must be undone, but Kelvo is still running. "
            "Close Kelvo and start the updater again.";
        return result;
    }
    Failure failure;
    if (!RollBack(*journal, &failure)) {
        result.ok = false;
        result.message = "An interrupted update could not be undone: " + Report(failure) +
                         " The previous version is kept in " + journal->backupFolder +
                         " and put back on the next start.";
        return result;
    }
    RemoveFolder(journal->backupFolder);
    RemoveJournal(programFolder);
    std::string note;
    std::string restart = !journal->restart.empty() ? journal->restart : exe;
    StartAgain(control, restart, &note);
    result.message = "An interrupted update was undone: the previous version is back." + note;
    return result;
}

}  // namespace tovane
