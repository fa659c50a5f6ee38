// What an update session tells whoever shows it. The session runs on its own
// thread and never touches a window: it hands typed events to a view. The
// dialog's view posts them to the dialog (window_view.h); a session without
// a dialog gives one that only logs.
#pragma once

#include <string>

namespace tovane {

struct SessionEvent {
    enum class Kind {
        kStatus,         // text in the status box
        kProgressShow,   // the bar appears
        kProgressRange,  // value: the bar's upper bound
        kProgressPos,    // value: the bar's position
        kUpdateOffered,  // notes in the status box; "Update" becomes available
        kReport,         // text in a message box captioned "Update"; see the flags
        kUpdated,        // text ("Update success ...") in a box; then the dialog ends
    };
    Kind kind = Kind::kStatus;
    std::string text;       // GBK (or ASCII), as the program's own texts are
    std::wstring notes;     // kUpdateOffered: ready for the box, line breaks and all
    int value = 0;          // progress
    bool error = false;     // kReport: an error, else information
    bool inStatus = false;  // kReport: the status box says it too

    static SessionEvent Status(std::string text) {
        SessionEvent e;
        e.text = std::move(text);
        return e;
    }
    static SessionEvent Report(std::string text, bool error, bool inStatus) {
        SessionEvent e;
        e.kind = Kind::kReport;
        e.text = std::move(text);
        e.error = error;
        e.inStatus = inStatus;
        return e;
    }
};

class SessionView {
public:
    virtual ~SessionView() = default;
    // Must not block: the session goes on at once.
    virtual void Show(SessionEvent event) = 0;
    // The manual-close prompt ("Whether you have close the program", caption
    // "Ask"); true for "Yes". Blocks the session until answered; a view that
    // cannot ask answers "No", which leaves the product running.
    virtual bool AskWhetherClosed() = 0;
};

}  // namespace tovane
