// The update, read top to bottom: Run() dispatches a job, and the steps
// below follow in the order they happen.
#include "session/update_session.h"

#include <objbase.h>
#include <process.h>

#include <cstdio>

#include "app_paths.h"
#include "diag/log.h"
#include "download_plan.h"
#include "file_names.h"
#include "install/durable_file.h"
#include "install/installer.h"
#include "install/product_control.h"
#include "install/version_record.h"
#include "gzip_inflate.h"
#include "install_plan.h"
#include "net/download.h"
#include "release_values.h"
#include "install_journal.h"
#include "session/elevated_step.h"
#include "session/rollout_bucket.h"
#include "trust/verify.h"
#include "ui/text.h"

namespace tovane {

namespace {

void ShowProgress(SessionView& view, SessionEvent::Kind kind, int value) {
    SessionEvent event;
    event.kind = kind;
    event.value = value;
    view.Show(std::move(event));
}

// The transfer reports every 10240-byte step; the view gets the latest
// position at most once per period and once at the end of each file. An
// event per step cost more than the transfer itself: each one is a
// wineserver round trip and a repaint of the bar. Idle comes from the
// transfer's watchdog thread, the rest from the session's: one lock keeps
// the position and the order of the events.
class ViewProgress : public DownloadProgress {
public:
    explicit ViewProgress(SessionView& view) : view_(view) {}
    void Show() override {
        std::lock_guard<std::mutex> lock(mutex_);
        FlushLocked();
        Send(SessionEvent::Kind::kProgressShow, 0);
    }
    void SetRange(std::int16_t, std::int16_t upper) override {
        std::lock_guard<std::mutex> lock(mutex_);
        FlushLocked();
        Send(SessionEvent::Kind::kProgressRange, upper);
    }
    void SetPos(int pos) override {
        std::lock_guard<std::mutex> lock(mutex_);
        position_ = pos;
        pending_ = true;
        // A reset to 0 starts a file (or starts it over): shown at once.
        if (pos == 0 || ::GetTickCount() - lastSent_ >= kPeriodMs) {
            FlushLocked();
        }
    }
    // Once a second, also while the transfer waits for the network: a
    // position held back just before a stall is shown through it.
    void Idle() override { Flush(); }
    // The last position stored, sent if the view has not had it yet.
    void Flush() {
        std::lock_guard<std::mutex> lock(mutex_);
        FlushLocked();
    }

private:
    void FlushLocked() {
        if (pending_) {
            pending_ = false;
            lastSent_ = ::GetTickCount();
            Send(SessionEvent::Kind::kProgressPos, position_);
        }
    }
    void Send(SessionEvent::Kind kind, int value) { ShowProgress(view_, kind, value); }

