#include "app/WatchPage.h"

#include "common/Stream.h"
#include "common/Text.h"
#include "http/NetHTTPResponseInfo.h"

#include <memory>

namespace {

std::string EscapeHtml(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Plays the broadcast over WebRTC first (WHEP: an offer posted to the
// landing server's /whep, the answer back; a fraction of a second behind),
// and falls back to the WebM stream when WebRTC is missing, switched off
// (?webrtc=0) or does not connect. The WebM stream plays through Media
// Source: the stream's own Content-Type names its codecs; the playhead jumps
// to the live edge when more than 0.6 s is buffered ahead, and data older
// than 30 s is removed so that an endless stream never fills the buffer
// quota. Without Media Source: <video src> and an explicit play(), which
// starts sooner than autoplay. The status line says which one plays.
const char* const kScript = R"JS(
(function () {
  "use strict";
  var video = document.getElementById("video");
  var status = document.getElementById("status");
  var unmute = document.getElementById("unmute");
  var stream = video.dataset.stream;
  var whep = video.dataset.whep;
  var FULL = "all 3 places are taken \u2014 try again in a moment";
  var DOWN = "the stream is not running";
  function say(text) { status.textContent = text; }
  function play() { var p = video.play(); if (p && p.catch) p.catch(function () {}); }
  unmute.addEventListener("click", function () {
    video.muted = !video.muted;
    unmute.textContent = video.muted ? "unmute" : "mute";
    play();
  });
  function chase() {
    var b = video.buffered;
    if (!b.length) return;
    var end = b.end(b.length - 1);
    if (end - video.currentTime > 0.6 || video.currentTime < b.start(b.length - 1))
      video.currentTime = Math.max(b.start(b.length - 1), end - 0.1);
    if (video.paused) play();
  }
  var controller = null;
  function viaMediaSource() {
    controller = window.AbortController ? new AbortController() : null;
    var options = { cache: "no-store" };
    if (controller) options.signal = controller.signal;
    fetch(stream, options).then(function (response) {
      if (!response.ok) {
        return response.text().then(function (text) {
          say(response.status === 503 && text.indexOf("full") === 0 ? FULL : DOWN);
        });
      }
      var type = response.headers.get("Content-Type") || 'video/webm; codecs="vp8, vorbis"';
      if (!MediaSource.isTypeSupported(type)) { say("this browser cannot play " + type); return; }
      var source = new MediaSource();
      video.src = URL.createObjectURL(source);
      source.addEventListener("sourceopen", function () {
        var buffer = source.addSourceBuffer(type);
        var pending = [];
        function pump() {
          if (buffer.updating || source.readyState !== "open") return;
          var b = buffer.buffered;
          if (b.length && video.currentTime - b.start(0) > 30) {
            buffer.remove(b.start(0), video.currentTime - 10);
            return;
          }
          if (!pending.length) return;
          var size = 0, i;
          for (i = 0; i < pending.length; i++) size += pending[i].length;
          var chunk = new Uint8Array(size), at = 0;
          for (i = 0; i < pending.length; i++) { chunk.set(pending[i], at); at += pending[i].length; }
          pending = [];
          try { buffer.appendBuffer(chunk); } catch (e) { say(DOWN); }
        }
        buffer.addEventListener("updateend", function () { chase(); pump(); });
        var reader = response.body.getReader();
        var shown = setInterval(function () {
          var b = video.buffered;
          if (!b.length || video.paused) return;
          var behind = b.end(b.length - 1) - video.currentTime + 0.5;
          say("live (compatibility), " + Math.max(1, Math.round(behind)) + " s");
        }, 1000);
        video.addEventListener("emptied", function () { clearInterval(shown); }, { once: true });
        (function read() {
          reader.read().then(function (r) {
            if (r.done) { say(DOWN); return; }
            pending.push(r.value);
            pump();
            read();
          }, function () { say(DOWN); });
        })();
      }, { once: true });
    }, function () { say(DOWN); });
  }
  function compatibility() {
    if (window.MediaSource && window.fetch && window.ReadableStream) {
      // A page left for another (or kept in the back-forward cache) gives its
      // place back at once; coming back starts again at the live edge.
      window.addEventListener("pagehide", function () { if (controller) controller.abort(); });
      window.addEventListener("pageshow", function (e) { if (e.persisted) viaMediaSource(); });
      viaMediaSource();
    } else {
      video.addEventListener("error", function () { say(DOWN); });
      video.src = stream;
      play();
    }
  }
  // The offer carries every candidate: one request, no trickling.
  function gathered(pc) {
    return new Promise(function (done) {
      if (pc.iceGatheringState === "complete") return done();
      var timer = setTimeout(done, 1500);
      pc.addEventListener("icegatheringstatechange", function () {
        if (pc.iceGatheringState === "complete") { clearTimeout(timer); done(); }
      });
    });
  }
  function viaWebRtc() {
    var pc = new RTCPeerConnection({ bundlePolicy: "max-bundle" });
    var session = null, connected = false, given = false;
    function giveUp(fallBack) {
      if (given) return;
      given = true;
      pc.close();
      if (session) fetch(session, { method: "DELETE", keepalive: true }).catch(function () {});
      if (fallBack) compatibility(); else say(DOWN);
    }
    pc.addTransceiver("video", { direction: "recvonly" });
    pc.addTransceiver("audio", { direction: "recvonly" });
    var media = new MediaStream();
    pc.ontrack = function (e) { media.addTrack(e.track); video.srcObject = media; play(); };
    pc.onconnectionstatechange = function () {
      if (pc.connectionState === "connected") {
        connected = true;
        shown();
      } else if (pc.connectionState === "failed" || pc.connectionState === "closed" ||
                 pc.connectionState === "disconnected") {
        giveUp(!connected);
      }
    };
    // How far behind: the jitter buffer's hold plus half the round trip.
    function shown() {
      pc.getStats().then(function (stats) {
        var hold = 0, trip = 0;
        stats.forEach(function (s) {
          if (s.type === "inbound-rtp" && s.kind === "video" && s.jitterBufferEmittedCount)
            hold = s.jitterBufferDelay / s.jitterBufferEmittedCount;
          if (s.type === "candidate-pair" && s.nominated && s.currentRoundTripTime)
            trip = s.currentRoundTripTime;
        });
        if (!given) say("live, " + Math.max(0.1, hold + trip / 2 + 0.05).toFixed(1) + " s");
      }, function () {});
      if (!given) setTimeout(shown, 2000);
    }
    setTimeout(function () { if (!connected) giveUp(true); }, 8000);
    window.addEventListener("pagehide", function () { giveUp(false); });
    pc.createOffer().then(function (offer) {
      return pc.setLocalDescription(offer);
    }).then(function () {
      return gathered(pc);
    }).then(function () {
      return fetch(whep, { method: "POST", headers: { "Content-Type": "application/sdp" },
                           body: pc.localDescription.sdp, cache: "no-store" });
    }).then(function (response) {
      if (response.status === 503) { given = true; pc.close(); say(FULL); return; }
      if (response.status !== 201) throw new Error("refused");
      session = response.headers.get("Location");
      return response.text().then(function (answer) {
        return pc.setRemoteDescription({ type: "answer", sdp: answer });
      });
    }).catch(function () { giveUp(true); });
  }
  var off = /[?&]webrtc=0(&|$)/.test(location.search);
  if (!off && whep && window.RTCPeerConnection && window.fetch && window.Promise) viaWebRtc();
  else compatibility();
})();
)JS";

} // namespace

std::string BuildWatchPage(const TLandingPageTexts& texts) {
    const std::string width = IntToStr(StrToIntDef(texts.Width, 320));
    const std::string height = IntToStr(StrToIntDef(texts.Height, 300));
    const std::string port = IntToStr(texts.StreamPort);
    const std::string address = EscapeHtml(texts.Address);
    const std::string mms = "mms://" + address + ":" + port + "/";
    std::string p;
    p += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>[kavaroXP media streamer]</title>\n<style>\n"
         "body{margin:0;padding:1em;background:#0a4ea0;color:#fff;"
         "font:14px Verdana,Tahoma,sans-serif;text-align:center}\n"
         "video{max-width:100%;height:auto;background:#000;border:1px solid #000}\n"
         "button{font:inherit;padding:.3em 1em;margin:.5em}\n"
         "a{color:orange;text-decoration:none}a:hover{color:red;text-decoration:underline}\n"
         "#status{min-height:1.2em;font-weight:bold}\n"
         "</style>\n</head>\n<body>\n<h1>[kavaroXP media streamer]</h1>\n";
    p += "<video id=\"video\" width=\"" + width + "\" height=\"" + height +
         "\" muted autoplay playsinline data-stream=\"http://" + address + ":" + port +
         "/live.webm\" data-whep=\"/whep\"></video>\n";
    p += "<div><button id=\"unmute\" type=\"button\">unmute</button></div>\n"
         "<p id=\"status\" role=\"status\"></p>\n";
    p += "<p>desktop players: <a href=\"" + mms + "\">" + mms + "</a></p>\n";
    p += "<script>";
    p += kScript;
    p += "</script>\n</body>\n</html>\n";
    return p;
}

void SendPage(TNetHTTPResponseInfo& response, const std::string& page, const char* type) {
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
    stream->SetPosition(0);
    response.ContentLength = stream->Size();
    response.SetContentSource(std::move(stream));
    response.ContentType = type;
    response.SendHeader();
    response.SendContent();
}

void SendWatchPage(TNetHTTPResponseInfo& response, const TLandingPageTexts& texts) {
    SendPage(response, BuildWatchPage(texts), "text/html; charset=utf-8");
}
