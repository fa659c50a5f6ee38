// Built twice: into tovane_core without TOVANE_TEST_HOOKS, where the hold
// does nothing, and into the test variant of the updater with it. The
// variant's own object defines HoldIfAsked before the core is searched, so
// the linker never pulls the core's; this file must therefore define nothing
// else, or both copies would be linked and clash.
#include "install/hold_point.h"

#ifdef TOVANE_TEST_HOOKS
#include <windows.h>

#include "install/durable_file.h"
#endif

namespace tovane {

#ifdef TOVANE_TEST_HOOKS

void HoldIfAsked(const std::string& stage) {
    char wanted[64] = {};
    DWORD length = ::GetEnvironmentVariableA("TOVANE_INSTALL_HOLD", wanted, sizeof wanted);
    if (length == 0 || length >= sizeof wanted || stage != wanted) {
        return;
    }
    char temp[MAX_PATH + 1] = {};
    DWORD tempLength = ::GetTempPathA(MAX_PATH, temp);
    if (tempLength == 0 || tempLength >= MAX_PATH) {
        return;
    }
    DWORD error = 0;
    if (WriteFileDurably(std::string(temp) + "Tovane.held", stage, &error)) {
        ::Sleep(60000);
    }
}

#else

void HoldIfAsked(const std::string&) {}

#endif

}  // namespace tovane
