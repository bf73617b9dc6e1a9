#pragma once
// TDeviceChoices: the capture devices as listed, the formats and input lines
// of the chosen ones, and the choices made in the menus. The chosen devices
// are the source filters of the capture graph it is given; a start applies
// the chosen formats and line to them.
#include "app/CaptureMode.h"
#include "media/EnumMediaType.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/SysDevEnum.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The choices made in the menus. -1: no device, the device's own format,
// the device's input lines left as they are.
struct TCaptureChoices {
    int32_t VideoDevice = -1;
    int32_t VideoFormat = -1;
    int32_t AudioDevice = -1;
    int32_t AudioFormat = -1;
    int32_t AudioInput = -1;
};

// Takes a device's list (its formats, its input lines) entry by entry as it
// is read, so that a failure half-way leaves what was read with the caller.
// Either function may be empty.
struct TListReceiver {
    std::function<void()> Begin; // the list starts over
    std::function<void(int index, const std::string& text)> Add;
};

// The chosen devices that a new listing no longer has (their names; empty:
// still listed, or none chosen).
struct TGoneDevices {
    std::string Video, Audio;
    bool Any() const { return !Video.empty() || !Audio.empty(); }
};

// What the user is told of a chosen device that went away.
std::string NoLongerConnectedText(const std::string& friendlyName);

class TDeviceChoices {
  public:
    explicit TDeviceChoices(TFilterGraph& graph) : graph_(graph) {}

    // Creates the device enumerator and the (empty) format lists and clears
    // the choices; the friendly names of the video and the audio input
    // devices go to the receivers in enumeration order.
    void OpenDeviceLists(const TListReceiver& video, const TListReceiver& audio);
    // Devices were plugged in or taken away: the device lists go to the
    // receivers again as they are now. A chosen device keeps its choice at
    // its new position, found by its identity and name; one no longer listed
    // is reported (and at position -1) until ForgetGoneDevices.
    TGoneDevices RelistDevices(const TListReceiver& video, const TListReceiver& audio);
    // Drops the choices, formats and filters of the chosen devices that the
    // last listing no longer had, and returns their names. A running graph
    // is not touched: the caller waits until it stopped.
    TGoneDevices ForgetGoneDevices();
    // Frees the lists (the end of the run).
    void CloseDeviceLists();
    bool ListsOpen() const { return deviceEnumerator_ && videoFormats_ && audioFormats_; }

    // A device chosen by its index in the listing, opened by its identity
    // (refused with a message when it is gone): it joins the graph, its
    // formats (and an audio device's input lines) go to the receivers, the
    // format and line choices start over; of the audio lines, the last one
    // that reports itself enabled becomes the chosen one.
    void ChooseVideoDevice(int device, const TListReceiver& formats);
    void ChooseAudioDevice(int device, const TListReceiver& formats, const TListReceiver& lines);
    void ChooseVideoFormat(int format) { choices_.VideoFormat = format; }
    void ChooseAudioFormat(int format) { choices_.AudioFormat = format; }
    void ChooseAudioInput(int line) { choices_.AudioInput = line; }
    const TCaptureChoices& Choices() const { return choices_; }
    // The chosen devices' names as listed; empty: none chosen.
    std::string VideoDeviceName() const { return ListedName(videoDevices_, choices_.VideoDevice); }
    std::string AudioDeviceName() const { return ListedName(audioDevices_, choices_.AudioDevice); }

    // For a start: the chosen devices' filters (null: none chosen), a check
    // that their lists are still there (raised before the graph is touched),
    // and the chosen formats and line applied to the active graph's devices.
    TFilter* VideoSource() { return videoSource_.FilterGraph() ? &videoSource_ : nullptr; }
    TFilter* AudioSource() { return audioSource_.FilterGraph() ? &audioSource_ : nullptr; }
    void RequireListsOfSources() const;
    void ApplyChoices();

  private:
    static std::string ListedName(const std::vector<TDeviceEntry>& listed, int index) {
        return index >= 0 && index < static_cast<int>(listed.size())
                   ? listed[static_cast<size_t>(index)].FriendlyName
                   : std::string();
    }
    // A choice needs the lists of OpenDeviceLists (none after the end, say).
    void RequireLists() const;
    // The listed device at index, found again by its identity; raises when it
    // is gone.
    ComPtr<IMoniker> DeviceMoniker(const GUID& category, int device);
    // Puts the device into the (inactive) capture graph and activates it, so
    // that its pins can be read; the caller deactivates it again.
    void OpenSourceDevice(TFilter& source, const ComPtr<IMoniker>& moniker);

    // Reads both categories into the listed entries and the receivers.
    void ListDevices(const TListReceiver& video, const TListReceiver& audio);
    // Where the chosen device (the entry at index in the old listing) is now
    // listed; -1 when it is gone.
    static int FindListed(const std::vector<TDeviceEntry>& listed, const TDeviceEntry& chosen);

    TFilterGraph& graph_;
    TFilter videoSource_{"VideoSourceFilter"};
    TFilter audioSource_{"AudioSourceFilter"};
    std::unique_ptr<TSysDevEnum> deviceEnumerator_;
    // The devices as listed to the receivers (positions are the menu's).
    std::vector<TDeviceEntry> videoDevices_, audioDevices_;
    std::unique_ptr<TEnumMediaType> videoFormats_;
    std::unique_ptr<TEnumMediaType> audioFormats_;
    TCaptureChoices choices_;
    // The chosen devices as they were listed when chosen (their identity).
    TDeviceEntry chosenVideo_, chosenAudio_;
    TGoneDevices gone_;
};
