// Where the minimised dialog draws its icon.
#pragma once

namespace tovane {

// Signed arithmetic; the division truncates toward zero, so a client area
// narrower than the icon by one or two pixels still gives 0, not -1.
constexpr int CentredIconOffset(int clientExtent, int iconExtent) {
    return (clientExtent - iconExtent + 1) / 2;
}

}  // namespace tovane