    static constexpr DWORD kPeriodMs = 30;
    SessionView& view_;
    std::mutex mutex_;
    int position_ = 0;
    bool pending_ = false;
    DWORD lastSent_ = ::GetTickCount();
};

// The installer's progress, as the view's status and bar.
class ViewInstallProgress : public InstallProgress {
public:
    explicit ViewInstallProgress(SessionView& view) : view_(view) {}
    void Status(const std::string& text) override { view_.Show(SessionEvent::Status(text)); }
    void Range(int count) override {
        ShowProgress(view_, SessionEvent::Kind::kProgressRange, count);
    }
    void Position(int done) override {
        ShowProgress(view_, SessionEvent::Kind::kProgressPos, done);
    }

private:
    SessionView& view_;
};

// GetCurrentDirectoryA and GetTempPathA alike: the length written, 0 on
// failure, or the size needed when the buffer is too small.
bool QueryFolder(DWORD(WINAPI* query)(DWORD, LPSTR), char (&buffer)[MAX_PATH + 1], DWORD* error) {
    DWORD length = query(MAX_PATH, buffer);
    *error = ::GetLastError();
    if (length == 0) {
        return false;
    }
    if (length >= MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    return true;
}

// How long a new job waits for the thread of the one before.
const DWORD kPreviousJobWaitMs = 5000;

// The manifest and its signature: small, and needed now, so a server that
// keeps them coming for long is broken, whatever it sends.
// The server's own word that a file is not there (HTTP 404), as against a
// failure to get it.
bool SaysNotThere(const Failure& why) {
    return why.kind == Failure::Kind::kHttpStatus && why.code == 404;
}

TransferBounds CheckBounds(std::size_t maxBytes) {
    TransferBounds bounds;
    bounds.maxBytes = maxBytes;
    bounds.deadlineMs = 120000;
    return bounds;
}

std::string MissingFolder(const char* which, DWORD error) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "The %s folder could not be determined (error %lu). No update check was made.",
                  which, static_cast<unsigned long>(error));
    return text;
}

// How every failure to get the manifest starts, whatever the reason after it.
const std::string kUnreachable = "The update server could not be reached: ";

std::string UnverifiedMessage(const std::string& reason) {
    return "The update information from the server could not be verified (" + reason +
           "). No update is offered.";
}

// A downloaded file read once, whole, through a handle that shares reading
// only, and then deleted: the bytes read are the only copy that counts.
bool TakeDownload(const std::string& path, std::size_t limit, std::string* bytes) {
    DWORD error = 0;
    bool read = false;
    {
        kelvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        read = file && ReadWholeFile(file.get(), limit, bytes, &error);
    }
    ::DeleteFileA(path.c_str());
    return read;
}

// The gzip form inflated into the file as it arrives: no second pass over
// it once the transfer ends. Held to the form's listed size and to the
// file's signed size; the inflated bytes are then checked like any download.
class InflatingSink : public BodySink {
public:
    InflatingSink(std::string path, std::uint64_t packedSize, std::uint64_t size)
        : path_(std::move(path)),
          packedSize_(packedSize),
          inflater_(packedSize, size, [this](const std::uint8_t* data, std::size_t length) {
              DWORD written = 0;
              return ::WriteFile(out_.get(), data, static_cast<DWORD>(length), &written, nullptr) &&
                     written == length;
          }) {}

    bool Restart(std::string* why) override {
        inflater_.Reset();
        out_.reset(::CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out_) {
            *why = Describe(Failure::System("Creating", path_, ::GetLastError()));
            return false;
        }
        return true;
    }
    bool Take(const char* data, std::size_t size, std::string* why) override {
        if (inflater_.Feed(data, size) == GzipStatus::kOk) {
            return true;
        }
        *why = "the gzip form is refused: " + inflater_.errorText();
        return false;
    }
    // After the transfer: the member ended where the form's listed size does.
    bool Finish(const std::string& packed) {
        out_.reset();
        if (inflater_.Finish() != GzipStatus::kOk || inflater_.consumed() != packedSize_) {
            diag::LogNote(("the gzip form is refused: " + inflater_.errorText()).c_str(),
                          packed.c_str());
            return false;
        }
        return true;
    }

private:
    const std::string path_;
    const std::uint64_t packedSize_;
    kelvo::unique_hfile out_;
    GzipInflater inflater_;
};

}  // namespace

bool PastExpiry(const Manifest& manifest) {
    if (!manifest.release.expiresText) {
        return false;
    }
    if (!manifest.release.expires) {
        return true;
    }
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const std::int64_t seconds =
        static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 10000000) -
        11644473600LL;  // from 1601 to 1970
    return seconds > *manifest.release.expires;
}

bool MakeFileNamesUsable(Manifest* manifest, std::string* unusable) {
    // File names become paths for the ANSI file calls: a Unicode manifest's
    // names are taken into the system's code page, and one it cannot hold
    // is refused like any other unusable name.
    if (manifest->encoding != ManifestEncoding::Gbk) {
        for (std::string& name : manifest->files) {
            std::string ansi;
            if (!kelvo::ui::AnsiFromUtf8(name, &ansi)) {
                *unusable = name;
                return false;
            }
            name = std::move(ansi);
        }
    }
    // Names from the server become paths in two folders; one that is not a
    // plain file name refuses the whole list before anything is fetched.
    if (const std::string* unsafe = FindUnsafeName(manifest->files)) {
        *unusable = *unsafe;
        return false;
    }
    return true;
}

