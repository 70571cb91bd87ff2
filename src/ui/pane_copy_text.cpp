#include "ui/pane_copy_text.h"

#include "port/capture_runs.h"
#include "port/hex_pairs.h"

namespace quorvel {

std::string CopiedLine(LineKind kind, const std::string& shown, const std::string& wholeRun, bool asHex) {
    if (!asHex || (kind != LineKind::Run && kind != LineKind::BareRun)) return shown;
    const std::string& run = wholeRun.empty() ? shown : wholeRun;
    size_t prefix = kind == LineKind::Run ? kRunPrefixLength : 0;
    return HexRunText(run.data(), run.size(), prefix);
}

}  // namespace quorvel
