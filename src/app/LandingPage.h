#pragma once
// The landing page a visitor's browser gets for "/" while a broadcast runs:
// a player object pointed at the live stream.
#include <mutex>
#include <string>

// The four window texts the page is built from, as typed.
struct TLandingPageTexts {
    std::string Width;   // ed_width
    std::string Height;  // ed_height
    std::string AsfPort; // ed_asfport
    std::string Address; // cb_ip
};

// The page, byte for byte: lines end in a carriage return alone. Width,
// height and port fall back to 320, 300 and 8000 when not integers; the
// address is used as is.
std::string BuildLandingPage(const TLandingPageTexts& texts);

// Web addresses the page links to (player download, the program's site).
extern const char* const kPlayerCabinetAddress;
extern const char* const kPlayerDownloadAddress;
extern const char* const kSiteAddress;

// The copy of the four texts that peer threads read. The UI thread updates it
// whenever a text changes; a reader never waits for the UI thread (which may
// itself be waiting for the readers while the server stops).
class TLandingPageSource {
  public:
    void SetWidth(std::string s);
    void SetHeight(std::string s);
    void SetAsfPort(std::string s);
    void SetAddress(std::string s);
    TLandingPageTexts Snapshot() const;

  private:
    mutable std::mutex lock_; // guards texts_
    TLandingPageTexts texts_;
};
