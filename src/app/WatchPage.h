#pragma once
// The watch page for today's browsers ("/watch" on the landing-page server):
// a <video> fed through Media Source Extensions from the stream port's
// /live.webm, kept near the live edge, with the mms:// address for desktop
// players below it. Built from the same four window texts as the landing page.
#include "app/LandingPage.h"

#include <string>

class TNetHTTPResponseInfo;

// The page (UTF-8). Width, height and port fall back as on the landing page;
// the address is used as typed, escaped for HTML.
std::string BuildWatchPage(const TLandingPageTexts& texts);

// Sends the page as the answer (the caller has set the cache and date fields).
void SendWatchPage(TNetHTTPResponseInfo& response, const TLandingPageTexts& texts);
