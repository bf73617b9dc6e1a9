#include "media/ASFWriter.h"

#include "media/PinList.h"
#include "platform/ClassRegistry.h"

#include <utility>

namespace {

constexpr const GUID* kProfileGuids[kWMProfileCount] = {
    &WMProfile_V80_255VideoPDA,    &WMProfile_V80_150VideoPDA,    &WMProfile_V80_28856VideoMBR,
    &WMProfile_V80_100768VideoMBR, &WMProfile_V80_288100VideoMBR, &WMProfile_V80_288Video,
    &WMProfile_V80_56Video,        &WMProfile_V80_100Video,       &WMProfile_V80_256Video,
    &WMProfile_V80_384Video,       &WMProfile_V80_768Video,       &WMProfile_V80_700NTSCVideo,
    &WMProfile_V80_1400NTSCVideo,  &WMProfile_V80_384PALVideo,    &WMProfile_V80_700PALVideo,
    &WMProfile_V80_288MonoAudio,   &WMProfile_V80_288StereoAudio, &WMProfile_V80_32StereoAudio,
    &WMProfile_V80_48StereoAudio,  &WMProfile_V80_64StereoAudio,  &WMProfile_V80_96StereoAudio,
    &WMProfile_V80_128StereoAudio, &WMProfile_V80_288VideoOnly,   &WMProfile_V80_56VideoOnly,
    &WMProfile_V80_FAIRVBRVideo,   &WMProfile_V80_HIGHVBRVideo,   &WMProfile_V80_BESTVBRVideo,
};

} // namespace

GUID WMProfileGuid(TWMPofiles8 profile) {
    return profile < kWMProfileCount ? *kProfileGuids[profile] : GUID_NULL;
}

TWMPofiles8 WMProfileOfGuid(REFGUID guid) {
    for (int i = 0; i < kWMProfileCount; ++i)
        if (*kProfileGuids[i] == guid) return static_cast<TWMPofiles8>(i);
    return kUnknownWMProfile;
}

TASFWriter::TASFWriter(std::string name) : TComponent(std::move(name)) {}

TASFWriter::~TASFWriter() {
    try {
        SetFilterGraph(nullptr);
    } catch (...) {
        // a destructor must not raise; the graph has already dropped the member
    }
    ReleaseLive();
}

void TASFWriter::SetFilterGraph(TFilterGraph* graph) {
    if (graph == filterGraph_) return;
    // Stored first: a member operation that raises still leaves the graph
    // and this component agreeing on the membership.
    TFilterGraph* old = std::exchange(filterGraph_, graph);
    if (old) old->RemoveMember(this);
    if (graph) graph->InsertMember(this);
}

void TASFWriter::GraphDestroyed(TFilterGraph* graph) {
    if (graph == filterGraph_) {
        filterGraph_ = nullptr;
        ReleaseLive();
    }
}

TWMPofiles8 TASFWriter::Profile() {
    if (auto config = Query<IConfigAsfWriter>()) {
        GUID guid = GUID_NULL;
        config->GetCurrentProfileGuid(&guid);
        return WMProfileOfGuid(guid);
    }
    return profile_;
}

void TASFWriter::SetProfile(TWMPofiles8 profile) {
    if (auto config = Query<IConfigAsfWriter>()) {
        config->ConfigureFilterUsingProfileGuid(WMProfileGuid(profile)); // result not used
        return;
    }
    profile_ = profile;
}

std::string TASFWriter::FileName() {
    if (auto sink = Query<IFileSinkFilter>()) {
        std::string name;
        sink->GetCurFile(name, nullptr);
        return name;
    }
    return fileName_;
}

void TASFWriter::SetFileName(const std::string& name) {
    fileName_ = name;
    if (auto sink = Query<IFileSinkFilter>()) sink->SetFileName(name, nullptr); // result not used
}

