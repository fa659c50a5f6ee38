// What is fixed when Tovane.exe is linked: the update folder it checks. Kept
// out of the core library, so that a test build of the same code can link
// other values without compiling the rest again.
#pragma once

namespace tovane {

// The update folder's URL, ending with '/'.
extern const char kUpdateBaseUrl[];

}  // namespace tovane
