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

// Sends a page as the answer, with its length and type (the caller has set
// the cache and date fields).
void SendPage(TNetHTTPResponseInfo& response, const std::string& page, const char* type);
// Sends the watch page as the answer.
void SendWatchPage(TNetHTTPResponseInfo& response, const TLandingPageTexts& texts);