void TASFWriter::SetViewerAccess(TViewerAccessCheck check, TOriginCheck origins) {
    accessCheck_ = std::move(check);
    originCheck_ = std::move(origins);
    if (auto access = QueryAs<IStreamAccess>(networkSink_.Get())) {
        access->SetAccessCheck(accessCheck_);
        access->SetOriginCheck(originCheck_);
    }
}

HRESULT TASFWriter::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!filter_) return E_NOINTERFACE;
    return filter_->QueryInterface(iid, out);
}

void TASFWriter::OnFilterOperation(TFilterOperation operation) {
    switch (operation) {
    case opAdding:
        ReleaseLive();
        CreateInstance(CLSID_WMAsfWriter, filter_, CLSCTX_INPROC);
        break;
    case opAdded:
        if (filter_) FilterAdded();
        break;
    case opRemoving:
        FilterRemoving();
        break;
    case opRemoved:
        ReleaseLive();
        break;
    }
}

void TASFWriter::FilterAdded() {
    SetProfile(profile_);
    if (auto archive = Query<IAsfArchive>()) {
        archive->SetSegmentDuration(segmentSeconds_ * 10'000'000);
        archive->SetRetention(retention_);
        archive->SetSegmentHandler(segmentHandler_);
    }
    SetFileName(fileName_);
    if (auto config2 = Query<IConfigAsfWriter2>()) {
        config2->SetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, autoIndex_ ? 1 : 0, 0);
        config2->SetParam(AM_CONFIGASFWRITER_PARAM_MULTIPASS, multiPass_ ? 1 : 0, 0);
        config2->SetParam(AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS, dontCompress_ ? 1 : 0, 0);
    }

    TPinList pins(filter_.Get());
    if (pins.Count() == 0) return;
    pin0_ = pins.PinAt(0);
    if (pins.Count() == 2) {
        pin1_ = pins.PinAt(1);
        config1_ = pin1_.Query<IAMStreamConfig>();
    }
    config0_ = pin0_.Query<IAMStreamConfig>();

    if (auto provider = Query<IServiceProvider>())
        provider->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, advanced_.PutVoid());

    // Port 0 asks for a free port (written back below); no viewers allowed
    // means no sink. Without the advanced interface a sink could not be added.
    if (maxUsers_ == 0) return;
    if (!advanced_) {
        networkSinkResult_ = E_NOINTERFACE;
        return;
    }
    ComPtr<IWMWriterNetworkSink> sink;
    networkSinkResult_ = WMCreateWriterNetworkSink(sink.Put());
    if (SUCCEEDED(networkSinkResult_) && !sink) networkSinkResult_ = E_POINTER;
    if (FAILED(networkSinkResult_)) return;
    sink->SetNetworkProtocol(WMT_PROTOCOL_HTTP);
    sink->SetMaximumClients(maxUsers_);
    if (auto access = QueryAs<IStreamAccess>(sink.Get())) {
        access->SetBindAddress(listenAddress_);
        access->SetAccessCheck(accessCheck_);
        access->SetOriginCheck(originCheck_);
    }
    DWORD port = port_;
    // A port that cannot be opened (taken, say) leaves the writer without a
    // sink; the graph still runs, and the owner decides from the result.
    networkSinkResult_ = sink->Open(&port);
    if (FAILED(networkSinkResult_)) return;
    port_ = port;
    advanced_->AddSink(sink.Get());
    networkSink_ = sink;
}

void TASFWriter::FilterRemoving() {
    if (filter_) filter_->Stop();
    if (networkSink_) {
        networkSink_->Disconnect();
        networkSink_->Close();
    }
    if (pin0_) pin0_->Disconnect();
    if (pin1_) pin1_->Disconnect();
}

void TASFWriter::ReleaseLive() {
    advanced_.Reset();
    networkSink_.Reset();
    networkSinkResult_ = S_OK;
    pin0_.Reset();
    pin1_.Reset();
    config0_.Reset();
    config1_.Reset();
    filter_.Reset();
}
