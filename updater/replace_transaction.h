// Copies files over installed ones so that a failure part-way can put every
// replaced file back: an update never leaves a mix of old and new files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tovane {

class ReplaceTransaction {
public:
    // backupDir: a folder of its own for the copies of replaced files; it is
    // created on the first replacement.
    explicit ReplaceTransaction(std::string backupDir);
    ReplaceTransaction(const ReplaceTransaction&) = delete;
    ReplaceTransaction& operator=(const ReplaceTransaction&) = delete;
    // Neither committed nor rolled back: rolls back.
    ~ReplaceTransaction();

    // Copies source over destination (created when missing). False with the
    // system's error code of the failing copy; nothing of this step is left.
    bool Replace(const std::string& source, const std::string& destination, DWORD* error);

    // The new files stay; the copies of the old ones are deleted.
    void Commit();
    // Every replaced file gets its old content back, and files that did not
    // exist before are deleted again. A copy that cannot be put back stays in
    // the backup folder, so nothing is lost. True when all went back.
    bool Rollback();

private:
    struct Step {
        std::string destination;
        std::string backup;  // empty: the destination did not exist before
    };
    const Step* Find(const std::string& destination) const;
    void Cleanup();

    std::string backupDir_;
    std::vector<Step> steps_;
    bool done_ = false;
};

}  // namespace tovane
