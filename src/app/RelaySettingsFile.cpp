#include "app/RelaySettingsFile.h"

#include "common/Exception.h"

#include <QSettings>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

int Bounded(const QVariant& value, int low, int high, int def) {
    bool ok = false;
    const int n = value.toInt(&ok);
    return ok && n >= low && n <= high ? n : def;
}

} // namespace

void WritePrivateSettings(const std::string& path, const std::string& what,
                          const std::function<void(QSettings& file)>& write) {
    // The file exists, mode 0600, before a secret goes into it.
    MakeSettingsFilePrivate(path, "the " + what);
    {
        QSettings file(QString::fromStdString(path), QSettings::IniFormat);
        write(file);
        file.sync();
        if (file.status() != QSettings::NoError)
            throw Exception("Could not save the " + what + " to \"" + path +
                            "\": the file could not be written.");
    }
    // QSettings replaces the file as a whole: make sure the new one is private too.
    if (::chmod(path.c_str(), 0600) != 0)
        throw Exception("Could not save the " + what + " to \"" + path +
                        "\": " + std::strerror(errno) + ".");
}

TRelayChoice LoadRelayChoice(const std::string& path) {
    QSettings file(QString::fromStdString(path), QSettings::IniFormat);
    TRelayChoice choice;
    TRelaySettings& s = choice.Settings;
    choice.Enabled = file.value("relay/enabled", false).toBool();
    s.Url = file.value("relay/url").toString().trimmed().toStdString();
    s.VideoKbps = Bounded(file.value("relay/videoBitrate"), 100, 50000, s.VideoKbps);
    s.Width = Bounded(file.value("relay/width"), 16, 7680, s.Width);
    s.Height = Bounded(file.value("relay/height"), 16, 4320, s.Height);
    return choice;
}

void SaveRelayChoice(const TRelayChoice& choice, const std::string& path) {
    WritePrivateSettings(path, "relay settings", [&choice](QSettings& file) {
        file.setValue("relay/url", QString::fromStdString(choice.Settings.Url));
        file.setValue("relay/enabled", choice.Enabled);
        file.setValue("relay/videoBitrate", choice.Settings.VideoKbps);
        file.setValue("relay/width", choice.Settings.Width);
        file.setValue("relay/height", choice.Settings.Height);
    });
}

std::optional<TRelaySettings> RelayForBroadcast(const TRelayChoice& choice) {
    if (!choice.Enabled || choice.Settings.Url.empty()) return std::nullopt;
    return choice.Settings;
}
