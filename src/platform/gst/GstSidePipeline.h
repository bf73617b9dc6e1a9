#pragma once
// The pieces the side outputs' pipelines share: the app source a tap feeds,
// in the capture's running time; what one run holds; element chains; the
// picture size a side output sends; and the live WebM encoders.
#include "platform/gst/GstSideTap.h"

#include <gst/app/gstappsrc.h>

#include <atomic>
#include <initializer_list>
#include <memory>

// Pushes a tap's samples into an app source in the capture's running time, so
// that both pipelines, on one clock, agree on every timestamp. Runs on the
// tap's streaming thread; never blocks (the source drops its oldest).
class TGstFeeder {
  public:
    // caps: what the tap delivers now (null: set with the first sample).
    TGstFeeder(GstElement* source, TGstCapsRef caps);
    ~TGstFeeder();
    TGstFeeder(const TGstFeeder&) = delete;
    TGstFeeder& operator=(const TGstFeeder&) = delete;
    void Push(GstSample* sample);

  private:
    GstAppSrc* source_; // one reference
    GstCaps* lastCaps_ = nullptr;
};

// What a running side pipeline holds: the pipeline, the feeders of its app
// sources, the taps' consumers that push into them, and the count of what
// its sink took.
struct TSidePipelineRun {
    GstElement* Pipeline = nullptr; // one reference
    std::unique_ptr<TGstFeeder> Video, Audio;
    TGstSideTap::ConsumerId VideoConsumer = 0, AudioConsumer = 0;
    std::atomic<uint64_t> Bytes{0}; // taken by the sink
    uint64_t Pending = 0;           // the last buffer seen, not yet taken (streaming thread)

    // Counts what reaches sink's input into Bytes.
    void CountAt(GstElement* sink);
    // The taps start pushing into the feeders (audio only with both set).
    void StartFeeding(TGstSideTap& videoTap, TGstSideTap* audioTap);
    // The taps stop first, so that no sample reaches a source being torn
    // down; then the bus handler goes (nothing the teardown posts counts as
    // a failure), the pipeline stops, and it is freed.
    void Stop(TGstSideTap* videoTap, TGstSideTap* audioTap);
};

// appsrc for a tap: live, in time, at most half a second held, oldest dropped.
GstElement* MakeLiveSource(const char* name);
// Adds the elements to pipeline and links them in order; the last one, or
// null when a link fails.
GstElement* LinkChain(GstElement* pipeline, std::initializer_list<GstElement*> elements);
// Sets every slot from its factory; when one is missing, frees those made,
// clears the slots and returns false.
bool MakeGstElements(std::initializer_list<std::pair<GstElement**, const char*>> slots);

// The capture picture a tap delivers (zeros where the caps say nothing).
struct TTapVideo {
    int Width = 0, Height = 0;
    int FpsNum = 0, FpsDen = 1; // the exact rate (29.97 is 30000/1001)
};
TTapVideo TapVideo(TGstSideTap& tap);
// The rate an output encodes a capture at: the capture's own (15/2 stays
// 15/2), 30/1 when it is unknown.
struct TFrameRate {
    int Num = 30, Den = 1;
    // Frames in that many seconds, rounded up, at least one: keyframe spacing.
    int FramesIn(int seconds) const;
};
TFrameRate EncodeRate(const TTapVideo& capture);
// The size sent for a capture of width x height: within maxWidth x maxHeight,
// the capture's aspect kept, never larger than the capture, even sizes (the
// encoders' 4:2:0 planes need them). An unknown capture gets the bound.
void FitPictureSize(int width, int height, int maxWidth, int maxHeight, int& outWidth,
                    int& outHeight);
// source (added to pipeline in any case) ! videorate ! videoscale ! videoconvert ! I420 at that
// size and rate; the last element, or null when one is missing or a link fails.
GstElement* AddPictureChain(GstElement* pipeline, GstElement* source, int width, int height,
                            int fps, int fpsDen = 1);
// One clock and one base time with the capture: the taps' running times are
// this pipeline's running times.
void FollowCaptureClock(GstElement* pipeline, TGstSideTap& tap, GstClock* clock);

// What a side output encodes: picture size and rate, bit rates in bit/s.
struct TSideEncoding {
    int Width = 320, Height = 240, Fps = 15, FpsDen = 1; // rate Fps/FpsDen
    int VideoBitRate = 400000;
    int AudioBitRate = 128000;
};

// The live WebM encoding, into a streamable webmmux (returned; null when an
// element is missing or a link fails):
//   video ! picture chain ! vp8enc ! queue ! webmmux
//   audio ! audioconvert ! audioresample ! vorbisenc ! queue ! webmmux
// VP8 cheap enough for real time, nothing held back, a keyframe every second
// so that a joiner waits at most that long; Vorbis, which browsers' Media
// Source takes in WebM. The sources (audio may be null) join the pipeline in
// any case.
GstElement* AddWebmEncoding(GstElement* pipeline, GstElement* video, GstElement* audio,
                            const TSideEncoding& encoding);
// An element made but not added to a bin is freed (null: nothing).
void DropLooseElement(GstElement* element);
