#pragma once
// TASFWriter: the component behind the broadcast. While its graph is active
// it owns the platform's ASF writer filter, configures it with a system
// profile and an output file, and, with a port and a client limit set, gives
// it a network sink that serves the stream to viewers on that port (port 0:
// a free one, written back into Port).
#include "media/Component.h"
#include "media/FilterGraph.h"
#include "platform/AsfInterfaces.h"
#include "platform/StreamAccessInterfaces.h"

#include <cstdint>
#include <optional>
#include <string>

// The Windows Media system profiles, in the writer's list order.
enum TWMPofiles8 : uint8_t {
    wmp_V80_255VideoPDA,
    wmp_V80_150VideoPDA,
    wmp_V80_28856VideoMBR,
    wmp_V80_100768VideoMBR,
    wmp_V80_288100VideoMBR,
    wmp_V80_288Video,
    wmp_V80_56Video,
    wmp_V80_100Video,
    wmp_V80_256Video,
    wmp_V80_384Video,
    wmp_V80_768Video,
    wmp_V80_700NTSCVideo,
    wmp_V80_1400NTSCVideo,
    wmp_V80_384PALVideo,
    wmp_V80_700PALVideo,
    wmp_V80_288MonoAudio,
    wmp_V80_288StereoAudio,
    wmp_V80_32StereoAudio,
    wmp_V80_48StereoAudio,
    wmp_V80_64StereoAudio,
    wmp_V80_96StereoAudio,
    wmp_V80_128StereoAudio,
    wmp_V80_288VideoOnly,
    wmp_V80_56VideoOnly,
    wmp_V80_FAIRVBRVideo,
    wmp_V80_HIGHVBRVideo,
    wmp_V80_BESTVBRVideo,
};
inline constexpr int kWMProfileCount = 27;
// What Profile reads when the live filter reports a profile outside the list.
inline constexpr TWMPofiles8 kUnknownWMProfile = static_cast<TWMPofiles8>(255);

// The profile GUID of a list value (GUID_NULL outside the list), and back
// (kUnknownWMProfile for a GUID outside the list).
GUID WMProfileGuid(TWMPofiles8 profile);
TWMPofiles8 WMProfileOfGuid(REFGUID guid);

class TASFWriter : public TComponent, public IFilterMember {
  public:
    explicit TASFWriter(std::string name = {});
    ~TASFWriter() override;

    TFilterGraph* FilterGraph() const noexcept { return filterGraph_; }
    void SetFilterGraph(TFilterGraph* graph);

    // With a live filter: configures it (the stored value stays) / reads its profile.
    TWMPofiles8 Profile();
    void SetProfile(TWMPofiles8 profile);
    // With a live filter: its output file; the stored name is kept in both cases.
    std::string FileName();
    void SetFileName(const std::string& name);

    // The archive in segments (see IAsfArchive), applied when the filter is
    // made: a segment of this many seconds (0: one file), kept and pruned so.
    int64_t ArchiveSegmentSeconds() const noexcept { return segmentSeconds_; }
    void SetArchiveSegmentSeconds(int64_t seconds) noexcept { segmentSeconds_ = seconds; }
    void SetArchiveRetention(const TArchiveRetention& retention) noexcept {
        retention_ = retention;
    }
    void SetArchiveSegmentHandler(IAsfArchive::TSegmentHandler handler) {
        segmentHandler_ = std::move(handler);
    }

    // 0: the sink opens a free port and writes it back here on activation.
    uint32_t Port() const noexcept { return port_; }
    void SetPort(uint32_t port) noexcept { port_ = port; }
    // 0: no network sink.
    uint32_t MaxUsers() const noexcept { return maxUsers_; }
    void SetMaxUsers(uint32_t count) noexcept { maxUsers_ = count; }
    bool AutoIndex() const noexcept { return autoIndex_; }
    void SetAutoIndex(bool value) noexcept { autoIndex_ = value; }
    bool MultiPass() const noexcept { return multiPass_; }
    void SetMultiPass(bool value) noexcept { multiPass_ = value; }
    bool DontCompress() const noexcept { return dontCompress_; }
    void SetDontCompress(bool value) noexcept { dontCompress_ = value; }
    // The address the sink listens on (empty: every interface), from the
    // next activation on; who may watch and which pages may read the
    // browser stream (none: anyone, any page), at once and from then on.
    const std::string& ListenAddress() const noexcept { return listenAddress_; }
    void SetListenAddress(std::string address) { listenAddress_ = std::move(address); }
    void SetViewerAccess(TViewerAccessCheck check, TOriginCheck origins);

    // The live filter's interfaces (E_NOINTERFACE while there is none).
    HRESULT QueryInterface(REFIID iid, void** out);
    template <class T> ComPtr<T> Query() {
        ComPtr<T> r;
        QueryInterface(T::Iid, r.PutVoid());
        return r;
    }

    // The network sink while the graph is active and one was opened (null otherwise).
    ComPtr<IWMWriterNetworkSink> NetworkSink() const { return networkSink_; }
    // While active: why there is no sink although one was asked for (the
    // sink's Open result, a port in use say); S_OK otherwise.
    HRESULT NetworkSinkResult() const noexcept { return networkSinkResult_; }

    // IFilterMember
    ComPtr<IBaseFilter> MemberFilter() override { return filter_; }
    std::string MemberName() override { return Name(); }
    void OnFilterOperation(TFilterOperation operation) override;
    void GraphDestroyed(TFilterGraph* graph) override;

  private:
    void FilterAdded();
    void FilterRemoving();
    void ReleaseLive();

    TFilterGraph* filterGraph_ = nullptr; // not owned
    TWMPofiles8 profile_ = wmp_V80_255VideoPDA;
    std::string fileName_;
    int64_t segmentSeconds_ = 0;
    TArchiveRetention retention_;
    IAsfArchive::TSegmentHandler segmentHandler_;
    uint32_t port_ = 0;
    uint32_t maxUsers_ = 0;
    bool autoIndex_ = true;
    bool multiPass_ = false;
    bool dontCompress_ = false;
    std::string listenAddress_;
    TViewerAccessCheck accessCheck_;
    TOriginCheck originCheck_;

    // Live while attached to an active graph.
    ComPtr<IBaseFilter> filter_;
    ComPtr<IWMWriterAdvanced2> advanced_;
    ComPtr<IWMWriterNetworkSink> networkSink_;
    HRESULT networkSinkResult_ = S_OK;
    ComPtr<IPin> pin0_, pin1_;
    ComPtr<IAMStreamConfig> config0_, config1_; // kept, not used further
};
