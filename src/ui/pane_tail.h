// Following the tail of a pane: a pane whose view shows its last line keeps
// showing its newest line as lines arrive; one scrolled up stays where the
// user put it. Pure arithmetic of list-box indices.
#pragma once

namespace quorvel {

// Whether a view whose first line is topIndex and which has room for
// visibleLines whole lines shows the last of count lines.
inline bool ShowsLastLine(int topIndex, int visibleLines, int count) {
    return topIndex + (visibleLines > 0 ? visibleLines : 1) >= count;
}

// The first line of a view that ends with the last of count lines.
inline int TailTopIndex(int count, int visibleLines) {
    int top = count - (visibleLines > 0 ? visibleLines : 1);
    return top > 0 ? top : 0;
}

}  // namespace quorvel
