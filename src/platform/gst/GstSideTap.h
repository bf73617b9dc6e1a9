#pragma once
// A side tap on a capture tee: queue (leaky) ! appsink (drop), the capture
// end of a side pipeline. The capture never waits for what is done with the
// samples: the queue drops the oldest, the app sink keeps at most a couple,
// and while nobody takes them the tap drops every buffer at the tee.
//
// Several side pipelines may take the same samples (the browser stream, the
// relay): each is a consumer of its own; with none the tee drops at once.
//
// Side outputs hold it as the capture filter's ISideTap; From() reads it
// back from that interface.
//
// Threads: made and closed on the thread that drives the graph; consumers are
// added and removed, and the capture's clock and caps read, from any thread;
// consumers run on the tap's streaming thread. lock_ guards consumers_ (held
// while they run, so that a consumer removed is never called again) and the
// element fields (cleared by Close while side outputs may still ask).
#include "platform/SideOutputInterfaces.h"
#include "platform/gst/GstUtil.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

class TGstSideTap : public TComObject<ISideTap> {
  public:
    using Consumer = std::function<void(GstSample* sample)>;
    using ConsumerId = uint64_t;

    // A tap on a free request pad of tee, its elements added to bin; null
    // when an element is missing.
    static ComPtr<TGstSideTap> Open(GstElement* bin, GstElement* tee);
    // The tap behind an ISideTap of this platform (null for any other).
    static ComPtr<TGstSideTap> From(IUnknown* tap);

    // Takes the tap's elements out of the capture; later calls find nothing.
    void Close();
    // A consumer gets every sample from now on, until removed. A consumer
    // must not block: it runs on the capture side.
    ConsumerId AddConsumer(Consumer consumer);
    void RemoveConsumer(ConsumerId id);
    // What the tap receives now (null before negotiation or after Close).
    TGstCapsRef CurrentCaps();
    // The capture pipeline's clock (null when not running) and base time.
    TGstRef<GstClock> Clock();
    GstClockTime BaseTime();

  protected:
    ~TGstSideTap() override;
    HRESULT QueryOtherInterface(REFIID iid, void** out) override;

  private:
    TGstSideTap() = default;
    static GstPadProbeReturn Gate(GstPad*, GstPadProbeInfo*, gpointer self);
    static GstFlowReturn NewSample(GstElement* sink, gpointer self);

    std::mutex lock_;
    GstElement* bin_ = nullptr; // one reference held until Close
    GstElement* tee_ = nullptr; // one reference held until Close
    GstPad* teePad_ = nullptr;  // requested pad, one reference
    GstElement* queue_ = nullptr;
    GstElement* sink_ = nullptr;      // one reference held until Close
    std::atomic<bool> active_{false}; // any consumer; read by the gate without the lock
    std::vector<std::pair<ConsumerId, Consumer>> consumers_;
    ConsumerId nextId_ = 1;
};
