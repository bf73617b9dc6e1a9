#pragma once
// What the window asks of the desktop: the standard error box, a yes/no
// question and the default browser. Each goes through replaceable functions so that tests can
// capture what the user would see.
#include <exception>
#include <functional>
#include <string>

using TErrorReporter = std::function<void(const std::string& message)>;
using TUrlOpener = std::function<void(const std::string& url)>;
using TQuestionAsker = std::function<bool(const std::string& question)>;

// An empty function restores the desktop's own (a QMessageBox, the default browser).
void SetErrorReporter(TErrorReporter reporter);
void SetUrlOpener(TUrlOpener opener);
void SetQuestionAsker(TQuestionAsker asker);

// Shows message in the application's standard error box.
void ShowErrorBox(const std::string& message);
// Asks question in a box with Yes and No; true for Yes.
bool AskQuestion(const std::string& question);
// Opens url in the default browser; failures are not reported.
void OpenUrl(const std::string& url);

// Runs an event handler; an exception leaving it is shown in the error box
// and the program goes on.
void RunHandler(const std::function<void()>& handler);
