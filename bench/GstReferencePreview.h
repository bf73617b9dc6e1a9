#pragma once
// The preview written directly as one GStreamer pipeline: Test Pattern
// 320x240 YUY2 at 30 fps, converted and shown in a renderer window of the
// same kind the video window uses. The yardstick of the start-up benchmark.
#include <cstdint>
#include <memory>
#include <string>

class QWidget;

class TGstReferencePreview {
  public:
    // The renderer window becomes a child of parent, placed at its full size.
    explicit TGstReferencePreview(QWidget* parent);
    ~TGstReferencePreview();
    TGstReferencePreview(const TGstReferencePreview&) = delete;
    TGstReferencePreview& operator=(const TGstReferencePreview&) = delete;

    // False (with a reason) when the pipeline cannot run.
    bool Start(std::string& error);
    void Stop();
    uint64_t Frames() const;

  private:
    struct TState;
    std::unique_ptr<TState> state_;
};
