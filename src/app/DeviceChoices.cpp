#include "app/DeviceChoices.h"

#include "app/CaptureSteps.h"
#include "media/PinList.h"

namespace {

template <class T> ComPtr<T> Require(const ComPtr<IPin>& pin) {
    ComPtr<T> out;
    CheckMediaResult(pin ? pin->QueryInterface(T::Iid, out.PutVoid()) : E_POINTER);
    return out;
}

// An audio device lists its output pin (the sound) and its input lines as
// pins of one filter: each output pin goes to output and leaves the list,
// so that the lines remain in their order.
template <class F> void SplitOutputPins(TPinList& pins, F&& output) {
    for (int i = 0; i < pins.Count();) {
        TPinInfo info;
        pins.PinInfoAt(i, info.Record);
        if (info.Record.dir != PINDIR_OUTPUT) {
            ++i;
            continue;
        }
        output(pins.PinAt(i));
        pins.Delete(i);
    }
}

void Begin(const TListReceiver& receiver) {
    if (receiver.Begin) receiver.Begin();
}

void Add(const TListReceiver& receiver, int index, const std::string& text) {
    if (receiver.Add) receiver.Add(index, text);
}

} // namespace

std::string NoLongerConnectedText(const std::string& friendlyName) {
    return "\"" + friendlyName +
           "\" is no longer connected: connect it again or choose another device.";
}

void TDeviceChoices::OpenDeviceLists(const TListReceiver& video, const TListReceiver& audio) {
    // The format lists first: a device list that fails half-way leaves
    // entries that can be chosen, and a choice needs its format list.
    videoFormats_ = std::make_unique<TEnumMediaType>();
    audioFormats_ = std::make_unique<TEnumMediaType>();
    deviceEnumerator_ = std::make_unique<TSysDevEnum>();
    choices_ = {};
    gone_ = {};
    ListDevices(video, audio);
}

void TDeviceChoices::ListDevices(const TListReceiver& video, const TListReceiver& audio) {
    videoDevices_.clear();
    audioDevices_.clear();
    auto list = [this](const TListReceiver& receiver, std::vector<TDeviceEntry>& listed) {
        Begin(receiver);
        for (int n = 0; n < deviceEnumerator_->DeviceCount(); ++n) {
            listed.push_back(deviceEnumerator_->GetDevice(n));
            Add(receiver, n, listed.back().FriendlyName);
        }
    };
    deviceEnumerator_->SelectCategory(CLSID_VideoInputDeviceCategory);
    list(video, videoDevices_);
    // Left on the audio category: every choice selects the category it needs.
    deviceEnumerator_->SelectCategory(CLSID_AudioInputDeviceCategory);
    list(audio, audioDevices_);
}

int TDeviceChoices::FindListed(const std::vector<TDeviceEntry>& listed,
                               const TDeviceEntry& chosen) {
    for (size_t i = 0; i < listed.size(); ++i)
        if (listed[i].FriendlyName == chosen.FriendlyName &&
            listed[i].DevicePath == chosen.DevicePath)
            return static_cast<int>(i);
    return -1;
}

TGoneDevices TDeviceChoices::RelistDevices(const TListReceiver& video, const TListReceiver& audio) {
    RequireLists();
    ListDevices(video, audio);
    auto follow = [this](int32_t& choice, const TFilter& source, const TDeviceEntry& chosen,
                         const std::vector<TDeviceEntry>& listed, std::string& gone) {
        if (!source.FilterGraph()) return;
        choice = FindListed(listed, chosen);
        gone = choice < 0 ? chosen.FriendlyName : std::string();
    };
    follow(choices_.VideoDevice, videoSource_, chosenVideo_, videoDevices_, gone_.Video);
    follow(choices_.AudioDevice, audioSource_, chosenAudio_, audioDevices_, gone_.Audio);
    return gone_;
}

TGoneDevices TDeviceChoices::ForgetGoneDevices() {
    const TGoneDevices gone = gone_;
    if (!gone.Any()) return gone;
    DiscardGraph(graph_);
    if (!gone.Video.empty()) {
        videoSource_.SetFilterGraph(nullptr);
        choices_.VideoDevice = choices_.VideoFormat = -1;
        if (videoFormats_) videoFormats_->Clear();
    }
    if (!gone.Audio.empty()) {
        audioSource_.SetFilterGraph(nullptr);
        choices_.AudioDevice = choices_.AudioFormat = choices_.AudioInput = -1;
        if (audioFormats_) audioFormats_->Clear();
    }
    gone_ = {};
    return gone;
}

void TDeviceChoices::CloseDeviceLists() {
    deviceEnumerator_.reset();
    videoFormats_.reset();
    audioFormats_.reset();
}

