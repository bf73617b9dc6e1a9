#pragma once
// The program's command line. Without options it opens the window; with
// them it runs without one: it lists the devices, broadcasts or records,
// driven by the options alone.
#include "app/BroadcastSettings.h"

#include <QStringList>

#include <string>
#include <vector>

enum class TCommand { Window, Help, Version, ListDevices, Broadcast, Record };

struct TCommandLine {
    TCommand Command = TCommand::Window;
    // Device names as the menus show them (any case); empty: the first listed.
    // An audio name of "none" broadcasts or records without sound.
    std::string Video, Audio;
    // Positions in the device's lists as --list-devices prints them; -1: the device's own.
    int VideoFormat = -1, AudioFormat = -1, AudioInput = -1;
    TBroadcastSettings Ports;
    std::string Address; // announced on the pages; empty: the first local address
    int Width = kDefaultPlayerWidth, Height = kDefaultPlayerHeight;
    std::string RecordFile;
    double Seconds = 0; // stop after this long; 0: run until a signal
    bool Watch = false; // --list-devices: then print devices plugged in or taken away
    std::string Relay;  // a streaming server to publish to as well; empty: none
    // Where both servers listen: empty for every interface (--listen all),
    // 127.0.0.1 for --listen local, or the address given.
    std::string ListenAddress;
    std::string PasswordFile;             // the viewer password's file; empty: no password
    std::vector<std::string> Allow, Deny; // address ranges ("10.0.0.0/8"), as given

    std::string Error; // why the command line cannot be run; empty when it can
    std::string Help;  // every option with its default
};

// Exit statuses of a run without the window.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;     // a mode could not start or failed while running
inline constexpr int kExitBadCommand = 2; // an unknown option or a bad value

// Whether the arguments ask for a run without the window: any argument
// starting with "--", or -h, -v, -?. Qt's own single-dash options (-platform, say)
// still go to the window.
bool IsCommandLineRun(int argc, char** argv);
// The arguments (the program's name first) read and checked.
TCommandLine ParseCommandLine(const QStringList& arguments);