UpdateSession::UpdateSession(std::string baseUrl, std::shared_ptr<SessionView> view, bool quiet)
    : view_(std::move(view)), quiet_(quiet), m_strUrl(std::move(baseUrl)) {}

bool UpdateSession::StartWorker(const std::shared_ptr<UpdateSession>& session, std::int8_t mode) {
    // The check job has posted its decision before it returns; it is all
    // but over when the user can ask for the update.
    if (session->thread_ &&
        ::WaitForSingleObject(session->thread_.get(), kPreviousJobWaitMs) != WAIT_OBJECT_0) {
        return false;
    }
    auto* handOver = new Job{session, mode};
    auto thread =
        reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &ThreadProc, handOver, 0, nullptr));
    if (thread == nullptr) {
        delete handOver;
        return false;
    }
    session->thread_.reset(thread);
    return true;
}

unsigned __stdcall UpdateSession::ThreadProc(void* parameter) {
    std::unique_ptr<Job> job(static_cast<Job*>(parameter));
    // The shell starts the product again from this thread, and may hand
    // that to COM extensions.
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    job->session->Run(job->mode);
    // Only a successful start is paired with an end.
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return 1;
}

bool UpdateSession::Cancel() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (replacingFiles_) {
        return false;
    }
    cancelled_ = true;
    cancel_.Cancel();
    return true;
}

void UpdateSession::Join(DWORD timeoutMs) {
    // A transfer that does not give up in time is left behind: it touches
    // nothing of the dialog, and the process ends after the dialog.
    if (thread_) {
        ::WaitForSingleObject(thread_.get(), timeoutMs);
        thread_.reset();
    }
}

void UpdateSession::Run(std::int8_t mode) {
    // "线程开始运行"
    ::OutputDebugStringA("\xCF\xDF\xB3\xCC\xBF\xAA\xCA\xBC\xD4\xCB\xD0\xD0\n");
    if (mode == kCheckJob) {
        outcome_ = CheckOutcome::kFailed;
        std::string manifest;
        std::string signature;
        if (FindFolders() && FetchManifest(&manifest, &signature) && Verify(manifest, signature)) {
            OnDownloadsDone(manifest);
            // An elevated installation verifies these very bytes again.
            manifestBytes_ = std::move(manifest);
            signatureBytes_ = std::move(signature);
        }
    } else {
        std::vector<kelvo::unique_hfile> held;
        std::vector<HANDLE> sources;
        const DWORD begun = ::GetTickCount();
        const bool fetched = FetchFiles();
        const DWORD checking = ::GetTickCount();
        if (fetched && CheckFiles(&held, &sources)) {
            char timing[96];
            std::snprintf(timing, sizeof timing, "update job: fetched in %lu ms, checked in %lu ms",
                          static_cast<unsigned long>(checking - begun),
                          static_cast<unsigned long>(::GetTickCount() - checking));
            diag::LogNote(timing, m_strTempDir.c_str());
            RunInstallation(std::move(sources), &held);
        }
    }
    // "线程结束 "
    ::OutputDebugStringA("\xCF\xDF\xB3\xCC\xBD\xE1\xCA\xF8 \n");
}

// Without both folders nothing is fetched: a failed query would leave an
// empty folder, and the downloads and the version file would land in
// whatever folder a relative name then means.
bool UpdateSession::FindFolders() {
    char folder[MAX_PATH + 1] = {};
    DWORD error = 0;
    if (!QueryFolder(&::GetCurrentDirectoryA, folder, &error)) {
        Status(MissingFolder("program", error));
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        m_strAppDir = ProgramFolderFromCurrentDir(folder);
    }
    // Before the version is read: it is the rolled-back one that counts.
    const bool recovered = Recover();
    const Version installed = ReadVersionRecord(LocalVersionFilePath(folder, m_strVerName));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        installed_ = installed;
    }
    if (!recovered) {
        return false;  // the status says what is wrong; no check over a broken folder
    }
    if (!QueryFolder(&::GetTempPathA, folder, &error)) {
        Status(MissingFolder("temporary", error));
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    m_strTempDir = folder;
    return true;
}