void TDeviceChoices::RequireLists() const {
    if (!deviceEnumerator_) throw EAssertionFailed("TSysDevEnum not created");
    if (!videoFormats_ || !audioFormats_) throw EAssertionFailed("TEnumMediaType not created");
}

void TDeviceChoices::RequireListsOfSources() const {
    if (videoSource_.FilterGraph() || audioSource_.FilterGraph()) RequireLists();
}

ComPtr<IMoniker> TDeviceChoices::DeviceMoniker(const GUID& category, int device) {
    const std::vector<TDeviceEntry>& listed =
        category == CLSID_VideoInputDeviceCategory ? videoDevices_ : audioDevices_;
    if (device < 0 || device >= static_cast<int>(listed.size())) throw EListError(device);
    const TDeviceEntry& entry = listed[static_cast<size_t>(device)];
    // Devices plugged in or out since the listing shift the positions: the
    // device is found by its identity, never by where it was.
    deviceEnumerator_->SelectCategory(category);
    ComPtr<IMoniker> moniker =
        entry.DevicePath.empty()
            ? deviceEnumerator_->GetDeviceMoniker(device)
            : deviceEnumerator_->FindDeviceMoniker(entry.DevicePath, entry.FriendlyName);
    if (!moniker) throw ECaptureError(NoLongerConnectedText(entry.FriendlyName));
    return moniker;
}

void TDeviceChoices::OpenSourceDevice(TFilter& source, const ComPtr<IMoniker>& moniker) {
    source.BaseFilter().AssignMoniker(moniker.Get());
    source.SetFilterGraph(&graph_);
    graph_.SetActive(true);
}

void TDeviceChoices::ChooseVideoDevice(int device, const TListReceiver& formats) {
    RequireLists();
    const ComPtr<IMoniker> moniker = DeviceMoniker(CLSID_VideoInputDeviceCategory, device);
    DiscardGraph(graph_);
    choices_.VideoDevice = device;
    choices_.VideoFormat = -1;
    chosenVideo_ = videoDevices_[static_cast<size_t>(device)];
    gone_.Video.clear();
    OpenSourceDevice(videoSource_, moniker);
    TPinList pins(FilterOf(videoSource_).Get());
    Begin(formats);
    videoFormats_->AssignPin(pins.FirstPin().Get());
    for (int n = 0; n < videoFormats_->Count(); ++n)
        Add(formats, n, videoFormats_->FormatText(n));
    graph_.SetActive(false);
}

void TDeviceChoices::ChooseAudioDevice(int device, const TListReceiver& formats,
                                       const TListReceiver& lines) {
    RequireLists();
    const ComPtr<IMoniker> moniker = DeviceMoniker(CLSID_AudioInputDeviceCategory, device);
    DiscardGraph(graph_);
    choices_.AudioDevice = device;
    choices_.AudioInput = -1;
    choices_.AudioFormat = -1;
    chosenAudio_ = audioDevices_[static_cast<size_t>(device)];
    gone_.Audio.clear();
    OpenSourceDevice(audioSource_, moniker);
    TPinList pins(FilterOf(audioSource_).Get());
    Begin(formats);
    // The output pins give the formats (the last one wins). A device without
    // an output pin must not keep the formats of the device chosen before.
    audioFormats_->Clear();
    SplitOutputPins(pins, [this](const ComPtr<IPin>& pin) { audioFormats_->AssignPin(pin.Get()); });
    for (int n = 0; n < audioFormats_->Count(); ++n)
        Add(formats, n, audioFormats_->FormatText(n));
    graph_.SetActive(false);
    Begin(lines);
    for (int n = 0; n < pins.Count(); ++n) {
        TPinInfo info;
        pins.PinInfoAt(n, info.Record);
        Add(lines, n, info.Record.achName);
        BOOL enabled = 0;
        Require<IAMAudioInputMixer>(pins.PinAt(n))->get_Enable(&enabled);
        if (enabled) choices_.AudioInput = n;
    }
}

void TDeviceChoices::ApplyChoices() {
    if (audioSource_.FilterGraph()) {
        TPinList pins(FilterOf(audioSource_).Get());
        SplitOutputPins(pins, [this](const ComPtr<IPin>& pin) {
            if (choices_.AudioFormat != -1)
                Require<IAMStreamConfig>(pin)->SetFormat(
                    &audioFormats_->MediaTypeAt(choices_.AudioFormat).MediaTypeRecord());
        });
        if (choices_.AudioInput != -1)
            Require<IAMAudioInputMixer>(pins.PinAt(choices_.AudioInput))->put_Enable(-1);
    }
    if (videoSource_.FilterGraph()) {
        TPinList pins(FilterOf(videoSource_).Get());
        if (choices_.VideoFormat != -1)
            Require<IAMStreamConfig>(pins.FirstPin())
                ->SetFormat(&videoFormats_->MediaTypeAt(choices_.VideoFormat).MediaTypeRecord());
    }
}
