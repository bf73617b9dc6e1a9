#include "app/CommandLine.h"

#include "app/AccessSettings.h"
#include "common/AccessRules.h"
#include "platform/RelayTarget.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>

#include <arpa/inet.h>

#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace {

struct TOptionRule {
    const char* Name;
    std::vector<TCommand> AppliesTo; // empty: every run
};

// Which run each option belongs to; one given to another run is refused, so
// that a mistyped run never silently ignores what the user asked for.
const TOptionRule kRules[] = {
    {"video", {TCommand::Broadcast, TCommand::Record}},
    {"audio", {TCommand::Broadcast, TCommand::Record}},
    {"video-format", {TCommand::Broadcast, TCommand::Record}},
    {"audio-format", {TCommand::Broadcast, TCommand::Record}},
    {"audio-input", {TCommand::Broadcast, TCommand::Record}},
    {"asf-port", {TCommand::Broadcast}},
    {"http-port", {TCommand::Broadcast}},
    {"address", {TCommand::Broadcast}},
    {"width", {TCommand::Broadcast}},
    {"height", {TCommand::Broadcast}},
    {"relay", {TCommand::Broadcast}},
    {"listen", {TCommand::Broadcast}},
    {"viewer-password-file", {TCommand::Broadcast}},
    {"allow", {TCommand::Broadcast}},
    {"deny", {TCommand::Broadcast}},
    {"webrtc-ports", {TCommand::Broadcast}},
    {"relay-url-file", {TCommand::Broadcast}},
    {"no-archive", {TCommand::Broadcast}},
    {"archive-dir", {TCommand::Broadcast}},
    {"archive-keep", {TCommand::Broadcast}},
    {"archive-segment", {TCommand::Broadcast}},
    {"overwrite", {TCommand::Record}},
    {"seconds", {TCommand::Broadcast, TCommand::Record, TCommand::ListDevices}},
    {"watch", {TCommand::ListDevices}},
};

const char* CommandOption(TCommand command) {
    switch (command) {
    case TCommand::ListDevices:
        return "--list-devices";
    case TCommand::Broadcast:
        return "--broadcast";
    case TCommand::Record:
        return "--record";
    default:
        return "";
    }
}

// The option's value as an integer in min..max; sets error otherwise.
int IntValue(const QCommandLineParser& parser, const char* name, int min, int max, const char* what,
             std::string& error) {
    bool ok = false;
    const QString text = parser.value(name);
    const int value = text.toInt(&ok);
    if (error.empty() && (!ok || value < min || value > max))
        error = std::string("--") + name + ": \"" + text.toStdString() + "\" is not " + what +
                " (" + std::to_string(min) + " to " + std::to_string(max) + ")";
    return value;
}

// Every address in text with its secret masked, as the status line shows
// it: a mistyped argument must not put a stream key into the journal.
std::string MaskUrls(const std::string& text) {
    static const QRegularExpression url(R"([A-Za-z][A-Za-z0-9+.-]*://[^\s"']+)");
    const QString in = QString::fromStdString(text);
    QString out;
    qsizetype at = 0;
    for (auto it = url.globalMatch(in); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += in.mid(at, m.capturedStart() - at);
        const std::string found = m.captured().toStdString();
        std::string ignored;
        if (const std::optional<TRelayTarget> target = ParseRelayUrl(found, ignored)) {
            out += QString::fromStdString(target->MaskedUrl());
        } else {
            const size_t rest = found.find("://") + 3;
            out += QString::fromStdString(found.substr(0, rest) + MaskSecret(found.substr(rest)));
        }
        at = m.capturedEnd();
    }
    out += in.mid(at);
    return out.toStdString();
}

// The relay address in path, refused (as ssh refuses a key) when others may read it.
std::string ReadRelayUrlFile(const QString& path, std::string& error) {
    const std::string shown = path.toStdString();
    struct stat s {};
    if (::stat(shown.c_str(), &s) != 0) {
        error = "--relay-url-file: \"" + shown + "\" cannot be read: " + std::strerror(errno);
        return {};
    }
    if ((s.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(s.st_mode & 07777));
        error = "--relay-url-file: \"" + shown + "\" may be read by other users (mode " + mode +
                "): make it yours alone (chmod 600)";
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "--relay-url-file: \"" + shown + "\" cannot be read";
        return {};
    }
    for (const QByteArray& line : file.read(64 * 1024).split('\n')) {
        const QByteArray url = line.trimmed();
        if (!url.isEmpty() && !url.startsWith('#')) return url.toStdString();
    }
    error = "--relay-url-file: \"" + shown + "\" holds no address";
    return {};
}

} // namespace