// An installation cut short by a crash is put right before anything else.
bool UpdateSession::Recover() {
    if (!BeginReplacingFiles()) {
        return false;
    }
    Win32ProductControl control(m_strAppDir, [this] { return view_->AskWhetherClosed(); });
    RecoveryResult recovery;
    if (!RecoverElevated(control, &recovery)) {
        recovery = RecoverInterruptedInstall(m_strAppDir, control);
    }
    EndReplacingFiles();
    if (!recovery.message.empty()) {
        Status(recovery.message);
    }
    return recovery.ok;
}

// The manifest, and with a key built in its signature right after it. A
// manifest that did not arrive this time is not read, even if an older file
// stands at the path: that would be a stale decision.
bool UpdateSession::FetchManifest(std::string* manifest, std::string* signature) {
    const bool keyed = trust::HasBuiltInKey();
    const std::vector<DownloadItem> items =
        CheckDownloads(m_strUrl, m_strTempDir, m_strVerName, keyed);
    ViewProgress progress(*view_);
    bool arrived[2] = {false, false};
    Failure why;
    arrived[0] = DownloadFile(items[0].url.c_str(), items[0].localPath.c_str(), progress, false,
                              &cancel_, RetryPolicy(), &why, CheckBounds(limits::kManifestBytes));
    // Only a manifest the server says is not there means "no update"; any
    // other failure must not pass for one.
    const bool absent = !arrived[0] && SaysNotThere(why);
    Failure signatureWhy;
    if (keyed && arrived[0]) {
        arrived[1] = DownloadFile(items[1].url.c_str(), items[1].localPath.c_str(), progress, false,
                                  &cancel_, RetryPolicy(), &signatureWhy,
                                  CheckBounds(limits::kSignatureBytes));
    }
    progress.Flush();
    if (cancel_.Cancelled()) {
        return false;
    }
    manifest->clear();
    signature->clear();
    // A signature whose transfer failed is missing, whatever a file at the
    // path may still hold.
    if (keyed &&
        !(arrived[1] && TakeDownload(items[1].localPath, limits::kSignatureBytes, signature))) {
        signature->clear();
        ::DeleteFileA(items[1].localPath.c_str());
    }
    // One the server says is not there is missing; one that broke off, was
    // refused or ran past its bound is the server's failure, and is named so.
    if (keyed && arrived[0] && !arrived[1] && !SaysNotThere(signatureWhy)) {
        ::DeleteFileA(items[0].localPath.c_str());
        Status(kUnreachable + Describe(signatureWhy) + " No update is offered.");
        return false;
    }
    if (!arrived[0]) {
        ::DeleteFileA(items[0].localPath.c_str());
        if (!absent) {
            Status(kUnreachable + Describe(why) + " No update is offered.");
            return false;
        }
        // Read as an empty manifest, which offers nothing.
        manifestArrived_ = false;
        return true;
    }
    manifestArrived_ = true;
    if (!TakeDownload(items[0].localPath, limits::kManifestBytes, manifest)) {
        Status(keyed ? UnverifiedMessage("it could not be read")
                     : std::string("The update list or notes on the server are too long to be "
                                   "read whole. No update is offered."));
        return false;
    }
    return true;
}

// With a key built in nothing of the manifest is parsed before its bytes
// verify against the signature, and then only those bytes are parsed.
bool UpdateSession::Verify(const std::string& manifest, const std::string& signature) {
    if (!trust::HasBuiltInKey() || !manifestArrived_) {
        return true;
    }
    long error = 0;
    const trust::ManifestCheck check = trust::VerifyManifest(
        manifest.data(), manifest.size(), signature.data(), signature.size(), &error);
    if (check == trust::ManifestCheck::kVerified) {
        return true;
    }
    std::string reason = trust::ToString(check);
    if (check == trust::ManifestCheck::kCryptoFailure) {
        char code[32];
        std::snprintf(code, sizeof code, " 0x%08lX", static_cast<unsigned long>(error));
        reason += code;
    }
    Status(UnverifiedMessage(reason));
    return false;
}

