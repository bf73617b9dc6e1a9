#pragma once
// A camera for the benchmarks' --mjpeg runs: a GStreamer device provider of
// this process listing one MJPEG-only camera, 1280 x 720 at 30 fps, whose
// element encodes a live test picture. The plain pipelines start from the
// same source description, so both sides pay for the encoding alike.
inline constexpr const char* kBenchMjpegCamera = "Bench MJPEG Camera";
inline constexpr const char* kBenchMjpegSource =
    "videotestsrc is-live=true ! video/x-raw,format=I420,width=1280,height=720,framerate=30/1 ! "
    "jpegenc";

// Registers the provider (once).
void RegisterBenchMjpegCamera();