std::optional<uint64_t> ParseByteSize(const QString& text) {
    static const QRegularExpression form(R"(^\s*(\d+(?:\.\d+)?)\s*([KMGT]?)(?:i?B)?\s*$)",
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const double number = m.captured(1).toDouble();
    const int power = QString("KMGT").indexOf(m.captured(2).toUpper()) + 1;
    const double bytes = number * std::pow(1024.0, m.captured(2).isEmpty() ? 0 : power);
    if (!(bytes >= 0) || bytes > 1e18) return std::nullopt;
    return static_cast<uint64_t>(bytes);
}

std::optional<int64_t> ParseDuration(const QString& text) {
    static const QRegularExpression form(R"(^(?:(\d+)h)?(?:(\d+)m)?(?:(\d+)s?)?$)");
    const QString t = text.trimmed().toLower();
    const QRegularExpressionMatch m = form.match(t);
    if (t.isEmpty() || !m.hasMatch() || t.length() > 18) return std::nullopt;
    return m.captured(1).toLongLong() * 3600 + m.captured(2).toLongLong() * 60 +
           m.captured(3).toLongLong();
}

bool IsCommandLineRun(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strncmp(a, "--", 2) == 0 || !std::strcmp(a, "-h") || !std::strcmp(a, "-v") ||
            !std::strcmp(a, "-?"))
            return true;
    }
    return false;
}

