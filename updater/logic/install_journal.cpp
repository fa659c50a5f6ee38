#include "install_journal.h"

#include "file_names.h"
#include "text_compare.h"

namespace tovane {

namespace {

const char kHeader[] = "Tovane install journal 1";
const char kEnd[] = "end";

bool TakeLine(std::string_view& text, std::string_view* line) {
    if (text.empty()) {
        return false;
    }
    std::size_t end = text.find('\n');
    *line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line->empty() && line->back() == '\r') {
        line->remove_suffix(1);
    }
    return true;
}

bool TakeValue(std::string_view line, std::string_view key, std::string* value) {
    if (line.substr(0, key.size()) != key) {
        return false;
    }
    value->assign(line.substr(key.size()));
    return true;
}

}  // namespace

std::string FormatJournal(const InstallJournal& journal) {
    std::string text = kHeader;
    text += "\r\nstate=";
    text += journal.state == InstallJournal::State::kCommitted ? "committed" : "installing";
    text += "\r\ntarget=" + journal.targetFolder;
    text += "\r\nbackup=" + journal.backupFolder;
    text += "\r\nrestart=" + journal.restart;
    for (const JournalEntry& entry : journal.entries) {
        text += entry.existed ? "\r\nreplace=" : "\r\nnew=";
        text += entry.name;
    }
    text += "\r\n";
    text += kEnd;
    text += "\r\n";
    return text;
}

std::optional<InstallJournal> ParseJournal(std::string_view text) {
    InstallJournal journal;
    std::string_view line;
    if (!TakeLine(text, &line) || line != kHeader) {
        return std::nullopt;
    }
    std::string state;
    if (!TakeLine(text, &line) || !TakeValue(line, "state=", &state)) {
        return std::nullopt;
    }
    if (state == "committed") {
        journal.state = InstallJournal::State::kCommitted;
    } else if (state != "installing") {
        return std::nullopt;
    }
    if (!TakeLine(text, &line) || !TakeValue(line, "target=", &journal.targetFolder) ||
        !TakeLine(text, &line) || !TakeValue(line, "backup=", &journal.backupFolder) ||
        !TakeLine(text, &line) || !TakeValue(line, "restart=", &journal.restart)) {
        return std::nullopt;
    }
    // Both folders end in a backslash, and the backup folder is never the
    // target itself: a damaged journal must not make recovery delete files
    // of the product.
    if (journal.targetFolder.empty() || journal.targetFolder.back() != '\\' ||
        journal.backupFolder.size() <= journal.targetFolder.size() ||
        journal.backupFolder.back() != '\\' ||
        journal.backupFolder.compare(0, journal.targetFolder.size(), journal.targetFolder) != 0) {
        return std::nullopt;
    }
    while (TakeLine(text, &line)) {
        if (line == kEnd) {
            return text.find_first_not_of("\r\n") == std::string_view::npos
                       ? std::optional<InstallJournal>(journal)
                       : std::nullopt;
        }
        JournalEntry entry{std::string(), false};
        if (TakeValue(line, "replace=", &entry.name)) {
            entry.existed = true;
        } else if (!TakeValue(line, "new=", &entry.name)) {
            return std::nullopt;
        }
        // The installer writes only names that passed this rule; any other
        // name means a damaged journal, and recovery must not act on it.
        if (!IsPlainFileName(entry.name)) {
            return std::nullopt;
        }
        journal.entries.push_back(entry);
    }
    return std::nullopt;
}

bool StaysInItsFolder(const InstallJournal& journal, std::string* why) {
    if (journal.backupFolder != journal.targetFolder + kBackupFolderName) {
        *why = "a backup folder other than \"" + journal.targetFolder + kBackupFolderName + "\"";
        return false;
    }
    if (!journal.restart.empty() &&
        !EqualsIgnoreCase(journal.restart, journal.targetFolder + kProductFileName)) {
        *why = "a program to start other than \"" + journal.targetFolder + kProductFileName + "\"";
        return false;
    }
    return true;
}

std::string BackupPath(const InstallJournal& journal, std::size_t index) {
    return journal.backupFolder + std::to_string(index) + ".old";
}

std::string StagingPath(const InstallJournal& journal, std::size_t index) {
    return journal.backupFolder + std::to_string(index) + ".new";
}

std::vector<std::string> DistinctNames(const std::vector<std::string>& names) {
    std::vector<std::string> distinct;
    for (const std::string& name : names) {
        if (name.empty()) {
            continue;
        }
        bool seen = false;
        for (const std::string& kept : distinct) {
            seen = seen || EqualsIgnoreCase(kept, name);
        }
        if (!seen) {
            distinct.push_back(name);
        }
    }
    return distinct;
}

}  // namespace tovane
