#pragma once
// The one runner of every side output. Its control thread builds the
// output's pipeline when the schedule says so (fed from the capture's side
// taps, on the capture's clock), watches the pipeline's bus and what its sink
// takes, and tears it down and builds it again after a back-off; the
// schedule's rules decide when. An output supplies only what is its own, its
// chain (encoders and sink), through TGstSideChain.
//
//   appsrc "video" ! <the output's chain> ! <its sink>
//   appsrc "audio" ! <the output's chain>            (when there is sound)
//
// Threads: the owner calls from any thread; the control thread does every
// build and teardown and calls the chain; the pipeline's streaming threads
// report errors and count what the sink takes. lock_ guards schedule_ and
// taps_; run_ belongs to the control thread.
#include "platform/SideOutputSchedule.h"
#include "platform/gst/GstSidePipeline.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// The capture side a run is fed from (audio may be null).
struct TGstSideTaps {
    ComPtr<TGstSideTap> Video, Audio;
};

class TGstSideChain {
  public:
    virtual ~TGstSideChain() = default;
    // Adds the output's chain to pipeline, fed by the video source and,
    // when not null, the audio one (neither added yet), and returns its sink,
    // whose input counts as taken. Null when it cannot be made: error then
    // says why for the user (empty: the elements could not be linked).
    virtual GstElement* AddChain(GstElement* pipeline, GstElement* video, GstElement* audio,
                                 const TGstSideTaps& taps, std::string& error) = 0;
    // Whether an error the pipeline posted turns the output away for good
    // (then reason says why).
    virtual bool IsRefusal(const std::string&, const std::string&, std::string&) { return false; }
    // A text for the user with the output's secrets masked.
    virtual std::string Hide(std::string text) { return text; }
    // An error posted by source that only the output's own part of the run
    // suffers (a viewer's branch): the output deals with it, the run goes on.
    virtual bool TakesError(GstObject* /*source*/) { return false; }
    // The sink's stream begins (a run is about to play) or ends (one is gone);
    // RunStopping comes just before a run is torn down.
    virtual void RunStarting() {}
    virtual void RunStopping() {}
    virtual void RunEnded() {}
};

class TGstSideRunner {
  public:
    // name: the pipeline's name, for graph dumps and logs.
    TGstSideRunner(TGstSideChain& chain, std::string name);
    ~TGstSideRunner();
    TGstSideRunner(const TGstSideRunner&) = delete;
    TGstSideRunner& operator=(const TGstSideRunner&) = delete;

    // New taps start a running output over.
    void SetTaps(TGstSideTaps taps);
    // Start: the control thread runs the output as the schedule says. Stop:
    // the run is torn down and the thread gone when it returns; the owner
    // calls it before the chain goes.
    void Start();
    void Stop();
    void SetWanted(bool wanted);
    // New settings: built again at once (a refusal forgotten); with a
    // reason, turned away until the next Restart instead.
    void Restart(std::string refusal = {});
    TSideOutputStatus Status();

  private:
    using Clock = TSideOutputSchedule::Clock;
    void ControlLoop();
    // Builds and starts a run; reports to the schedule (lock held on entry
    // and exit, released while building).
    void Build(std::unique_lock<std::mutex>& lock);
    void TearDown(std::unique_lock<std::mutex>& lock);
    void PipelineFailed(const std::string& message, const std::string& debug);
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer self);

    TGstSideChain& chain_;
    const std::string name_;
    std::mutex lock_;
    std::condition_variable changed_;
    TSideOutputSchedule schedule_;
    TGstSideTaps taps_;
    bool quit_ = false;
    std::thread control_;
    std::unique_ptr<TSidePipelineRun> run_; // control thread only
    TGstSideTaps runTaps_;                  // what run_ is fed from; control thread only
};
