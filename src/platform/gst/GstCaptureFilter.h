#pragma once
// Capture filters: a live source (a GStreamer device or a built-in test
// source) whose output pins carry the picture or sound. Video: "Capture"
// (with IAMStreamConfig) and "Preview" share one source through a tee inside
// the filter. Audio: "Capture" (with IAMStreamConfig), then one input pin per
// input line (IAMAudioInputMixer).
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
    // Fixes the captured caps; VFW_E_INVALIDMEDIATYPE when the device cannot
    // deliver them, VFW_E_NOT_STOPPED while the filter runs.
    HRESULT ApplyFormat(const GstCaps* caps);
    std::vector<TGstCapsRef> FormatList() const;
    // ISideTapSource: a tap on the captured stream, made at the first call.
    HRESULT GetSideTap(ISideTap** tap) override;

  protected:
    ~TGstCaptureFilter() override;
    HRESULT QueryOtherInterface(REFIID iid, void** out) override;

  private:
    friend class TGstCapturePin;
    GstElement* source_;     // in bin_
    GstElement* capsFilter_; // in bin_
    GstElement* tee_;        // in bin_
    std::vector<TGstCapsRef> formats_;
    std::unique_ptr<TGstInputLines> lines_;
    ComPtr<TGstSideTap> sideTap_; // closed with the filter
};
