#include "ui/pause_menu_texts.h"

namespace quorvel {

PauseItemTexts PauseTexts(bool txPaused, bool rxPaused) {
    PauseItemTexts texts;
    texts.Tx = txPaused ? "Activate &TX" : "Pause &TX";
    texts.Rx = rxPaused ? "Activate &RX" : "Pause &RX";
    texts.BothEnabled = txPaused == rxPaused;
    texts.Both = !texts.BothEnabled ? "" : txPaused ? "&Activate TX/RX" : "&Pause TX/RX";
    return texts;
}

PauseItemTexts PauseTextsAfterBoth(bool rxPaused) { return PauseTexts(rxPaused, rxPaused); }

const char* DescriptionLabel(const PortMonitor& port) {
    const char* name = GetFriendlyName(port);
    if (name) return name;
    if (port.ComPort) return port.ComPort;
    return "(unnamed port)";
}

}  // namespace quorvel