// The decision: the list, the offered version and the notes, from the
// (verified) bytes in memory.
void UpdateSession::OnDownloadsDone(const std::string& bytes) {
    Manifest manifest;
    if (ParseManifest(bytes, &manifest) != ManifestParse::kOk) {
        Status(
            "The update list or notes on the server are too long to be read whole. No "
            "update is offered.");
        return;
    }
    std::string unsafe;
    if (!MakeFileNamesUsable(&manifest, &unsafe)) {
        Status("The update list on the server names a file that cannot be used safely: \"" +
               unsafe + "\". No update is offered.");
        return;
    }
    Version installed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        m_vecFiles.insert(m_vecFiles.end(), manifest.files.begin(), manifest.files.end());
        installed = installed_;
        manifest_ = manifest;
    }
    if (!Fresh(manifest)) {
        return;
    }
    if (IsNewerVersion(installed, manifest.offered)) {
        if (!RolledOutHere(manifest)) {
            return;
        }
        outcome_ = CheckOutcome::kOffered;
        offeredNotes_ = kelvo::ui::NotesForBox(manifest);
        SessionEvent offer;
        offer.kind = SessionEvent::Kind::kUpdateOffered;
        offer.notes = offeredNotes_;
        view_->Show(std::move(offer));
        return;
    }
    outcome_ = CheckOutcome::kNoUpdate;
    // "Software does not need to update！" (full-width '！' in GBK)
    Status("Software does not need to update\xA3\xA1");
}

// A signed manifest carries the date after which it may no longer be acted
// on: an old one replayed by a mirror or a man in the middle would
// otherwise hold the machine on an old release for ever. Without a key
// nothing is signed, and the date proves nothing.
bool UpdateSession::Fresh(const Manifest& manifest) {
    if (!trust::HasBuiltInKey() || !manifestArrived_ || !manifest.release.expiresText) {
        return true;
    }
    if (!manifest.release.expires) {
        Status(UnverifiedMessage("its expiry date \"" + *manifest.release.expiresText +
                                 "\" cannot be read"));
        return false;
    }
    if (PastExpiry(manifest)) {
        Status("The update information from the server expired on " +
               *manifest.release.expiresText +
               " (UTC) and was not renewed. No update is offered; the vendor publishes it "
               "again with a new date.");
        return false;
    }
    return true;
}

// A phased rollout holds a quiet check back unless this machine's bucket is
// within the share; a person who asks gets the update whatever the share.
bool UpdateSession::RolledOutHere(const Manifest& manifest) {
    if (!quiet_ || !manifest.release.rolloutText) {
        return true;
    }
    unsigned bucket = 0;
    Failure why;
    if (manifest.release.rollout && *manifest.release.rollout >= 100) {
        return true;
    }
    if (manifest.release.rollout && MachineRolloutBucket(&bucket, &why) &&
        InRollout(bucket, *manifest.release.rollout)) {
        return true;
    }
    if (why) {
        diag::Log(why);
    }
    outcome_ = CheckOutcome::kHeldBack;
    Status("An update is being rolled out (" + *manifest.release.rolloutText +
           "%) and is not yet offered to this machine.");
    return false;
}

