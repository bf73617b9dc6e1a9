#pragma once
// The same capture as a recording made through the components, written
// directly as one GStreamer pipeline: Test Pattern 320x240 YUY2 at 30 fps
// (or the bench MJPEG camera) and Test Tone 44100 Hz stereo into an AVI file. The yardstick of the
// recording benchmark.
#include <string>

// Records for the given time and finishes the file; false (with a reason)
// when the pipeline cannot run or finish.
// mjpeg: the bench MJPEG camera's source instead, written as it comes.
bool RecordReferencePipeline(const std::string& fileName, double seconds, std::string& error,
                             bool mjpeg = false);
