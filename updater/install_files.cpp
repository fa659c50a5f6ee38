// Installing the downloaded files into the product's folder, and what every
// end of the dialog leaves behind: no downloads, and the version on disk.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "install_plan.h"
#include "replace_transaction.h"
#include "res/resource.h"
#include "tovanefiledlg.h"
#include "ui/text.h"

int CTovaneFileDlg::RunInstallation() {
    // A file whose transfer failed or broke off is never installed: with
    // any of the installed entries missing, nothing is touched at all.
    const int n = tovane::InstalledEntryCount(m_vecFiles.size());
    for (int i = 0; i < n; ++i) {
        bool ok = static_cast<std::size_t>(i) < m_results.size() && m_results[i].ok;
        if (!ok) {
            std::string message = "The update file \"" + m_vecFiles[i] +
                                  "\" could not be downloaded completely. Nothing was changed; "
                                  "please try the update again later.";
            SetStatus(message.c_str());
            kelvo::ui::MessageBoxGbk(GetSafeHwnd(), message.c_str(), "Update", MB_ICONERROR);
            return 1;
        }
    }

    char cParentProcessPath[MAX_PATH];
    ::ZeroMemory(cParentProcessPath, sizeof cParentProcessPath);
    StopRunningProduct(cParentProcessPath);
    InstallFiles(cParentProcessPath);
    return 1;
}

int CTovaneFileDlg::InstallFiles(const char* productPath) {
    const std::string product = productPath != nullptr ? productPath : "";
    const std::string runPath = tovane::InstallTargetFolder(product, m_strAppDir);
    const int n = tovane::InstalledEntryCount(m_vecFiles.size());

    SetStatus("update");
    m_progress.SetRange(0, static_cast<short>(n));

    // Replaced files are kept until every copy has succeeded.
    char backupName[64];
    std::snprintf(backupName, sizeof backupName, "Tovane.rollback.%lu\\",
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    tovane::ReplaceTransaction transaction(m_strTempDir + backupName);

    std::string strFileName;
    int i = 0;
    for (; i < n; ++i) {
        m_progress.SetPos(i);
        strFileName = m_vecFiles[i];
        std::string tempFilePath = m_strTempDir + strFileName;
        std::string runFilePath = runPath + strFileName;
        DWORD error = 0;
        if (!transaction.Replace(tempFilePath, runFilePath, &error)) {
            transaction.Rollback();
            char text[128];
            std::snprintf(text, sizeof text, "Update file  failure error =%d",
                          static_cast<int>(error));
            kelvo::ui::MessageBoxGbk(GetSafeHwnd(), text, "Update", MB_ICONERROR);
            return 0;
        }
    }
    m_progress.SetPos(i);
    transaction.Commit();

    m_nMainVer = m_nNewMainVer;
    m_nSubVer = m_nNewSubVer;

    if (!product.empty() && n > 0) {
        // By full path from the folder the files went to, never by a bare
        // name that the shell would look up in the current directory or the
        // search path.
        char fullPath[MAX_PATH] = {};
        std::string started = runPath + strFileName;
        if (::GetFullPathNameA(started.c_str(), MAX_PATH, fullPath, nullptr) > 0) {
            std::string folder = tovane::InstallTargetFolder(fullPath, m_strAppDir);
            ::ShellExecuteA(nullptr, "open", fullPath, nullptr, folder.c_str(), SW_SHOWNORMAL);
        }
    }
    kelvo::ui::MessageBoxGbk(GetSafeHwnd(), "Update success", "Update", MB_ICONINFORMATION);
    EndDialog(IDOK);
    return 1;
}

void CTovaneFileDlg::OnDestroy() {
    for (const std::string& entry : m_vecFiles) {
        std::string tempCs = m_strTempDir + entry;
        ::DeleteFileA(tempCs.c_str());
    }
    if (m_strAppDir.empty()) {
        return;  // the program folder was never known: no version file to write
    }
    std::string filePath = m_strAppDir + m_strVerName + ".ini";
    char tempCs[16];
    std::snprintf(tempCs, sizeof tempCs, "%d", static_cast<int>(m_nMainVer));
    ::WritePrivateProfileStringA("Kelvo", "MainVer", tempCs, filePath.c_str());
    std::snprintf(tempCs, sizeof tempCs, "%d", static_cast<int>(m_nSubVer));
    ::WritePrivateProfileStringA("Kelvo", "SubVer", tempCs, filePath.c_str());
}
