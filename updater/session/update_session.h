// One update, start to end, without a window: find the folders, put right
// an interrupted installation, read the installed version, fetch and verify
// the manifest, parse it, decide; then, when asked, fetch the listed files,
// check them, install them and record the version. Each job runs on a
// thread of its own and reports through a SessionView; the dialog only
// shows what it is told and forwards the user's clicks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "install/installer.h"
#include "manifest.h"
#include "net/internet.h"
#include "session/view.h"
#include "version_rule.h"

namespace tovane {

// What one job of the session does.
enum JobMode : std::int8_t {
    kCheckJob = 1,   // folders, recovery, installed version, manifest, decision
    kUpdateJob = 2,  // every listed file fetched, checked and installed
};

// How the last check ended, for a caller without a dialog (Tovane.exe /quiet).
enum class CheckOutcome {
    kFailed,    // no decision: a folder, the recovery, the server or a check said no
    kNoUpdate,  // up to date, or the server has no manifest
    kOffered,   // an update was offered
    kHeldBack,  // newer, but not yet rolled out to this machine (quiet checks only)
};

// A manifest's names made into names for the ANSI file calls, every one a
// plain file name; false with the first that is not.
bool MakeFileNamesUsable(Manifest* manifest, std::string* unusable);

// A signed manifest's [Release] Expires: true once it has passed, or when
// it is there and cannot be read. Without one, never.
bool PastExpiry(const Manifest& manifest);

class UpdateSession {
public:
    // baseUrl ends with '/'. A quiet session is a check that no one asked
    // for: it honours a phased rollout, where a check the user started
    // always offers what is there.
    UpdateSession(std::string baseUrl, std::shared_ptr<SessionView> view, bool quiet = false);
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    // Starts a job on a thread of its own; false when no thread could be
    // started (no job runs, and the view hears nothing of it).
    static bool StartWorker(const std::shared_ptr<UpdateSession>& session, std::int8_t mode);

    // The dialog is closing. False while files are being replaced: that
    // ends by itself, whole or rolled back, and must not be cut short.
    bool Cancel() noexcept;
    // Waits at most timeoutMs for the running job's thread.
    void Join(DWORD timeoutMs);

    // After a check job has been joined.
    CheckOutcome Outcome() const { return outcome_; }
    // The notes of the offered update, once the check has offered it.
    const std::wstring& OfferedNotes() const { return offeredNotes_; }
    // Another view for the jobs to come (none may be running): the quiet
    // check hands its offer over to the dialog this way.
    void SetView(std::shared_ptr<SessionView> view) { view_ = std::move(view); }

    // At the very end, whatever happened: the downloads leave the temporary
    // folder and the installed version, new or unchanged, is written to the
    // program folder's version file.
    void End();

private:
    struct Job {
        std::shared_ptr<UpdateSession> session;  // kept alive by its thread
        std::int8_t mode;
    };
    static unsigned __stdcall ThreadProc(void* parameter);
    void Run(std::int8_t mode);

    // The check job's steps.
    bool FindFolders();
    bool Recover();
    bool RecoverElevated(ProductControl& control, RecoveryResult* result);
    bool FetchManifest(std::string* manifest, std::string* signature);
    bool Verify(const std::string& manifest, const std::string& signature);
    void OnDownloadsDone(const std::string& manifest);
    bool Fresh(const Manifest& manifest);
    bool RolledOutHere(const Manifest& manifest);

    // The update job's steps.
    void FindUnchanged();
    bool FetchFiles();
    bool CheckFiles(std::vector<kelvo::unique_hfile>* held, std::vector<HANDLE>* sources);
    void RunInstallation(std::vector<HANDLE> sources, std::vector<kelvo::unique_hfile>* held);
    std::string TargetNow();
    void InstallElevated(const std::string& target);

    // Recovery and installation replace files: while they run, closing
    // waits. False when the session was cancelled first.
    bool BeginReplacingFiles();
    void EndReplacingFiles();

    void Status(std::string text);
    void Refuse(std::string text);

    std::shared_ptr<SessionView> view_;
    const bool quiet_;
    CheckOutcome outcome_ = CheckOutcome::kFailed;
    std::wstring offeredNotes_;
    net::TransferCancel cancel_;
    kelvo::unique_handle thread_;

    // Guards what End() reads and the jobs write, and the two flags.
    std::mutex mutex_;
    bool cancelled_ = false;
    bool replacingFiles_ = false;

    const std::string m_strUrl;
    const std::string m_strVerName = "Version";
    std::string m_strAppDir;   // the program folder, ending with '\'; empty until known
    std::string m_strTempDir;  // ending with '\'
    Version installed_;        // the installed version, as Version.ini records it
    // The manifest's list ('?'-separated in [Programs]), filled by the check.
    std::vector<std::string> m_vecFiles;
    Manifest manifest_;  // the (verified) manifest the decision was made on
    bool manifestArrived_ = false;
    // The bytes the check verified, and their signature.
    std::string manifestBytes_;
    std::string signatureBytes_;
    // Whether each listed file arrived whole, from the last update job.
    std::vector<bool> arrived_;
    // Listed files already up to date in plannedTarget_: not fetched, not
    // replaced.
    std::set<std::string> unchanged_;
    std::string plannedTarget_;
};

}  // namespace tovane
