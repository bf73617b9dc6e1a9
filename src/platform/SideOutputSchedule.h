#pragma once
// When a side output's pipeline is built, torn down and built again: the
// rules its runner follows, apart from threads, pipelines and the real
// clock, so that they can be followed step by step with any clock.
//
//  - it runs while started, wanted and fed (taps set), unless refused;
//  - a run that fails is built again after a back-off, 0.5 s doubling up to
//    8 s; the back-off starts over once a run went live, when the demand
//    goes away, and on a restart (new settings or taps), which also forgets
//    a refusal;
//  - an error that turns the output away (a stream key refused) is final;
//  - a capture that does not run yet is looked at again every 200 ms;
//  - a run whose sink takes data for a second is live; one whose sink
//    stops taking anything is connecting again.
#include "platform/SideOutputInterfaces.h"

#include <chrono>
#include <cstdint>
#include <string>

// A status line's text: "<name>: connecting", "<name>: live, 1520 kbit/s",
// "<name>: retrying in 4 s (why)", "<name>: refused: why"; empty when off.
std::string SideOutputStatusText(const std::string& name, const TSideOutputStatus& status);

class TSideOutputSchedule {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Duration = Clock::duration;

    static constexpr Duration kFirstBackOff = std::chrono::milliseconds(500);
    static constexpr Duration kLastBackOff = std::chrono::seconds(8);
    static constexpr Duration kCaptureWait = std::chrono::milliseconds(200);
    static constexpr Duration kSampleEvery = std::chrono::milliseconds(500);
    static constexpr Duration kLiveAfter = std::chrono::seconds(1);

    enum class TAction {
        Wait,     // nothing to do before the time Next gives
        Build,    // build a run and report Built, NotReady or Refuse
        TearDown, // tear the run down and report TornDown
        Sample,   // read the run's byte count and report Sampled
    };

    // The owner's side.
    void SetStarted(bool started, TimePoint now);
    void SetWanted(bool wanted, TimePoint now);
    void SetFed(bool fed);
    // New settings or taps: built again at once, the back-off and any
    // refusal forgotten.
    void Restart(TimePoint now);
    // Turned away for good until the next Restart (settings that cannot
    // work, an encoder that is not installed).
    void Refuse(std::string reason);

    // The runner's reports.
    void Built(TimePoint now);
    void NotReady(TimePoint now);
    // The running pipeline failed. False when no run is current (a late
    // error of a run already failed or being replaced): nothing changes.
    bool Failed(TimePoint now, std::string reason, bool refusal);
    // The count of bytes the run's sink has taken since it was built.
    void Sampled(TimePoint now, uint64_t bytes);
    void TornDown();

    // What to do next; for Wait, until when (TimePoint::max(): until told).
    TAction Next(TimePoint now, TimePoint& until) const;
    TSideOutputStatus Status(TimePoint now) const;

  private:
    bool Desired() const;

    bool started_ = false, wanted_ = false, fed_ = false;
    bool hasRun_ = false;
    bool restart_ = false; // tear the run down and build again at once
    bool failed_ = false;  // the current run failed
    TSideOutputStatus status_;
    TimePoint retryAt_{}; // no build before
    Duration backOff_ = kFirstBackOff;
    TimePoint builtAt_{}, sampledAt_{};
    uint64_t sampledBytes_ = 0;
};
