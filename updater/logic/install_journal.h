// The install journal: what an installation replaces, where each backup
// lies and what is new, written before the first file is touched so that an
// installation cut short (a crash, a power cut, a killed process) can be put
// back on the next start. Text, one record a line; no windows.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovane {

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

// The names to install, each once (Windows names are case-insensitive), in
// the order of their first appearance; empty entries left out.
std::vector<std::string> DistinctNames(const std::vector<std::string>& names);

}  // namespace tovane
