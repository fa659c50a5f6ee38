#include "replace_transaction.h"

namespace tovane {

ReplaceTransaction::ReplaceTransaction(std::string backupDir) : backupDir_(std::move(backupDir)) {
    if (!backupDir_.empty() && backupDir_.back() != '\\') {
        backupDir_ += '\\';
    }
}

ReplaceTransaction::~ReplaceTransaction() {
    if (!done_) {
        Rollback();
    }
}

const ReplaceTransaction::Step* ReplaceTransaction::Find(const std::string& destination) const {
    for (const Step& step : steps_) {
        if (::lstrcmpiA(step.destination.c_str(), destination.c_str()) == 0) {
            return &step;
        }
    }
    return nullptr;
}

bool ReplaceTransaction::Replace(const std::string& source, const std::string& destination,
                                 DWORD* error) {
    // A name listed twice keeps the backup of its first replacement: that
    // one holds the installed file, the second would hold the new one.
    if (Find(destination) == nullptr) {
        Step step{destination, std::string()};
        DWORD attributes = ::GetFileAttributesA(destination.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ::CreateDirectoryA(backupDir_.c_str(), nullptr);
            step.backup = backupDir_ + std::to_string(steps_.size()) + ".bak";
            if (!::CopyFileA(destination.c_str(), step.backup.c_str(), FALSE)) {
                *error = ::GetLastError();
                return false;
            }
        }
        steps_.push_back(step);
    }
    if (!::CopyFileA(source.c_str(), destination.c_str(), FALSE)) {
        *error = ::GetLastError();
        return false;
    }
    return true;
}

void ReplaceTransaction::Commit() {
    done_ = true;
    Cleanup();
}

bool ReplaceTransaction::Rollback() {
    done_ = true;
    bool allBack = true;
    // Newest first, so that every destination ends with its oldest content.
    for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
        if (it->backup.empty()) {
            ::DeleteFileA(it->destination.c_str());
        } else if (::CopyFileA(it->backup.c_str(), it->destination.c_str(), FALSE)) {
            ::DeleteFileA(it->backup.c_str());
            it->backup.clear();
        } else {
            allBack = false;
        }
    }
    if (allBack) {
        Cleanup();
    }
    return allBack;
}

void ReplaceTransaction::Cleanup() {
    for (const Step& step : steps_) {
        if (!step.backup.empty()) {
            ::DeleteFileA(step.backup.c_str());
        }
    }
    steps_.clear();
    ::RemoveDirectoryA(backupDir_.c_str());
}

}  // namespace tovane
