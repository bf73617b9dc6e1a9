#pragma once
// The landing page a visitor's browser gets for "/" while a broadcast runs:
// a player object pointed at the live stream.
#include "app/BroadcastSettings.h"

#include <mutex>
#include <string>

// What the page is built from: three window texts as typed, and the port
// the stream is actually served on.
struct TLandingPageTexts {
    std::string Width;                   // ed_width
    std::string Height;                  // ed_height
    int StreamPort = kDefaultStreamPort; // bound by the stream server
    std::string Address;                 // cb_ip
    // "?k=TOKEN" on the stream links of a private broadcast; empty: none.
    std::string LinkQuery = {};
};

// The page, byte for byte: lines end in a carriage return alone. Width and
// height fall back to the defaults when not integers; the address is used
// as is.
std::string BuildLandingPage(const TLandingPageTexts& texts);

// The addresses the page links to. Nothing here is on anyone else's site:
// the player's installation cabinet is a relative link, answered by our own
// HTTP server (with an empty document, as every document but "/"); the
// player has no download page, hence about:blank; and the maker's site is
// the landing page itself, so the banner is asked of our own server too.
extern const char* const kPlayerCabinetAddress;
extern const char* const kPlayerDownloadAddress;
extern const char* const kSiteAddress;

// The copy of the page's values that peer threads read. The UI thread
// updates it whenever a text changes or a broadcast starts; a reader never
// waits for the UI thread (which may itself be waiting for the readers while
// the server stops).
class TLandingPageSource {
  public:
    void SetWidth(std::string s);
    void SetHeight(std::string s);
    void SetStreamPort(int port);
    void SetAddress(std::string s);
    TLandingPageTexts Snapshot() const;

  private:
    mutable std::mutex lock_; // guards texts_
    TLandingPageTexts texts_;
};
