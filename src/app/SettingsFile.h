#pragma once
// The program's settings file (QSettings, INI format,
// $XDG_CONFIG_HOME/kavaroxp/kavaroxp.conf, ~/.config when the variable is
// unset) and the keys besides the relay's: the archive's folder
// (archive/dir), the WebRTC viewers' UDP ports (webrtc/ports) and the
// devices the last mode started with (devices/video, devices/audio). The
// file may hold a stream key: whatever writes to it first makes it
// readable by its owner alone.
#include <string>

std::string SettingsFilePath();
// The file exists with mode 0600 (and its folder too); raises Exception
// "Could not save <what> to "<path>": ..." otherwise.
void MakeSettingsFilePrivate(const std::string& path, const std::string& what);

// archive/dir; empty: the working folder.
std::string LoadArchiveFolder(const std::string& path = SettingsFilePath());

struct TBroadcastSettings;
// webrtc/ports ("MIN-MAX", for a firewall rule) into settings; left alone
// when unset; raises Exception naming the file when it is not a range.
void LoadWebRtcPorts(TBroadcastSettings& settings, const std::string& path = SettingsFilePath());

// The devices' names as the menus list them; an empty audio name: none.
struct TRememberedDevices {
    std::string Video, Audio;
};
TRememberedDevices LoadRememberedDevices(const std::string& path = SettingsFilePath());
// Raises Exception naming the file when it cannot be written.
void SaveRememberedDevices(const TRememberedDevices& devices,
                           const std::string& path = SettingsFilePath());

// Once a stream key is in memory: no core dump and no other user's
// debugger may read it (not under the sanitizers, whose leak check needs
// to trace the process).
void KeepSecretsOutOfCoreDumps();
