// The installer's test hold points. Only a test build of the updater (one
// compiled with TOVANE_TEST_HOOKS, see tests/wine/CMakeLists.txt) reads
// anything here: the environment belongs to whoever starts the program, and
// an elevated updater inherits it, so a shipped build never looks at it.
#pragma once

#include <string>

namespace tovane {

// In a test build: when the environment variable TOVANE_INSTALL_HOLD names
// this stage (one name, or several separated by commas), writes the stage's
// name into %TEMP%\Tovane.held and waits there (at most a minute, or until
// the test deletes that file), so that a test can end the process at
// exactly that point, or act there and let it go on. Stages, in order:
// "copy.<i>.half" (staging, the product still runs), "stopping" (journal
// written, product not yet asked to close), "journal" (product stopped),
// "placed.<i>", "version", "committed" (<i>: the entry's index from 0); in
// the elevated copy "elevated" (started, nothing read or verified yet) and
// "recovering" (before it puts an interrupted installation right).
// Otherwise it does nothing.
void HoldIfAsked(const std::string& stage);

// In a test build: whether TOVANE_INSTALL_HOLD names this stage. The
// elevated step's "decline-elevation" stands for a user who declines the
// administrator's consent, which Wine never asks for. Otherwise false.
bool AskedFor(const std::string& stage);

}  // namespace tovane