// The folder the update will go to, and every listed file that is there
// already with its [Files] size and SHA-256: it is neither fetched nor
// replaced. Without entries nothing is left out.
void UpdateSession::FindUnchanged() {
    unchanged_.clear();
    plannedTarget_.clear();
    if (manifest_.filesValues.empty()) {
        return;
    }
    plannedTarget_ = TargetNow();
    const int n = InstalledEntryCount(m_vecFiles.size());
    for (int i = 0; i < n; ++i) {
        const std::string& name = m_vecFiles[i];
        const std::string* value = manifest_.FilesValue(name);
        if (name.empty() || value == nullptr) {
            continue;
        }
        // Shared every way: the running product may hold its own files.
        kelvo::unique_hfile file(
            ::CreateFileA((plannedTarget_ + name).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (file &&
            trust::CheckFile(file.get(), value->c_str(), true) == trust::FileCheck::kMatch) {
            unchanged_.insert(name);
        }
    }
    if (!unchanged_.empty()) {
        diag::LogNote(
            (std::to_string(unchanged_.size()) + " listed file(s) already up to date").c_str(),
            plannedTarget_.c_str());
    }
}

// Every listed entry, in list order, each announced in the status box.
bool UpdateSession::FetchFiles() {
    ViewProgress progress(*view_);
    FindUnchanged();
    // Parallel to the list: an empty entry names nothing and has nothing to
    // fetch; a repeated name's last transfer counts for it.
    arrived_.assign(m_vecFiles.size(), true);
    for (const DownloadItem& item : UpdateDownloads(m_strUrl, m_strTempDir, m_vecFiles)) {
        if (cancel_.Cancelled()) {
            return false;
        }
        if (unchanged_.count(item.name) != 0) {
            continue;
        }
        Status("Downloading update file " + item.name);
        // A file with a signed size is never taken past it; one without is
        // bounded by the free space of the temporary folder's volume.
        TransferBounds bounds;
        trust::FilesEntry entry;
        const std::string* value = manifest_.FilesValue(item.name);
        const bool sized = value != nullptr && trust::ParseFilesValue(*value, entry);
        if (sized) {
            bounds.maxBytes = entry.size;
        }
        // Its gzip form, where one is published, held to its own listed size
        // and inflated to at most the file's; the inflated bytes are then
        // checked like any download.
        auto gzip = manifest_.compressed.find(item.name);
        bool ok = false;
        if (sized && gzip != manifest_.compressed.end()) {
            const std::string packed = item.localPath + manifest_names::kGzipSuffix;
            bounds.maxBytes = gzip->second;
            InflatingSink inflated(item.localPath, gzip->second, entry.size);
            ok =
                DownloadFile((item.url + manifest_names::kGzipSuffix).c_str(), packed.c_str(),
                             progress, true, &cancel_, RetryPolicy(), nullptr, bounds, &inflated) &&
                inflated.Finish(packed);
            ::DeleteFileA(packed.c_str());
        } else {
            ok = DownloadFile(item.url.c_str(), item.localPath.c_str(), progress, true, &cancel_,
                              RetryPolicy(), nullptr, bounds);
        }
        for (std::size_t i = 0; i < m_vecFiles.size(); ++i) {
            if (m_vecFiles[i] == item.name) {
                arrived_[i] = ok;
            }
        }
        progress.Flush();
    }
    return !cancel_.Cancelled();
}

// A file whose transfer failed or broke off is never installed, and each
// download is checked against its [Files] entry through a handle that
// shares reading only; the installer copies from that same handle, so the
// bytes checked are the bytes installed. All of it before the product is
// stopped.
bool UpdateSession::CheckFiles(std::vector<kelvo::unique_hfile>* held,
                               std::vector<HANDLE>* sources) {
    const int n = InstalledEntryCount(m_vecFiles.size());
    for (int i = 0; i < n; ++i) {
        if (unchanged_.count(m_vecFiles[i]) != 0) {
            continue;
        }
        if (static_cast<std::size_t>(i) >= arrived_.size() || !arrived_[i]) {
            Refuse("The update file \"" + m_vecFiles[i] +
                   "\" could not be downloaded completely. Nothing was changed; please try the "
                   "update again later.");
            return false;
        }
    }
    const bool required = trust::HasBuiltInKey();
    for (int i = 0; i < n; ++i) {
        const std::string& name = m_vecFiles[i];
        if (name.empty() || unchanged_.count(name) != 0) {
            sources->push_back(nullptr);  // installs nothing: empty, or there already
            continue;
        }
        held->emplace_back(::CreateFileA((m_strTempDir + name).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        DWORD error = ::GetLastError();
        trust::FileCheck check = trust::FileCheck::kReadFailed;
        if (held->back()) {
            const std::string* value = manifest_.FilesValue(name);
            check = trust::CheckFile(held->back().get(),
                                     value != nullptr ? value->c_str() : nullptr, required, &error);
        }
        if (check != trust::FileCheck::kMatch && check != trust::FileCheck::kNotRequired) {
            std::string reason = trust::ToString(check);
            if (check == trust::FileCheck::kReadFailed) {
                reason += ", error " + std::to_string(error);
            }
            Refuse("The update file \"" + name + "\" does not match the update information (" +
                   reason + "). Nothing was changed; please try the update again later.");
            return false;
        }
        sources->push_back(held->back().get());
    }
    return true;
}

void UpdateSession::RunInstallation(std::vector<HANDLE> sources,
                                    std::vector<kelvo::unique_hfile>* held) {
    InstallRequest request;
    request.programFolder = m_strAppDir;
    request.sourceFolder = m_strTempDir;
    std::vector<HANDLE> kept;
    const int n = InstalledEntryCount(m_vecFiles.size());
    for (int i = 0; i < n; ++i) {
        if (unchanged_.count(m_vecFiles[i]) == 0) {
            request.names.push_back(m_vecFiles[i]);
            kept.push_back(sources[i]);
        }
    }
    request.sources = std::move(kept);
    request.plannedTarget = plannedTarget_;
    request.versionFileName = m_strVerName + ".ini";
    request.version = manifest_.offered;

    // The journal lives in the program folder, the files go to the target:
    // where either needs an administrator, the step that writes them runs
    // as one.
    const std::string target = !plannedTarget_.empty() ? plannedTarget_ : TargetNow();
    if (NeedsAdministrator(target) || NeedsAdministrator(m_strAppDir)) {
        // The elevated copy opens and checks the downloads itself.
        held->clear();
        InstallElevated(target);
        return;
    }
    if (!BeginReplacingFiles()) {
        return;
    }
    Win32ProductControl control(request.programFolder,
                                [this] { return view_->AskWhetherClosed(); });
    ViewInstallProgress progress(*view_);
    const InstallResult result = Install(request, control, progress);
    EndReplacingFiles();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The version went to the folder the files went to; the program
        // folder's own record changes only when that is the same folder,
        // however its path is spelled.
        if (result.outcome == InstallResult::Outcome::kInstalled &&
            SameFolder(result.targetFolder, m_strAppDir)) {
            installed_ = manifest_.offered;
        }
    }

    switch (result.outcome) {
    case InstallResult::Outcome::kInstalled: {
        SessionEvent done;
        done.kind = SessionEvent::Kind::kUpdated;
        done.text = result.message;
        view_->Show(std::move(done));
        break;
    }
    case InstallResult::Outcome::kNothingToInstall:
        view_->Show(SessionEvent::Report(result.message, false, true));
        break;
    default:
        view_->Show(SessionEvent::Report(result.message, true, false));
        break;
    }
}

// The folder the update goes to as things stand: the running product's,
// else the program folder.
std::string UpdateSession::TargetNow() {
    std::string exe;
    Win32ProductControl control(m_strAppDir, [] { return false; });
    if (control.IsRunning()) {
        control.OpenProduct(&exe);
    }
    const std::string target = InstallTargetFolder(exe, m_strAppDir);
    return target.empty() ? m_strAppDir : target;
}

// The elevated copy of the updater verifies, stages and installs; the
// product is stopped here, as the user's, when the copy is ready for it, and
// started again here, never with administrator rights.
void UpdateSession::InstallElevated(const std::string& target) {
    if (!trust::HasBuiltInKey()) {
        // Nothing would check the files it copied: any program of this user
        // could have put its own there, to be installed as administrator.
        view_->Show(SessionEvent::Report(
            "Kelvo's folder \"" + target +
                "\" can be changed only with administrator rights. This updater has no key "
                "to verify the update files with, so it does not ask for them. Nothing was "
                "changed; an administrator can install the update.",
            true, false));
        return;
    }
    const std::string manifestPath = HandOverManifestPath(m_strTempDir);
    const std::string signaturePath = HandOverSignaturePath(m_strTempDir);
    auto handOverGone = [&] {
        ::DeleteFileA(manifestPath.c_str());
        ::DeleteFileA(signaturePath.c_str());
    };
    DWORD error = 0;
    if (!WriteFileDurably(manifestPath, manifestBytes_, &error) ||
        !WriteFileDurably(signaturePath, signatureBytes_, &error)) {
        const Failure failure = Failure::System("Writing", manifestPath, error);
        diag::Log(failure);
        handOverGone();
        view_->Show(SessionEvent::Report(Describe(failure) + " Nothing was changed.", true, false));
        return;
    }
    if (!BeginReplacingFiles()) {
        handOverGone();
        return;
    }
    Win32ProductControl control(m_strAppDir, [this] { return view_->AskWhetherClosed(); });
    Status("Installing the update with administrator rights...");
    // The product runs on while the copy verifies and stages the files; it
    // is stopped here, as the user, when the copy asks for it.
    std::string exe;
    StopOutcome stop = StopOutcome::kNotRunning;
    const ElevatedRun run = RunElevated(
        InstallArguments(m_strTempDir, target, ::GetCurrentProcessId()), m_strAppDir, [&] {
            Status("Closing Kelvo for the update...");
            stop = StopProduct(control, kProductGraceMs, &exe);
            Status("Installing the update with administrator rights...");
            return stop != StopOutcome::kStillRunning;
        });
    std::string note;
    if (stop == StopOutcome::kStopped && !exe.empty() && !control.IsRunning() &&
        !control.Start(exe, &error)) {
        const Failure failure = Failure::System("Starting", exe, error);
        diag::Log(failure);
        note = " " + Describe(failure) + " Please start it yourself.";
    }
    EndReplacingFiles();
    handOverGone();
    if (run.started && run.exitCode == kElevatedInstalled) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (SameFolder(target, m_strAppDir)) {
                installed_ = manifest_.offered;
            }
        }
        SessionEvent done;
        done.kind = SessionEvent::Kind::kUpdated;
        done.text = "Update success" + note;
        view_->Show(std::move(done));
        return;
    }
    view_->Show(SessionEvent::Report(ElevatedFailureMessage(run, false) + note, true, false));
}

// An interrupted installation in a folder only an administrator may write is
// put right by the elevated copy; the product is stopped before and started
// after it here. False: nothing to do elevated, the usual recovery runs.
bool UpdateSession::RecoverElevated(ProductControl& control, RecoveryResult* result) {
    std::string text;
    DWORD error = 0;
    if (!ReadWholeFile(JournalPath(m_strAppDir), kJournalBytes, &text, &error)) {
        return false;  // none, or unreadable: the usual recovery says so
    }
    const std::optional<InstallJournal> journal = ParseJournal(text);
    if (!journal ||
        (!NeedsAdministrator(m_strAppDir) && !NeedsAdministrator(journal->targetFolder))) {
        return false;
    }
    result->found = true;
    std::string exe;
    if (StopProduct(control, kProductGraceMs, &exe) == StopOutcome::kStillRunning) {
        result->ok = false;
        result->message =
            "An interrupted update must be undone, but Kelvo is still running. Close Kelvo and "
            "start the updater again.";
        return true;
    }
    const ElevatedRun run = RunElevated("/recover", m_strAppDir);
    const std::string restart = !journal->restart.empty() ? journal->restart : exe;
    if (!restart.empty() && !control.IsRunning()) {
        control.Start(restart, &error);
    }
    result->ok = run.started && run.exitCode == kElevatedInstalled;
    result->message = result->ok ? "An interrupted update was put right with administrator rights."
                                 : ElevatedFailureMessage(run, true) + " No update check was made.";
    return true;
}

void UpdateSession::End() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!m_strTempDir.empty()) {
        for (const std::string& entry : m_vecFiles) {
            ::DeleteFileA((m_strTempDir + entry).c_str());
        }
    }
    if (m_strAppDir.empty()) {
        return;  // the program folder was never known: no version file to write
    }
    DWORD error = 0;
    WriteVersionRecord(m_strAppDir + m_strVerName + ".ini", installed_, &error);
}

bool UpdateSession::BeginReplacingFiles() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
        return false;
    }
    replacingFiles_ = true;
    return true;
}

void UpdateSession::EndReplacingFiles() {
    std::lock_guard<std::mutex> lock(mutex_);
    replacingFiles_ = false;
}

void UpdateSession::Status(std::string text) { view_->Show(SessionEvent::Status(std::move(text))); }

// Said in the status box and in an error box: the update job stops here with
// nothing changed.
void UpdateSession::Refuse(std::string text) {
    view_->Show(SessionEvent::Report(std::move(text), true, true));
}

}  // namespace tovane
