#include "platform/gst/GstSideRunner.h"

#include <malloc.h>

TGstSideRunner::TGstSideRunner(TGstSideChain& chain, std::string name)
    : chain_(chain), name_(std::move(name)) {}

TGstSideRunner::~TGstSideRunner() {
    Stop();
}

void TGstSideRunner::SetTaps(TGstSideTaps taps) {
    std::lock_guard lock(lock_);
    taps_ = std::move(taps);
    schedule_.SetFed(taps_.Video != nullptr);
    // A run fed from the old taps would stall: start it over.
    schedule_.Restart(Clock::now());
    changed_.notify_all();
}

void TGstSideRunner::Start() {
    std::lock_guard lock(lock_);
    if (control_.joinable()) return;
    quit_ = false;
    schedule_.SetStarted(true, Clock::now());
    control_ = std::thread([this] { ControlLoop(); });
}

void TGstSideRunner::Stop() {
    std::thread control;
    {
        std::lock_guard lock(lock_);
        quit_ = true;
        schedule_.SetStarted(false, Clock::now());
        control = std::move(control_);
        changed_.notify_all();
    }
    if (control.joinable()) control.join();
}

void TGstSideRunner::SetWanted(bool wanted) {
    std::lock_guard lock(lock_);
    schedule_.SetWanted(wanted, Clock::now());
    changed_.notify_all();
}

void TGstSideRunner::Restart(std::string refusal) {
    std::lock_guard lock(lock_);
    schedule_.Restart(Clock::now());
    if (!refusal.empty()) schedule_.Refuse(std::move(refusal));
    changed_.notify_all();
}

TSideOutputStatus TGstSideRunner::Status() {
    std::lock_guard lock(lock_);
    return schedule_.Status(Clock::now());
}

void TGstSideRunner::ControlLoop() {
    std::unique_lock lock(lock_);
    while (!quit_) {
        Clock::time_point until;
        switch (schedule_.Next(Clock::now(), until)) {
        case TSideOutputSchedule::TAction::Build:
            Build(lock);
            break;
        case TSideOutputSchedule::TAction::TearDown:
            TearDown(lock);
            break;
        case TSideOutputSchedule::TAction::Sample:
            schedule_.Sampled(Clock::now(), run_->Bytes.load());
            break;
        case TSideOutputSchedule::TAction::Wait:
            if (until == Clock::time_point::max())
                changed_.wait(lock);
            else
                changed_.wait_until(lock, until);
            break;
        }
    }
    if (run_) TearDown(lock);
}

void TGstSideRunner::Build(std::unique_lock<std::mutex>& lock) {
    TGstSideTaps taps = taps_;
    lock.unlock();
    TGstRef<GstClock> clock = taps.Video->Clock();
    std::string error;
    auto run = std::make_unique<TSidePipelineRun>();
    bool built = false;
    if (clock) {
        run->Pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(name_.c_str())));
        GstElement* vsrc = MakeLiveSource("video");
        GstElement* asrc = taps.Audio ? MakeLiveSource("audio") : nullptr;
        GstElement* sink = nullptr;
        if (vsrc && (asrc || !taps.Audio))
            sink = chain_.AddChain(run->Pipeline, vsrc, asrc, taps, error);
        if (sink) {
            run->CountAt(sink);
            run->Video = std::make_unique<TGstFeeder>(vsrc, taps.Video->CurrentCaps());
            if (asrc) run->Audio = std::make_unique<TGstFeeder>(asrc, taps.Audio->CurrentCaps());
            TGstRef<GstBus> bus(gst_element_get_bus(run->Pipeline));
            gst_bus_set_sync_handler(bus.get(), &TGstSideRunner::OnBusMessage, this, nullptr);
            FollowCaptureClock(run->Pipeline, *taps.Video, clock.get());
            built = true;
        } else {
            DropLooseElement(vsrc);
            DropLooseElement(asrc);
            if (error.empty()) error = "the " + name_ + "'s elements could not be linked";
            run->Stop(nullptr, nullptr);
        }
    }
    if (built) chain_.RunStarting();
    lock.lock();
    if (!clock) {
        // The capture does not run (yet): nothing to feed from.
        schedule_.NotReady(Clock::now());
        return;
    }
    if (!built) {
        // An element that cannot be made will not be there on the next try either.
        schedule_.Refuse(chain_.Hide(error));
        return;
    }
    run_ = std::move(run);
    runTaps_ = std::move(taps);
    schedule_.Built(Clock::now());
    lock.unlock();
    const bool playing =
        gst_element_set_state(run_->Pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    if (playing) run_->StartFeeding(*runTaps_.Video, runTaps_.Audio.Get());
    lock.lock();
    if (!playing) schedule_.Failed(Clock::now(), "the " + name_ + " pipeline did not start", false);
}

void TGstSideRunner::TearDown(std::unique_lock<std::mutex>& lock) {
    std::unique_ptr<TSidePipelineRun> run = std::move(run_);
    TGstSideTaps taps = std::move(runTaps_);
    lock.unlock();
    chain_.RunStopping();
    run->Stop(taps.Video.Get(), taps.Audio.Get());
    run.reset();
    // The run's frames and encoder state were freed by its streaming threads
    // into their malloc arenas, which keep the pages; each run gets other
    // threads, so an always-on broadcast whose viewers and relay come and go
    // would grow by megabytes a run. Hand the free pages back.
    malloc_trim(0);
    chain_.RunEnded();
    lock.lock();
    schedule_.TornDown();
}

void TGstSideRunner::PipelineFailed(const std::string& message, const std::string& debug) {
    std::string reason;
    const bool refusal = chain_.IsRefusal(message, debug, reason);
    reason = chain_.Hide(refusal ? reason : message);
    std::lock_guard lock(lock_);
    if (schedule_.Failed(Clock::now(), std::move(reason), refusal)) changed_.notify_all();
}

GstBusSyncReply TGstSideRunner::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    auto* runner = static_cast<TGstSideRunner*>(self);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR &&
        !runner->chain_.TakesError(GST_MESSAGE_SRC(message))) {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        const std::string text = error && error->message ? error->message : "pipeline error";
        runner->PipelineFailed(text, debug ? debug : "");
        if (error) g_error_free(error);
        g_free(debug);
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
}
