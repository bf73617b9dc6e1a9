#pragma once
// The system device enumerator on GStreamer: the video input category lists
// the GstDeviceMonitor's "Video/Source" devices, then the built-in "Test
// Pattern"; the audio input category its "Audio/Source" devices, then the
// built-in "Test Tone". Each device is a moniker that saves to bytes naming
// the provider and a stable device identity, and binds to a new capture filter.
#include "platform/DeviceInterfaces.h"
#include "platform/FilterInterfaces.h"
#include "platform/gst/GstUtil.h"

#include <mutex>
#include <string>
#include <vector>

// Class ids of our capture filters (what a device's "CLSID" value names).
inline constexpr GUID CLSID_GstVideoCapture{
    0x6B0C8A20, 0x2F4E, 0x4C1A, {0x9D, 0x35, 0x41, 0x7A, 0x0E, 0x52, 0xC3, 0x10}};
inline constexpr GUID CLSID_GstAudioCapture{
    0x6B0C8A21, 0x2F4E, 0x4C1A, {0x9D, 0x35, 0x41, 0x7A, 0x0E, 0x52, 0xC3, 0x11}};
inline constexpr GUID CLSID_GstDeviceMoniker{
    0x6B0C8A30, 0x2F4E, 0x4C1A, {0x9D, 0x35, 0x41, 0x7A, 0x0E, 0x52, 0xC3, 0x20}};

struct TGstDeviceId {
    bool Video = true;
    std::string Provider; // GStreamer device type ("GstV4l2Device"), or "builtin"
    std::string Identity; // device path / node name; the test source's factory for built-ins
    std::string FriendlyName;
};

// The devices of one kind, in the monitor's order, then the built-in one.
std::vector<TGstDeviceId> ListGstDevices(bool video);
// A new capture filter for the device; E_FAIL-class codes when it is gone.
HRESULT CreateGstCaptureFilter(const TGstDeviceId& id, ComPtr<IBaseFilter>& out);
// A device moniker (not yet registered anywhere).
ComPtr<IMoniker> MakeGstDeviceMoniker(const TGstDeviceId& id);
// An empty device moniker (what OleLoadFromStream creates before Load).
HRESULT NewGstDeviceMoniker(REFIID iid, void** out);

// IDeviceWatch on a started GstDeviceMonitor of both input categories.
// Threads: the providers post on their own threads; lock_ guards changed_
// and is held while it runs, so that Stop waits for a report in progress.
class TGstDeviceWatch : public TComObject<IDeviceWatch> {
  public:
    HRESULT Start(std::function<void(const TDeviceChange&)> changed) override;
    void Stop() override;

  protected:
    ~TGstDeviceWatch() override;

  private:
    static GstBusSyncReply OnMessage(GstBus* bus, GstMessage* message, gpointer self);
    void Report(GstMessage* message);
    TGstRef<GstDeviceMonitor> monitor_;
    std::mutex lock_;
    std::function<void(const TDeviceChange&)> changed_;
};

// ICreateDevEnum over the two input categories.
class TGstSystemDeviceEnum : public TComObject<ICreateDevEnum> {
  public:
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) override;
};
