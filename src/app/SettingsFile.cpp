#include "app/SettingsFile.h"

#include "app/BroadcastSettings.h"
#include "common/Exception.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void CannotWrite(const std::string& path, const std::string& what,
                              const std::string& why) {
    throw Exception("Could not save " + what + " to \"" + path + "\": " + why + ".");
}

} // namespace

std::string SettingsFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
    return (base + "/kavaroxp/kavaroxp.conf").toStdString();
}

void MakeSettingsFilePrivate(const std::string& path, const std::string& what) {
    const QString dir = QFileInfo(QString::fromStdString(path)).absolutePath();
    if (!QDir().mkpath(dir)) CannotWrite(path, what, "its folder cannot be made");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) CannotWrite(path, what, std::strerror(errno));
    const bool ok = ::fchmod(fd, 0600) == 0;
    const int error = errno;
    ::close(fd);
    if (!ok) CannotWrite(path, what, std::strerror(error));
}

std::string LoadArchiveFolder(const std::string& path) {
    QSettings file(QString::fromStdString(path), QSettings::IniFormat);
    return file.value("archive/dir").toString().trimmed().toStdString();
}

void LoadWebRtcPorts(TBroadcastSettings& settings, const std::string& path) {
    QSettings file(QString::fromStdString(path), QSettings::IniFormat);
    const QVariant value = file.value("webrtc/ports");
    if (!value.isValid()) return;
    const std::string text = value.toString().toStdString();
    if (!ParseWebRtcPorts(text, settings))
        throw Exception("The WebRTC ports \"" + text + "\" in \"" + path + "\" are not " +
                        kWebRtcPortsWanted + ". Correct or remove webrtc/ports there.");
}

TRememberedDevices LoadRememberedDevices(const std::string& path) {
    QSettings file(QString::fromStdString(path), QSettings::IniFormat);
    return {file.value("devices/video").toString().toStdString(),
            file.value("devices/audio").toString().toStdString()};
}

void SaveRememberedDevices(const TRememberedDevices& devices, const std::string& path) {
    const std::string what = "the devices";
    MakeSettingsFilePrivate(path, what);
    {
        QSettings file(QString::fromStdString(path), QSettings::IniFormat);
        file.setValue("devices/video", QString::fromStdString(devices.Video));
        file.setValue("devices/audio", QString::fromStdString(devices.Audio));
        file.sync();
        if (file.status() != QSettings::NoError)
            CannotWrite(path, what, "the file could not be written");
    }
    // QSettings replaces the file as a whole: make sure the new one is private too.
    if (::chmod(path.c_str(), 0600) != 0) CannotWrite(path, what, std::strerror(errno));
}

void KeepSecretsOutOfCoreDumps() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}
