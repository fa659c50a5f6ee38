// Built twice: into tovane_core without TOVANE_TEST_HOOKS, where the hold
// does nothing, and into the test variant of the updater with it. The
// variant's own object defines HoldIfAsked before the core is searched, so
// the linker never pulls the core's; both copies must therefore define the
// same functions, or both would be linked and clash.
#include "install/hold_point.h"

#ifdef TOVANE_TEST_HOOKS
#include <windows.h>

#include "install/durable_file.h"
#endif

namespace tovane {

#ifdef TOVANE_TEST_HOOKS

bool AskedFor(const std::string& stage) {
    char wanted[256] = {};
    DWORD length = ::GetEnvironmentVariableA("TOVANE_INSTALL_HOLD", wanted, sizeof wanted);
    return length != 0 && length < sizeof wanted &&
           ("," + std::string(wanted) + ",").find("," + stage + ",") != std::string::npos;
}

void HoldIfAsked(const std::string& stage) {
    if (!AskedFor(stage)) {
        return;
    }
    char temp[MAX_PATH + 1] = {};
    DWORD tempLength = ::GetTempPathA(MAX_PATH, temp);
    if (tempLength == 0 || tempLength >= MAX_PATH) {
        return;
    }
    const std::string held = std::string(temp) + "Tovane.held";
    DWORD error = 0;
    if (!WriteFileDurably(held, stage, &error)) {
        return;
    }
    // Released early when the test deletes the file: it has done at this
    // point what it waited for (handed the folder over, changed a file).
    for (int waited = 0; waited < 60000 && Exists(held); waited += 20) {
        ::Sleep(20);
    }
}

#else

bool AskedFor(const std::string&) { return false; }

void HoldIfAsked(const std::string&) {}

#endif

}  // namespace tovane
