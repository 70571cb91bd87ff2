// The scenario that the stand-in plays when the program gives no settings
// text: three modems with live traffic, for ever.
#pragma once

namespace emu {

// The default scenario in the settings-text syntax (longer than a settings
// text may be; it never passes through the configuration record).
const char* DefaultScenarioText();

}  // namespace emu