TCommandLine ParseCommandLine(const QStringList& arguments,
                              const std::string& relayFromEnvironment) {
    TCommandLine line;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Live audio and video streaming. Without options the window opens; with "
        "--list-devices, --broadcast or --record the program runs without one until "
        "--seconds pass or it is stopped (Ctrl+C, SIGTERM).");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, "Shows this help and exits.");
    const QCommandLineOption version({"v", "version"}, "Shows the version and exits.");
    const QString port80 = QString::number(kDefaultStreamPort);
    const QString port81 = QString::number(kDefaultHttpPort);
    const QString webRtcPorts =
        QString::number(kDefaultWebRtcMinPort) + "-" + QString::number(kDefaultWebRtcMaxPort);
    parser.addOptions({
        help,
        version,
        {"list-devices", "Lists the video and audio devices with their formats and input lines."},
        {"broadcast", "Broadcasts: the stream on the ASF port, the landing page on the HTTP port, "
                      "the archive in \"" +
                          QString(kBroadcastArchive) + "\"."},
        {"record", "Records to FILE (AVI).", "FILE"},
        {"video", "The video device, by its listed name (default: the first listed).", "NAME"},
        {"audio", "The audio device, by its listed name, or none (default: the first listed).",
         "NAME"},
        {"video-format", "The video format, by its listed number (default: the device's own).",
         "N"},
        {"audio-format", "The audio format, by its listed number (default: the device's own).",
         "N"},
        {"audio-input", "The audio input line, by its listed number (default: as set now).", "N"},
        {"asf-port", "Where viewers get the stream (default: " + port80 + ").", "PORT", port80},
        {"http-port", "Where the landing page is (default: " + port81 + ").", "PORT", port81},
        {"address",
         "The address the pages announce (default: the --listen address, else the first local "
         "address).",
         "ADDR"},
        {"width",
         "Player width on the page (default: " + QString::number(kDefaultPlayerWidth) + ").", "N",
         QString::number(kDefaultPlayerWidth)},
        {"height",
         "Player height on the page (default: " + QString::number(kDefaultPlayerHeight) + ").", "N",
         QString::number(kDefaultPlayerHeight)},
        {"relay",
         "Also publishes the broadcast to a streaming server (rtmp:// or icecast://); other "
         "users can read it (ps): prefer --relay-url-file or " +
             QString(kRelayUrlVariable) + ".",
         "URL"},
        {"relay-url-file",
         "Reads the relay address from FILE, which must be readable by you alone (chmod 600).",
         "FILE"},
        {"no-archive", "Broadcasts without an archive."},
        {"archive-dir",
         "Writes the archive in DIR (default: archive/dir of the settings file, else the "
         "working folder).",
         "DIR"},
        {"archive-keep",
         "Keeps at most SIZE (500M, 20G) of earlier archives, the oldest removed first "
         "(default: all while 1 GiB stays free).",
         "SIZE"},
        {"archive-segment",
         "Closes the archive and begins a new one every DURATION (90s, 30m, 1h; 0: never; "
         "default: 1h).",
         "DURATION"},
        {"overwrite", "Lets --record replace an existing file."},
        {"webrtc-ports", "UDP ports for WebRTC viewers (default: " + webRtcPorts + ").", "A-B",
         webRtcPorts},
        {"watch", "With --list-devices: then prints each device plugged in or taken away, "
                  "until stopped."},
        {"seconds", "Stops after N seconds (default: run until stopped).", "N"},
        {"listen",
         "Where both servers listen: all (every network), local (this computer only) or one "
         "of this computer's IPv4 addresses (default: all).",
         "WHERE", "all"},
        {"viewer-password-file",
         "Viewers need the password in FILE (its first line; the file must not be readable by "
         "others): browsers through the link printed at the start, players as user \"viewer\".",
         "FILE"},
        {"allow", "Only viewers from ADDRESS[/BITS] may watch (repeatable).", "RANGE"},
        {"deny", "Viewers from ADDRESS[/BITS] may not watch (repeatable).", "RANGE"},
    });
    line.Help = parser.helpText().toStdString();
    // The usage line names the command as typed, not the binary's path.
    if (const size_t at = line.Help.find(" [options]");
        line.Help.rfind("Usage: ", 0) == 0 && at != std::string::npos)
        line.Help.replace(7, at - 7, "kavaroxp");

    auto fail = [&](std::string why) {
        line.Error = MaskUrls(why);
        return line;
    };
    if (!parser.parse(arguments)) return fail(parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        return fail("unexpected argument \"" + parser.positionalArguments()[0].toStdString() +
                    "\"");
    if (parser.isSet(help)) {
        line.Command = TCommand::Help;
        return line;
    }
    if (parser.isSet(version)) {
        line.Command = TCommand::Version;
        return line;
    }

    int runs = 0;
    for (auto [name, command] :
         {std::pair{"list-devices", TCommand::ListDevices},
          std::pair{"broadcast", TCommand::Broadcast}, std::pair{"record", TCommand::Record}})
        if (parser.isSet(name)) {
            line.Command = command;
            ++runs;
        }
    if (runs != 1)
        return fail(runs == 0 ? "say what to do: --list-devices, --broadcast or --record"
                              : "choose one of --list-devices, --broadcast and --record");
    for (const TOptionRule& rule : kRules) {
        if (!parser.isSet(rule.Name)) continue;
        bool applies = false;
        for (TCommand c : rule.AppliesTo)
            applies = applies || c == line.Command;
        if (!applies)
            return fail(std::string("--") + rule.Name + " does not apply to " +
                        CommandOption(line.Command));
    }

    std::string error; // the first bad value's reason
    auto refuse = [&error](std::string why) {
        if (error.empty()) error = std::move(why);
    };
    line.Video = parser.value("video").toStdString();
    line.Audio = parser.value("audio").toStdString();
    if (parser.isSet("video-format"))
        line.VideoFormat = IntValue(parser, "video-format", 0, 9999, "a format number", error);
    if (parser.isSet("audio-format"))
        line.AudioFormat = IntValue(parser, "audio-format", 0, 9999, "a format number", error);
    if (parser.isSet("audio-input"))
        line.AudioInput = IntValue(parser, "audio-input", 0, 9999, "an input number", error);
    line.Ports.StreamPort = IntValue(parser, "asf-port", 1, 65535, "a port", error);
    line.Ports.HttpPort = IntValue(parser, "http-port", 1, 65535, "a port", error);
    line.Width = IntValue(parser, "width", 1, 9999, "a width", error);
    line.Height = IntValue(parser, "height", 1, 9999, "a height", error);
    line.Address = parser.value("address").toStdString();
    if (const std::string ports = parser.value("webrtc-ports").toStdString();
        !ParseWebRtcPorts(ports, line.Ports) && error.empty())
        error = "--webrtc-ports: \"" + ports + "\" is not " + kWebRtcPortsWanted;
    if (parser.isSet("relay") && parser.isSet("relay-url-file"))
        refuse("give the relay either with --relay or with --relay-url-file");
    const char* relayFrom = "--relay";
    if (parser.isSet("relay")) {
        line.Relay = parser.value("relay").toStdString();
        line.Warning = "--relay shows the stream key to every user of this machine (ps, "
                       "/proc): prefer --relay-url-file or " +
                       std::string(kRelayUrlVariable) + ".";
    } else if (parser.isSet("relay-url-file")) {
        relayFrom = "--relay-url-file";
        std::string why;
        line.Relay = ReadRelayUrlFile(parser.value("relay-url-file"), why);
        if (!why.empty()) refuse(why);
    } else if (line.Command == TCommand::Broadcast && !relayFromEnvironment.empty()) {
        relayFrom = kRelayUrlVariable;
        line.Relay = relayFromEnvironment;
    }
    if (!line.Relay.empty() || parser.isSet("relay")) {
        std::string why;
        if (!ParseRelayUrl(line.Relay, why)) refuse(std::string(relayFrom) + ": " + why);
    }
    line.Overwrite = parser.isSet("overwrite");
    line.Ports.Archive.Enabled = !parser.isSet("no-archive");
    if (parser.isSet("no-archive"))
        for (const char* name : {"archive-dir", "archive-keep", "archive-segment"})
            if (parser.isSet(name))
                refuse(std::string("--") + name + " does not apply with --no-archive");
    line.ArchiveFolderGiven = parser.isSet("archive-dir");
    line.Ports.Archive.Folder = parser.value("archive-dir").toStdString();
    if (line.ArchiveFolderGiven && line.Ports.Archive.Folder.empty())
        refuse("--archive-dir: the folder name is empty");
    if (parser.isSet("archive-keep")) {
        const std::optional<uint64_t> keep = ParseByteSize(parser.value("archive-keep"));
        if (!keep || *keep == 0)
            refuse("--archive-keep: \"" + parser.value("archive-keep").toStdString() +
                   "\" is not a size (500M, 20G)");
        else
            line.Ports.Archive.Retention.KeepBytes = *keep;
    }
    if (parser.isSet("archive-segment")) {
        const std::optional<int64_t> segment = ParseDuration(parser.value("archive-segment"));
        if (!segment || (*segment > 0 && *segment < 10) || *segment > 366 * 86400)
            refuse("--archive-segment: \"" + parser.value("archive-segment").toStdString() +
                   "\" is not a duration (10s to 366 days: 90s, 30m, 1h; 0: never)");
        else
            line.Ports.Archive.SegmentSeconds = *segment;
    }
    const std::string listen = parser.value("listen").toStdString();
    if (listen == "local") {
        line.ListenAddress = kLocalAddress;
    } else if (listen != "all") {
        in_addr parsed{};
        if (inet_pton(AF_INET, listen.c_str(), &parsed) != 1)
            refuse("--listen: \"" + listen + "\" is not all, local or an IPv4 address");
        line.ListenAddress = listen;
    }
    // The pages must announce an address the servers listen on.
    if (!line.ListenAddress.empty()) {
        if (line.Address.empty()) line.Address = line.ListenAddress;
        const bool localName = line.Address == "localhost" && line.ListenAddress == kLocalAddress;
        if (line.Address != line.ListenAddress && !localName)
            refuse("--address " + line.Address + " is not where the servers listen (--listen " +
                   listen + ")");
    }
    line.PasswordFile = parser.value("viewer-password-file").toStdString();
    if (parser.isSet("viewer-password-file") && line.PasswordFile.empty())
        refuse("--viewer-password-file: the file name is empty");
    for (auto [name, into] : {std::pair{"allow", &line.Allow}, std::pair{"deny", &line.Deny}})
        for (const QString& value : parser.values(name)) {
            if (!TAddressRange::Parse(value.toStdString()))
                refuse(std::string("--") + name + ": \"" + value.toStdString() +
                       "\" is not an address or ADDRESS/BITS");
            into->push_back(value.toStdString());
        }
    line.RecordFile = parser.value("record").toStdString();
    if (parser.isSet("seconds")) {
        bool ok = false;
        const QString text = parser.value("seconds");
        line.Seconds = text.toDouble(&ok);
        if (!ok || !(line.Seconds > 0) || line.Seconds > 1e7)
            refuse("--seconds: \"" + text.toStdString() + "\" is not a positive number of seconds");
    }
    line.Watch = parser.isSet("watch");
    if (line.Command == TCommand::ListDevices && parser.isSet("seconds") && !line.Watch)
        refuse("--seconds: a listing without --watch ends by itself");
    if (line.Command == TCommand::Record && line.RecordFile.empty())
        refuse("--record: the file name is empty");
    if (line.Command == TCommand::Broadcast && line.Ports.StreamPort == line.Ports.HttpPort)
        refuse("--asf-port and --http-port are both " + std::to_string(line.Ports.StreamPort) +
               ": give them different ports");
    if (parser.isSet("video") && line.Video.empty()) refuse("--video: the name is empty");
    if (parser.isSet("audio") && line.Audio.empty()) refuse("--audio: the name is empty");
    if (!error.empty()) return fail(error);
    return line;
}
