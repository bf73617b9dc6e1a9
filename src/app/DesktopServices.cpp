#include "app/DesktopServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include <mutex>

namespace {
std::mutex gLock; // guards gReporter and gOpener
TErrorReporter gReporter;
TUrlOpener gOpener;
} // namespace

void SetErrorReporter(TErrorReporter reporter) {
    std::lock_guard lock(gLock);
    gReporter = std::move(reporter);
}

void SetUrlOpener(TUrlOpener opener) {
    std::lock_guard lock(gLock);
    gOpener = std::move(opener);
}

void ShowErrorBox(const std::string& message) {
    TErrorReporter reporter;
    {
        std::lock_guard lock(gLock);
        reporter = gReporter;
    }
    if (reporter) {
        reporter(message);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("kavaroXP"),
                          QString::fromStdString(message));
}

void OpenUrl(const std::string& url) {
    TUrlOpener opener;
    {
        std::lock_guard lock(gLock);
        opener = gOpener;
    }
    if (opener) {
        opener(url);
        return;
    }
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowErrorBox(e.what());
    } catch (...) {
        ShowErrorBox("Unknown error.");
    }
}
