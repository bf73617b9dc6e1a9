#pragma once
// TCaptureSession: the three capture modes on one capture graph. Each start
// builds a fresh graph from the device choices and runs it; the mode is set
// only once its start has completed, and carries what that start produced
// (the ports a broadcast serves, the file a recording writes). What was done
// before a failing step stays, except in a broadcast, whose graph and ports
// go with it. Everything runs on the UI thread.
#include "app/Broadcast.h"
#include "app/CaptureMode.h"
#include "app/DeviceChoices.h"
#include "app/LandingSite.h"
#include "media/FilterGraph.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TVideoWindow;

class TCaptureSession {
  public:
    // videoWindow shows the preview picture (null: none); not owned.
    TCaptureSession(TFilterGraph& graph, TDeviceChoices& devices, TLandingSite& site,
                    TVideoWindow* videoWindow);
    TCaptureSession(const TCaptureSession&) = delete;
    TCaptureSession& operator=(const TCaptureSession&) = delete;

    // Nothing starts without a video device (the caller checks).
    void StartPreview();
    TBroadcastPorts StartBroadcast(const TBroadcastSettings& settings);
    void StartRecord(const std::string& fileName);
    // Back to idle, the one teardown of every mode (and of a broadcast that
    // failed to start): every step runs even when one fails, and the first
    // failure is raised afterwards. False when a writer did not confirm the
    // end of its file in time (the file may be incomplete).
    bool StopCapture();

    const TCaptureMode& Mode() const { return mode_; }
    bool Broadcasting() const { return std::holds_alternative<TBroadcastMode>(mode_); }
    // Whether a graph holds the devices: while a mode runs, and after a
    // start that failed half-way until the next start or stop.
    bool GraphActive() const { return graph_.Active(); }
    // The running graph's position in 100-nanosecond units; nothing while no
    // graph is active or when the position cannot be read.
    std::optional<int64_t> Position();
    // The broadcast's outputs; their viewers and relay are only live while
    // Broadcasting().
    TBroadcast& Broadcast() { return broadcast_; }
    const TBroadcast& Broadcast() const { return broadcast_; }

    // A running mode failing after its start, on the thread that drives the
    // graph. The mode still runs; the handler stops it.
    std::function<void(const TCaptureFailure& failure)> OnFailed;

  private:
    // Every start: a fresh active graph with the chosen devices and formats;
    // returns the graph's builder for wiring the streams.
    ComPtr<ICaptureGraphBuilder2> PrepareGraph();
    // Shows the chosen camera in the video window (nothing without either).
    void RenderPreview(ICaptureGraphBuilder2* builder);
    void Failed(const std::string& cause, const std::string& nextStep);

    TFilterGraph& graph_;
    TDeviceChoices& devices_;
    TVideoWindow* videoWindow_; // may be null
    TBroadcast broadcast_;
    TCaptureMode mode_;
};
