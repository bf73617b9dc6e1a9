#pragma once
// The browser stream: a side output that encodes the capture into VP8 +
// Vorbis in WebM and hands the muxer's bytes to the browser sink (the network
// sink's IWebmStreamSink). It runs only while the sink wants it (a browser
// watches).
//
//   appsrc ! videorate ! videoscale ! videoconvert ! capsfilter ! vp8enc ! queue ! webmmux
//   appsrc ! audioconvert ! audioresample ! vorbisenc ! queue ! webmmux ! appsink
//
// Threads: the runner's; the muxer's streaming thread feeds the sink.
// sinkLock_ guards sink_ (held while the sink is called).
#include "platform/WebmStreamInterfaces.h"
#include "platform/gst/GstSideOutput.h"

#include <mutex>

class TGstWebmStream : public TGstSideOutput<IWebmStreamSource> {
  public:
    TGstWebmStream();

    // IWebmStreamSource (its SetWanted is the side output's)
    HRESULT SetWebmSink(IWebmStreamSink* sink) override;

    // The picture size sent for a capture of width x height: 320 x 240 at
    // most, the capture's aspect kept, never larger than the capture.
    static void FitSize(int width, int height, int& outWidth, int& outHeight);
    static constexpr int kMaxFrameRate = 15;
    static constexpr int kVideoBitRate = 400000;

  protected:
    ~TGstWebmStream() override;
    GstElement* AddChain(GstElement* pipeline, GstElement* video, GstElement* audio,
                         const TGstSideTaps& taps, std::string& error) override;
    void RunStarting() override { ResetSink(); }
    void RunEnded() override { ResetSink(); }
    std::string StateText(const TSideOutputStatus& status) override;

  private:
    void ResetSink();
    static GstFlowReturn OnMuxSample(GstElement* sink, gpointer self);

    std::mutex sinkLock_;
    ComPtr<IWebmStreamSink> sink_;
};

// Registers the browser stream's class (CLSID_WebmStreamOutput).
void RegisterWebmStream();
