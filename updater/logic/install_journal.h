// The install journal: what an installation replaces, where each backup
// lies and what is new, written before the first file is touched so that an
// installation cut short (a crash, a power cut, a killed process) can be put
// back on the next start. Text, one record a line; no windows.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovane {

// The folder beside the files where an installation keeps the old and the
// new copies, and the product's program that is stopped and started again.
inline constexpr char kBackupFolderName[] = "Tovane.rollback\\";
inline constexpr char kProductFileName[] = "Kelvo.exe";
// A journal names a few files; anything this large was not written here.
inline constexpr std::size_t kJournalBytes = std::size_t(16) << 20;

struct JournalEntry {
    std::string name;  // a plain file name in the target folder
    bool existed;      // a backup holds its previous content
};

struct InstallJournal {
    enum class State { kInstalling, kCommitted };
    State state = State::kInstalling;
    std::string targetFolder;  // ends with a backslash
    std::string backupFolder;  // on the target folder's volume, ends with a backslash
    std::string restart;       // the stopped product's full path; empty: none was stopped
    std::vector<JournalEntry> entries;
};

std::string FormatJournal(const InstallJournal& journal);
// Nothing for a text that is not a complete journal: the end line is written
// last, so a journal without it was never finished.
std::optional<InstallJournal> ParseJournal(std::string_view text);

// Where entry `index` keeps its previous content, and where its new content
// is assembled before it is renamed into place.
std::string BackupPath(const InstallJournal& journal, std::size_t index);
std::string StagingPath(const InstallJournal& journal, std::size_t index);

// Whether the journal stays inside its own target folder, as every journal
// the installer writes does: the backup folder is <target>Tovane.rollback\,
// and the program to start again, if any, is <target>Kelvo.exe. A record
// that says otherwise was not written by the installer, and recovery must
// not delete, move or start anything it names. *why: what is wrong.
bool StaysInItsFolder(const InstallJournal& journal, std::string* why);

// The names to install, each once (Windows names are case-insensitive), in
// the order of their first appearance; empty entries left out.
std::vector<std::string> DistinctNames(const std::vector<std::string>& names);

}  // namespace tovane
