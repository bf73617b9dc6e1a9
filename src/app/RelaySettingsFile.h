#pragma once
// The relay's choices in the program's settings file (QSettings, INI format,
// $XDG_CONFIG_HOME/kavaroxp/kavaroxp.conf, ~/.config when the variable is
// unset). The file holds a stream key or password: it is made readable by
// its owner alone before anything is written to it.
#include "app/SettingsFile.h"
#include "platform/RelayInterfaces.h"

#include <functional>
#include <optional>
#include <string>

class QSettings;

struct TRelayChoice {
    bool Enabled = false;
    TRelaySettings Settings;
};

// Writes keys into the settings file, which is made readable by its owner
// alone (0600) first; raises Exception naming what and the file when it
// cannot be written.
void WritePrivateSettings(const std::string& path, const std::string& what,
                          const std::function<void(QSettings& file)>& write);
// Missing keys read as the defaults; values out of range too.
TRelayChoice LoadRelayChoice(const std::string& path = SettingsFilePath());
// Raises Exception naming the file when it cannot be written.
void SaveRelayChoice(const TRelayChoice& choice, const std::string& path = SettingsFilePath());
// The settings a broadcast relays with: none when off or without an address.
std::optional<TRelaySettings> RelayForBroadcast(const TRelayChoice& choice);
