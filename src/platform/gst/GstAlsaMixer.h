#pragma once
// Input lines of an ALSA sound card: the mixer elements that have a capture
// switch. A line is "enabled" when its capture switch is on. Cards that cannot
// be opened simply have no lines.
#include <string>
#include <vector>

struct TAlsaInputLine {
    std::string Name;
    bool Enabled = false;
};

class TAlsaMixer {
  public:
    // card: an ALSA control name such as "hw:0" or "default".
    static std::vector<TAlsaInputLine> InputLines(const std::string& card);
    // Switches the capture switch of the named line (all channels). False when
    // the card or line is missing or the switch cannot be set.
    static bool SetEnabled(const std::string& card, const std::string& line, bool enabled);
    // Whether the named line's capture switch is on (any channel).
    static bool IsEnabled(const std::string& card, const std::string& line, bool& enabled);
};
