// The update dialog: it shows what the update session tells it and forwards
// the user's clicks; the update itself runs in the session (session/).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "session/update_session.h"
#include "session/window_view.h"
#include "ui/modal_dialog.h"
#include "ui/progress_bar.h"

class CTovaneFileDlg : public kelvo::ui::ModalDialog {
public:
    explicit CTovaneFileDlg(HWND pParent = nullptr);
    // A dialog for an update that a quiet check has offered already: it
    // shows the offer instead of checking again.
    CTovaneFileDlg(HWND pParent, std::shared_ptr<tovane::UpdateSession> checked);
    ~CTovaneFileDlg() override;

    // Replaces the whole text of the status box; the text is GBK.
    void SetStatus(const char* text);
    // Starts a job of the session; false when its thread could not start.
    bool StartWorker(std::int8_t mode);

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnBnClickedUpdate();
    void OnCancel() override;
    void OnDestroy();

    void Show(const tovane::SessionEvent& event);
    void Ask(tovane::SessionQuestion& question);

    HICON m_hIcon;
    kelvo::ui::ProgressBar m_progress;
    std::shared_ptr<tovane::WindowView> m_view;
    std::shared_ptr<tovane::UpdateSession> m_session;
};
