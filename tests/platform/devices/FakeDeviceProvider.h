#pragma once
// Cameras and microphones of the shapes real ones have, as GStreamer device
// providers registered in this test process (providers are process-wide):
//
// "kxfakecamprovider", shaped as v4l2 and pulse are: each device's identity
// is its bus path or internal name, its node a /dev/videoN.
// "kxfakewireprovider", shaped as PipeWire is: while its "daemon" runs
// (SetWireRunning), its probe hides the first provider and lists the same
// cameras under node names with their /dev/videoN.
#include <string>

namespace fakedev {

inline const char* kMjpegCamera = "Fake MJPEG Camera"; // MJPEG only, 1280x720 at 30
inline const char* kUvcCamera = "Fake UVC Camera";     // v4l2-shaped: YUY2 large and slow, MJPEG
inline const char* kNv12Camera = "Fake NV12 Camera";   // NV12 only
inline const char* kH264Camera = "Fake H.264 Camera";  // H.264 only
inline const char* kVanishingCamera = "Fake Vanishing Camera"; // stops delivering after 1.5 s
inline const char* kMicrophone = "Fake Ranged Microphone";     // ranges, the server's default
inline const char* kMonitor = "Monitor of Fake Speakers";      // what the machine plays

// Registers both providers (once).
void RegisterFakeProviders();
// Whether the PipeWire-shaped provider's daemon runs (hides the other).
void SetWireRunning(bool running);
// Every camera starts delivering again (the vanishing one is back).
void ResetVanished();
// A camera plugged in / pulled out while a monitor runs.
void PlugCamera(const std::string& name);
void UnplugCamera(const std::string& name);

} // namespace fakedev
