#pragma once
// A headless Chromium driven over its DevTools protocol on a pipe
// (--remote-debugging-pipe: JSON messages ending in a NUL byte, fd 3 into
// the browser, fd 4 out of it). Fresh profile, no network beyond 127.0.0.1.
#include <string>

class TChromiumSession {
  public:
    // Starts the browser; Ok() says whether it came up (Error() why not).
    TChromiumSession();
    // Closes the browser (killed when it does not go in time) and its profile.
    ~TChromiumSession();
    TChromiumSession(const TChromiumSession&) = delete;
    TChromiumSession& operator=(const TChromiumSession&) = delete;

    bool Ok() const { return session_.size() > 0; }
    const std::string& Error() const { return error_; }
    // Loads url in the page.
    bool Navigate(const std::string& url);
    // The string an expression (or the promise it gives) evaluates to in
    // the page ("" on failure).
    std::string Evaluate(const std::string& expression);
    // Runs source in every document loaded from now on, before its own scripts.
    bool AddScriptOnNewDocument(const std::string& source);

  private:
    // Sends a command and returns its whole answer ("" after the time-out).
    std::string Call(const std::string& method, const std::string& params, bool inSession = true);

    int pid_ = -1;
    int toBrowser_ = -1, fromBrowser_ = -1;
    int nextId_ = 1;
    std::string profile_;
    std::string buffer_;
    std::string session_;
    std::string error_;
};
