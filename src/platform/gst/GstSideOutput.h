#pragma once
// The base of every side output: ISideOutput answered once, over the one
// runner, for outputs that supply their chain (TGstSideChain) and the
// interfaces of their own kind (Own...). A derived output stops the runner
// in its own destructor, before its chain goes.
#include "platform/gst/GstSideRunner.h"

#include <string>

template <class... Own>
class TGstSideOutput : public TComObject<ISideOutput, Own...>, protected TGstSideChain {
  public:
    HRESULT SetTaps(ISideTap* video, ISideTap* audio) override {
        runner_.SetTaps({TGstSideTap::From(video), TGstSideTap::From(audio)});
        return S_OK;
    }
    HRESULT Start() override {
        runner_.Start();
        return S_OK;
    }
    HRESULT Stop() override {
        runner_.Stop();
        return S_OK;
    }
    HRESULT SetWanted(BOOL wanted) override {
        runner_.SetWanted(wanted != 0);
        return S_OK;
    }
    HRESULT GetStatus(TSideOutputStatus* status) override {
        if (!status) return E_POINTER;
        *status = runner_.Status();
        return S_OK;
    }
    HRESULT GetStateText(std::string& text) override {
        text = StateText(runner_.Status());
        return S_OK;
    }

  protected:
    explicit TGstSideOutput(std::string name) : runner_(*this, std::move(name)) {}
    // What a status line says of it (empty while off).
    virtual std::string StateText(const TSideOutputStatus& status) = 0;

    TGstSideRunner runner_;
};
