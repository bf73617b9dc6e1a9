#pragma once
// The relay's encodes written directly as GStreamer: the branches a plain
// pipeline adds to its capture tees (named vt and at) to publish what the
// relay publishes; and a viewer that pulls the stream back from the server.
#include <gst/gst.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

// gst-launch text: vt./at. to H.264 + AAC in FLV to an rtmp:// url, or to
// VP8 + Vorbis in WebM to an icecast:// url, at the given picture.
std::string RelayReferenceBranches(const std::string& url, int width, int height, int fps,
                                   int videoKbps, int audioKbps, bool audio);

// Pulls the relayed stream (RTMP, or Icecast over HTTP) on its own pipeline
// and decodes its sound. The stream's timestamps start at zero wherever the
// publisher started, so the delay is timed by an event instead: the capture
// switches from silence to a tone at a known moment (SoundStarted), and the
// viewer notes when the tone arrives.
class TRelayViewer {
  public:
    using Clock = std::chrono::steady_clock;
    explicit TRelayViewer(const std::string& url);
    ~TRelayViewer();
    TRelayViewer(const TRelayViewer&) = delete;
    TRelayViewer& operator=(const TRelayViewer&) = delete;
    // The capture has been silent and turns to sound now.
    void SoundStarted();
    // Median of (tone arrives - tone switched on), ms; -1 without any.
    double MedianLatencyMs();
    size_t Timed();
    size_t Frames();

  private:
    static GstFlowReturn OnVideo(GstElement* sink, gpointer self);
    static GstFlowReturn OnAudio(GstElement* sink, gpointer self);
    GstElement* pipeline_ = nullptr;
    std::mutex lock_; // guards the fields below
    bool waiting_ = false;
    Clock::time_point startedAt_;
    std::vector<double> latencies_;
    size_t frames_ = 0;
};
