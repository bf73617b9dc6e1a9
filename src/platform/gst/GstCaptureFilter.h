#pragma once
// Capture filters: a live source (a GStreamer device or a built-in test
// source) whose output pins carry the picture or sound. Video: "Capture"
// (with IAMStreamConfig) and "Preview" share one source through a tee inside
// the filter. Audio: "Capture" (with IAMStreamConfig), then one input pin per
// input line (IAMAudioInputMixer).
//
// A compressed picture (MJPEG, H.264) is decoded once, inside the filter:
//   source ! capsfilter ! tee ! queue ! decoder ! raw tee
// Whatever needs raw video (preview, encoders, side taps) branches from the
// raw tee; only a sink that takes the compressed stream as it is (an AVI)
// branches from the first tee. The decoder idles while nothing is raw-linked.
//
// A source that stops delivering while playing (a PipeWire camera that went
// away posts nothing) is reported as a lost device: an error from the source
// after kStallMs without a buffer.
#include "platform/gst/GstDeviceEnum.h"
#include "platform/gst/GstFilter.h"
#include "platform/gst/GstSideTap.h"

#include <memory>
#include <string>
#include <vector>

// The input lines of an audio device; exactly the lines a device reports.
class TGstInputLines {
  public:
    virtual ~TGstInputLines() = default;
    virtual std::vector<std::string> Names() = 0;
    virtual bool Enabled(size_t index) = 0;
    virtual bool SetEnabled(size_t index, bool enabled) = 0;
};

// The Test Tone's lines pick its waveform: one of them is always the enabled one.
std::unique_ptr<TGstInputLines> MakeToneLines(GstElement* toneSource);
// The capture switches of an ALSA card ("hw:0"); none when it cannot be opened.
std::unique_ptr<TGstInputLines> MakeAlsaLines(const std::string& card);

struct TGstCaptureSetup {
    bool Video = true;
    GstElement* Source = nullptr;          // floating or owned reference, taken over
    std::vector<TGstCapsRef> Formats;      // the discrete formats offered, in order
    TGstCapsRef DefaultFormat;             // captured until SetFormat picks another
    std::unique_ptr<TGstInputLines> Lines; // audio only; may be null
    // What the device accepts (its own caps); null: the source is asked in
    // READY, when it has opened the device.
    TGstCapsRef DeviceCaps;
    std::string DeviceName; // for refusals
};

class TGstCaptureFilter : public TGstFilter, public ISideTapSource {
  public:
    explicit TGstCaptureFilter(TGstCaptureSetup setup);

    HRESULT QueryInterface(REFIID iid, void** out) override {
        return TGstFilter::QueryInterface(iid, out);
    }
    ULONG AddRef() override { return TGstFilter::AddRef(); }
    ULONG Release() override { return TGstFilter::Release(); }

    // The caps captured now.
    TGstCapsRef CurrentFormat() const;
    // Fixes the captured caps; E_FORMAT_REFUSED (its text naming the device
    // and the format) when the device cannot deliver them, VFW_E_NOT_STOPPED
    // while the filter runs or when raw branches hang on another decoder.
    HRESULT ApplyFormat(const GstCaps* caps);
    std::vector<TGstCapsRef> FormatList() const;
    // The caps raw-linked pins produce now: the current format, decoded when
    // it is compressed (size and rate kept).
    TGstCapsRef RawFormat() const;
    static constexpr int kStallMs = 2500;       // no buffer for this long: lost
    static constexpr int kFirstBufferMs = 6000; // a device's start may take longer
    // ISideTapSource: a tap on the captured stream, made at the first call.
    HRESULT GetSideTap(ISideTap** tap) override;

  protected:
    ~TGstCaptureFilter() override;
    HRESULT QueryOtherInterface(REFIID iid, void** out) override;

  private:
    friend class TGstCapturePin;
    struct TWatch;
    // Puts the decoder the caps need between tee_ and rawTee_ (none: they
    // are one); false when a decoder element is missing.
    bool SetDecoder(const GstCaps* caps);
    HRESULT Refuse(const GstCaps* caps);
    // The tee a branch for a stream of these caps hangs on.
    GstElement* TeeFor(const GstCaps* stream) const;
    void StartWatch();

    GstElement* source_;               // in bin_
    GstElement* capsFilter_;           // in bin_
    GstElement* tee_;                  // in bin_: what the device delivers
    GstElement* rawTee_;               // in bin_: decoded pictures (tee_ itself when raw)
    std::vector<GstElement*> decoder_; // in bin_: queue and decoder elements
    int rawBranches_ = 0;              // pins linked to rawTee_
    std::vector<TGstCapsRef> formats_;
    std::unique_ptr<TGstInputLines> lines_;
    TGstCapsRef deviceCaps_;
    std::string deviceName_;
    ComPtr<TGstSideTap> sideTap_; // closed with the filter
    std::shared_ptr<TWatch> watch_;
};
