#include "app/AccessSettings.h"

#include "common/Exception.h"

#include <QSettings>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* ListenText(TListenChoice listen) {
    switch (listen) {
    case TListenChoice::Address:
        return "address";
    case TListenChoice::Local:
        return "local";
    default:
        return "all";
    }
}

} // namespace

TAccessChoice LoadAccessChoice(const std::string& path) {
    QSettings file(QString::fromStdString(path), QSettings::IniFormat);
    TAccessChoice choice;
    const QString listen = file.value("access/listen").toString();
    if (listen == "address") choice.Listen = TListenChoice::Address;
    if (listen == "local") choice.Listen = TListenChoice::Local;
    choice.PasswordHash = file.value("access/passwordHash").toString().toStdString();
    return choice;
}

void SaveAccessChoice(const TAccessChoice& choice, const std::string& path) {
    WritePrivateSettings(path, "access settings", [&choice](QSettings& file) {
        file.setValue("access/listen", ListenText(choice.Listen));
        if (choice.PasswordHash.empty())
            file.remove("access/passwordHash");
        else
            file.setValue("access/passwordHash", QString::fromStdString(choice.PasswordHash));
    });
}

std::string ListenAddressOf(TListenChoice listen, const std::string& address) {
    switch (listen) {
    case TListenChoice::Address:
        return address;
    case TListenChoice::Local:
        return kLocalAddress;
    default:
        return {};
    }
}

void CheckListenAddress(const std::string& address) {
    if (address.empty()) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1)
        throw Exception("Cannot listen on \"" + address +
                        "\": it is not an IPv4 address (give one like 192.168.1.20).");
    // A trial bind to a free port says whether the machine has the address.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return; // the servers' own bind will say what is wrong
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    const int error = errno;
    ::close(fd);
    if (!bound && error == EADDRNOTAVAIL)
        throw Exception("Cannot listen on " + address +
                        ": this computer has no such address (choose one of its own, or all "
                        "networks).");
}
