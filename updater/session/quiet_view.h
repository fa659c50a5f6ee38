// The view of a session that no one watches (Tovane.exe /quiet): what it
// would have shown goes to the log, and the one question it could ask is
// answered "No", which leaves the product running.
#pragma once

#include "diag/log.h"
#include "session/view.h"

namespace tovane {

class QuietView : public SessionView {
public:
    void Show(SessionEvent event) override {
        if (event.kind == SessionEvent::Kind::kStatus ||
            event.kind == SessionEvent::Kind::kReport) {
            diag::LogNote(event.text.c_str(), "quiet check");
        }
    }
    bool AskWhetherClosed() override { return false; }
};

}  // namespace tovane
