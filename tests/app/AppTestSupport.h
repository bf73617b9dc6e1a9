#pragma once
// Shared helpers of the application tests: the error box and browser
// captured, a small HTTP client; event pumping and ports come from support/.
#include "app/DesktopServices.h"
#include "app/SkinMenu.h"
#include "support/EventPump.h"
#include "support/TestPorts.h"

#include <mutex>
#include <string>
#include <vector>

// Captures what the error box and the browser would show, for one test.
class TDesktopCapture {
  public:
    TDesktopCapture() {
        SetErrorReporter([this](const std::string& m) {
            std::lock_guard lock(lock_);
            errors_.push_back(m);
        });
        SetUrlOpener([this](const std::string& u) {
            std::lock_guard lock(lock_);
            urls_.push_back(u);
        });
        SetQuestionAsker([this](const std::string& q) {
            std::lock_guard lock(lock_);
            questions_.push_back(q);
            return answer_;
        });
    }
    ~TDesktopCapture() {
        SetErrorReporter({});
        SetUrlOpener({});
        SetQuestionAsker({});
    }
    // The questions asked so far, each answered with Answer (Yes unless set).
    std::vector<std::string> Questions() {
        std::lock_guard lock(lock_);
        return questions_;
    }
    void Answer(bool yes) {
        std::lock_guard lock(lock_);
        answer_ = yes;
    }
    std::vector<std::string> Errors() {
        std::lock_guard lock(lock_);
        return errors_;
    }
    std::vector<std::string> Urls() {
        std::lock_guard lock(lock_);
        return urls_;
    }
    void ClearErrors() {
        std::lock_guard lock(lock_);
        errors_.clear();
    }

  private:
    std::mutex lock_;
    std::vector<std::string> errors_;
    std::vector<std::string> urls_;
    std::vector<std::string> questions_;
    bool answer_ = true;
};

// Sends request to 127.0.0.1:port and returns everything read until the
// server closes (or the time is up).
std::string HttpExchange(int port, const std::string& request, int timeoutMs = 5000);
// Runs a shell command and returns its standard output (and exit status).
std::string RunCommand(const std::string& command, int* status = nullptr);

// Where a submenu lists the caption; -1 when it does not.
inline int IndexOfCaption(TSkinMenuItem* submenu, const std::string& caption) {
    for (int i = 0; i < submenu->Count(); ++i)
        if (submenu->Items(i)->Caption() == caption) return i;
    return -1;
}

// Which of a submenu's items are ticked.
inline std::vector<int> CheckedIndices(TSkinMenuItem* submenu) {
    std::vector<int> out;
    for (int i = 0; i < submenu->Count(); ++i)
        if (submenu->Items(i)->Checked()) out.push_back(i);
    return out;
}
