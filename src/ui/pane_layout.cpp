#include "ui/pane_layout.h"

namespace quorvel {

TerminalEditPlacement PlaceTerminalEdits(int clientWidth) {
    int half = clientWidth / 2;
    return TerminalEditPlacement{half, half, clientWidth - half};
}

int PaneHeightAsked(int clientHeight, int editHeight, uint32_t portCount) {
    if (portCount == 0 || clientHeight <= editHeight) return 0;
    return (clientHeight - editHeight) / static_cast<int>(portCount);
}

int FittedWindowHeight(int windowHeight, int clientHeight, int contentHeight) {
    return windowHeight - clientHeight + contentHeight;
}

}  // namespace quorvel
