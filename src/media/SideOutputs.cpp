#include "media/SideOutputs.h"

#include "platform/ClassRegistry.h"

namespace {

ComPtr<ISideTap> TapOf(TFilter& filter) {
    ComPtr<ISideTap> tap;
    if (auto source = filter.Query<ISideTapSource>()) source->GetSideTap(tap.Put());
    return tap;
}

} // namespace

TSideOutputs::~TSideOutputs() {
    Stop();
}

void TSideOutputs::SetRelay(std::optional<TRelaySettings> settings) {
    relaySettings_ = std::move(settings);
    if (relay_) relay_->SetRelay(relaySettings_ ? &*relaySettings_ : nullptr);
}

TRelayStatus TSideOutputs::RelayStatus() {
    TRelayStatus status;
    if (auto output = QueryAs<ISideOutput>(relay_.Get())) output->GetStatus(&status);
    return status;
}

ComPtr<ISideOutput> TSideOutputs::Add(const GUID& clsid, ISideTap* video, ISideTap* audio) {
    ComPtr<ISideOutput> output;
    if (FAILED(CreateInstance(clsid, output)) || !output) return nullptr;
    output->SetTaps(video, audio);
    outputs_.push_back(output);
    return output;
}

void TSideOutputs::Start(TFilter& video, TFilter* audio, IWMWriterNetworkSink* sink) {
    Stop();
    const ComPtr<ISideTap> videoTap = TapOf(video);
    if (!videoTap) return;
    const ComPtr<ISideTap> audioTap = audio ? TapOf(*audio) : nullptr;

    if (ComPtr<IWebmStreamSink> browsers = QueryAs<IWebmStreamSink>(sink)) {
        webmSource_ = QueryAs<IWebmStreamSource>(
            Add(CLSID_WebmStreamOutput, videoTap.Get(), audioTap.Get()).Get());
        if (webmSource_) {
            webmSink_ = browsers;
            webmSource_->SetWebmSink(webmSink_.Get());
        }
    }
    relay_ = QueryAs<IRelayOutput>(Add(CLSID_RelayOutput, videoTap.Get(), audioTap.Get()).Get());
    if (relay_) relay_->SetRelay(relaySettings_ ? &*relaySettings_ : nullptr);
    whep_ = QueryAs<IWhepEndpoint>(Add(CLSID_WebRtcOutput, videoTap.Get(), audioTap.Get()).Get());
    if (whep_) {
        whep_->SetNetwork(webRtcNetwork_);
        // One cap for every kind of viewer: WebRTC viewers hold places of the sink's.
        if (ComPtr<IStreamViewers> places = QueryAs<IStreamViewers>(sink))
            whep_->SetAdmission([places] { return places->TakePlace() == S_OK; },
                                [places] { places->GivePlace(); });
    }

    for (const auto& output : outputs_)
        output->Start();
    // Browsers already waiting are served from here on.
    if (webmSink_) webmSink_->SetWebmSource(webmSource_.Get());
}

void TSideOutputs::Stop() {
    // The sink stops asking for the stream before its maker goes.
    if (webmSink_) webmSink_->SetWebmSource(nullptr);
    for (const auto& output : outputs_)
        output->Stop();
    if (webmSource_) webmSource_->SetWebmSink(nullptr);
    outputs_.clear();
    relay_.Reset();
    whep_.Reset();
    webmSource_.Reset();
    webmSink_.Reset();
}
