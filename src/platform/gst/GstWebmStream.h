#pragma once
// The browser stream's maker: a side pipeline, apart from the capture
// pipeline, that encodes what the capture side taps deliver into VP8 + Vorbis
// in WebM and hands the muxer's bytes to the browser sink. It runs only while
// the sink wants it (a browser watches); an error in it stops it and it is
// built again after a back-off, while the capture goes on untouched.
//
//   appsrc ! videorate ! videoscale ! videoconvert ! capsfilter ! vp8enc ! queue ! webmmux
//   appsrc ! audioconvert ! audioresample ! vorbisenc ! queue ! webmmux ! appsink
//
// Threads: the owner (the graph's thread) sets taps and sink; SetWanted comes
// from the sink's threads; one control thread of its own builds, starts and
// stops the pipeline; the pipeline's streaming threads feed the sink.
// lock_ guards taps, wanted/failed flags and the pipeline handle; sinkLock_
// guards sink_ (held while the sink is called).
#include "platform/WebmStreamInterfaces.h"
#include "platform/gst/GstSideTap.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class TGstWebmStream : public TComObject<IWebmStreamSource> {
  public:
    TGstWebmStream();

    // The capture side's taps (null: none of that kind).
    void SetVideoTap(std::shared_ptr<TGstSideTap> tap);
    void SetAudioTap(std::shared_ptr<TGstSideTap> tap);
    void SetSink(IWebmStreamSink* sink);
    // Stops the pipeline and the control thread; nothing is made after it.
    void Shutdown();

    // IWebmStreamSource
    HRESULT SetWanted(BOOL wanted) override;

    // The picture size sent for a capture of width x height: 320 x 240 at
    // most, the capture's aspect kept, never larger than the capture.
    static void FitSize(int width, int height, int& outWidth, int& outHeight);
    static constexpr int kMaxFrameRate = 15;
    static constexpr int kVideoBitRate = 400000;

  protected:
    ~TGstWebmStream() override;

  private:
    struct TRun;
    void ControlLoop();
    std::unique_ptr<TRun> Build();
    void TearDown(std::unique_ptr<TRun> run);
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer self);
    static GstFlowReturn OnMuxSample(GstElement* sink, gpointer self);

    std::mutex lock_;
    std::condition_variable changed_;
    std::shared_ptr<TGstSideTap> videoTap_, audioTap_;
    bool wanted_ = false;
    bool failed_ = false;
    bool quit_ = false;
    std::thread control_;

    std::mutex sinkLock_;
    ComPtr<IWebmStreamSink> sink_;
};
