#include "app/DesktopServices.h"

#include "common/Replaceable.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace {
TReplaceable<TErrorReporter> gReporter;
TReplaceable<TUrlOpener> gOpener;
TReplaceable<TQuestionAsker> gAsker;
} // namespace

void SetErrorReporter(TErrorReporter reporter) {
    gReporter.Set(std::move(reporter));
}

void SetUrlOpener(TUrlOpener opener) {
    gOpener.Set(std::move(opener));
}

void SetQuestionAsker(TQuestionAsker asker) {
    gAsker.Set(std::move(asker));
}

bool AskQuestion(const std::string& question) {
    if (const TQuestionAsker asker = gAsker.Get()) return asker(question);
    return QMessageBox::question(QApplication::activeWindow(), QStringLiteral("kavaroXP"),
                                 QString::fromStdString(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void ShowErrorBox(const std::string& message) {
    const TErrorReporter reporter = gReporter.Get();
    if (reporter) {
        reporter(message);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("kavaroXP"),
                          QString::fromStdString(message));
}

void OpenUrl(const std::string& url) {
    const TUrlOpener opener = gOpener.Get();
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
