// The update dialog: owner of all updater state, and the place where the
// check, the update decision and the installation meet the user.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/modal_dialog.h"
#include "ui/progress_bar.h"

class CTovaneFileDlg : public kelvo::ui::ModalDialog {
public:
    explicit CTovaneFileDlg(HWND pParent = nullptr);
    ~CTovaneFileDlg() override;

    int SetStatus(const char* text);

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnTimer(UINT_PTR nIDEvent);
    void OnBnClickedUpdate();

    HICON m_hIcon;
    std::string m_strAppDir;
    std::string m_strTempDir;
    std::vector<std::string> m_vecFiles;
    std::string m_strUrl;
    std::string m_strVerName;
    std::int8_t m_nMode = 0;
    std::uint32_t m_nMainVer;
    std::uint32_t m_nSubVer;
    std::uint32_t m_nNewMainVer;
    std::uint32_t m_nNewSubVer;
    kelvo::ui::ProgressBar m_progress;
};
