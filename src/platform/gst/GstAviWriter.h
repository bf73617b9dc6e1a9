#pragma once
// The AVI multiplexer (avimux) and the file writer (filesink) filters that
// SetOutputFileName puts into a capture graph. The multiplexer always has one
// free input pin ("Input 01", "Input 02", ...); each link requests a video or
// audio pad for the stream that arrives.
#include "platform/gst/GstFilter.h"

class TGstAviMux : public TGstFilter {
  public:
    TGstAviMux();
    // Only a multiplexer that receives a stream has an index to write; one
    // left without inputs would never see the end of a stream.
    bool NeedsEndOfStream() override;
    // Keeps one unconnected input pin available.
    void EnsureFreeInput();

  private:
    friend class TGstMuxInputPin;
    GstElement* mux_; // in bin_
    int nextInput_ = 1;
};

// A writer filter is also the IFileSinkFilter of its file.
class TGstFileWriter : public TGstFilter, public IFileSinkFilter {
  public:
    TGstFileWriter();

    HRESULT QueryInterface(REFIID iid, void** out) override {
        return TGstFilter::QueryInterface(iid, out);
    }
    ULONG AddRef() override { return TGstFilter::AddRef(); }
    ULONG Release() override { return TGstFilter::Release(); }

    // The bytes are flushed when the writer closes; what must be finished
    // before that is the multiplexer's business.
    bool NeedsEndOfStream() override { return false; }
    // IFileSinkFilter
    HRESULT SetFileName(const std::string& fileName, const AM_MEDIA_TYPE* type) override;
    HRESULT GetCurFile(std::string& fileName, AM_MEDIA_TYPE* type) override;

  protected:
    HRESULT QueryOtherInterface(REFIID iid, void** out) override;

  private:
    GstElement* sink_; // in bin_
    std::string fileName_;
};
