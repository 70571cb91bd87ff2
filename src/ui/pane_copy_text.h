// A line as a pane's copy puts it on the clipboard: as the pane holds it, or
// a run line's bytes as hex pairs. Pure.
#pragma once

#include <string>

#include "port/line_batch.h"

namespace quorvel {

// A held line as copied. shown is the line as the pane shows it; wholeRun
// the run's whole line where the pane shows it only up to a zero byte (else
// empty). As hex, a run line's bytes become hex pairs behind its direction
// prefix; a line that shows hex pairs already, a timing line and a notice
// are copied as they are.
std::string CopiedLine(LineKind kind, const std::string& shown, const std::string& wholeRun, bool asHex);

}  // namespace quorvel
