// TASFWriter on a fake platform: what it configures on activation, when it
// makes a network sink, live versus stored profile and file name, tear-down.
#include "media/ASFWriter.h"
#include "FakeGraph.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;

namespace {

class FakeAsfWriter final : public TComObject<IBaseFilter, IConfigAsfWriter2, IFileSinkFilter,
                                              IServiceProvider, IWMWriterAdvanced2> {
  public:
    FakeAsfWriter() { Last() = this; }
    ~FakeAsfWriter() override {
        if (Last() == this) Last() = nullptr;
    }
    static FakeAsfWriter*& Last() {
        static FakeAsfWriter* last = nullptr;
        return last;
    }
    static int& PinCount() {
        static int n = 2;
        return n;
    }

    GUID profile = GUID_NULL;
    std::string file;
    std::vector<std::string> params;
    std::vector<ComPtr<IWMWriterSink>> sinks;
    int stops = 0;
    std::vector<ComPtr<FakePin>> pins;

    // IBaseFilter
    HRESULT GetClassID(CLSID* c) override {
        *c = CLSID_WMAsfWriter;
        return S_OK;
    }
    HRESULT Stop() override {
        ++stops;
        FakeLog::Add("writer Stop");
        return S_OK;
    }
    HRESULT Pause() override { return S_OK; }
    HRESULT Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT GetState(DWORD, FILTER_STATE* s) override {
        *s = State_Stopped;
        return S_OK;
    }
    HRESULT EnumPins(IEnumPins** out) override {
        if (pins.empty())
            for (int i = 0; i < PinCount(); ++i)
                pins.push_back(MakeCountingPin("in"));
        std::vector<ComPtr<IPin>> list(pins.begin(), pins.end());
        *out = MakeComObject<FakeEnum<IPin, IEnumPins>>(list).Detach();
        return S_OK;
    }
    HRESULT FindPin(const std::string&, IPin** out) override {
        *out = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT QueryFilterInfo(FILTER_INFO* info) override {
        info->achName[0] = 0;
        info->pGraph = nullptr;
        return S_OK;
    }
    HRESULT JoinFilterGraph(IFilterGraph*, const std::string&) override { return S_OK; }
    // IConfigAsfWriter2
    HRESULT ConfigureFilterUsingProfileGuid(REFGUID p) override {
        FakeLog::Add("configure " + GuidToString(p));
        profile = p;
        return S_OK;
    }
    HRESULT GetCurrentProfileGuid(GUID* p) override {
        *p = profile;
        return S_OK;
    }
    HRESULT SetParam(DWORD param, DWORD v1, DWORD v2) override {
        params.push_back(std::to_string(param) + "=" + std::to_string(v1) + "," +
                         std::to_string(v2));
        return S_OK;
    }
    HRESULT GetParam(DWORD, DWORD*, DWORD*) override { return E_NOTIMPL; }
    // IFileSinkFilter
    HRESULT SetFileName(const std::string& name, const AM_MEDIA_TYPE* type) override {
        FakeLog::Add("file " + name + (type ? " typed" : ""));
        file = name;
        return S_OK;
    }
    HRESULT GetCurFile(std::string& name, AM_MEDIA_TYPE*) override {
        name = file;
        return S_OK;
    }
    // IServiceProvider
    HRESULT QueryService(REFGUID service, REFIID iid, void** out) override {
        if (service != IID_IWMWriterAdvanced2) return E_NOINTERFACE;
        return QueryInterface(iid, out);
    }
    // IWMWriterAdvanced2
    HRESULT GetSinkCount(DWORD* n) override {
        *n = DWORD(sinks.size());
        return S_OK;
    }
    HRESULT GetSink(DWORD i, IWMWriterSink** s) override { return sinks.at(i).CopyTo(s); }
    HRESULT AddSink(IWMWriterSink* s) override {
        FakeLog::Add("AddSink");
        sinks.emplace_back(s);
        return S_OK;
    }
    HRESULT RemoveSink(IWMWriterSink*) override { return E_NOTIMPL; }
};

class FakeNetworkSink final : public TComObject<IWMWriterNetworkSink> {
  public:
    static HRESULT& OpenResult() {
        static HRESULT r = S_OK;
        return r;
    }
    HRESULT OnHeader(std::span<const uint8_t>) override { return S_OK; }
    HRESULT IsRealTime(BOOL*) override { return S_OK; }
    HRESULT OnDataUnit(std::span<const uint8_t>) override { return S_OK; }
    HRESULT OnEndWriting() override { return S_OK; }
    HRESULT SetMaximumClients(DWORD n) override {
        FakeLog::Add("max clients " + std::to_string(n));
        return S_OK;
    }
    HRESULT GetMaximumClients(DWORD*) override { return E_NOTIMPL; }
    HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL p) override {
        FakeLog::Add("protocol " + std::to_string(p));
        return S_OK;
    }
    HRESULT GetNetworkProtocol(WMT_NET_PROTOCOL*) override { return E_NOTIMPL; }
    HRESULT GetHostURL(std::string&) override { return E_NOTIMPL; }
    HRESULT Open(DWORD* port) override {
        FakeLog::Add("open " + std::to_string(*port));
        if (FAILED(OpenResult())) return OpenResult();
        if (*port == 0) *port = 40123; // a free port, written back
        return S_OK;
    }
    HRESULT Disconnect() override {
        FakeLog::Add("sink Disconnect");
        return S_OK;
    }
    HRESULT Close() override {
        FakeLog::Add("sink Close");
        return S_OK;
    }
};

class ASFWriterTest : public ::testing::Test {
  protected:
    FakeGraphPlatform platform;
    TClassRegistration writerClass{CLSID_WMAsfWriter, MakeClassFactory<FakeAsfWriter>()};
    TClassRegistration sinkClass{CLSID_WMWriterNetworkSink, MakeClassFactory<FakeNetworkSink>()};
    TFilterGraph graph{"CaptureGraph"};
    TASFWriter writer{"brimASF"};

    ASFWriterTest() {
        FakeAsfWriter::PinCount() = 2;
        FakeNetworkSink::OpenResult() = S_OK;
        graph.SetMode(gmCapture);
    }
    // The log without the graph's own set-up calls.
    std::vector<std::string> WriterLog() {
        std::vector<std::string> out;
        for (auto& e : FakeLog::Entries())
            if (e.rfind("SetNotify", 0) != 0 && e != "SetFiltergraph") out.push_back(e);
        return out;
    }
};

} // namespace

TEST_F(ASFWriterTest, Defaults) {
    EXPECT_EQ(wmp_V80_255VideoPDA, writer.Profile());
    EXPECT_EQ("", writer.FileName());
    EXPECT_EQ(0u, writer.Port());
    EXPECT_EQ(0u, writer.MaxUsers());
    EXPECT_TRUE(writer.AutoIndex());
    EXPECT_FALSE(writer.MultiPass());
    EXPECT_FALSE(writer.DontCompress());
    EXPECT_EQ(nullptr, writer.FilterGraph());
    ComPtr<IBaseFilter> none;
    EXPECT_EQ(E_NOINTERFACE, writer.QueryInterface(IID_IBaseFilter, none.PutVoid()));
}

TEST_F(ASFWriterTest, ProfileTableRoundTrips) {
    EXPECT_EQ(WMProfile_V80_56Video, WMProfileGuid(wmp_V80_56Video));
    EXPECT_EQ(WMProfile_V80_56VideoOnly, WMProfileGuid(wmp_V80_56VideoOnly));
    EXPECT_EQ(WMProfile_V80_BESTVBRVideo, WMProfileGuid(wmp_V80_BESTVBRVideo));
    for (int i = 0; i < kWMProfileCount; ++i)
        EXPECT_EQ(i, WMProfileOfGuid(WMProfileGuid(static_cast<TWMPofiles8>(i))));
    EXPECT_EQ(kUnknownWMProfile, WMProfileOfGuid(CLSID_WMAsfWriter));
}

TEST_F(ASFWriterTest, ActivationConfiguresTheWriterAndOpensTheSink) {
    writer.SetProfile(wmp_V80_56Video);
    writer.SetFileName("brim.asf");
    writer.SetPort(8000);
    writer.SetMaxUsers(3);
    writer.SetAutoIndex(false);
    writer.SetDontCompress(true);
    writer.SetFilterGraph(&graph);
    FakeLog::Clear();
    graph.SetActive(true);
    EXPECT_THAT(WriterLog(),
                ElementsAre("AddFilter brimASF", "configure " + GuidToString(WMProfile_V80_56Video),
                            "file brim.asf", "protocol 0", "max clients 3", "open 8000",
                            "AddSink"));
    FakeAsfWriter* live = FakeAsfWriter::Last();
    ASSERT_TRUE(live);
    EXPECT_THAT(live->params, ElementsAre("1=0,0", "2=0,0", "3=1,0"));
    EXPECT_TRUE(writer.NetworkSink());
    EXPECT_EQ(8000u, writer.Port());
    ComPtr<IBaseFilter> filter = writer.Query<IBaseFilter>();
    EXPECT_EQ(static_cast<IBaseFilter*>(live), filter.Get());
    filter.Reset();

    FakeLog::Clear();
    graph.SetActive(false);
    EXPECT_THAT(WriterLog(), ElementsAre("writer Stop", "sink Disconnect", "sink Close",
                                         "RemoveFilter brimASF"));
    EXPECT_FALSE(writer.NetworkSink());
    EXPECT_EQ(nullptr, FakeAsfWriter::Last()); // released
}

TEST_F(ASFWriterTest, PortZeroOpensAFreePortWrittenBack) {
    writer.SetMaxUsers(3);
    writer.SetFilterGraph(&graph);
    graph.SetActive(true);
    EXPECT_TRUE(writer.NetworkSink());
    EXPECT_EQ(40123u, writer.Port());
}

TEST_F(ASFWriterTest, NoViewersAllowedMeansNoSink) {
    for (uint32_t port : {0u, 8000u}) {
        writer.SetPort(port);
        writer.SetMaxUsers(0);
        writer.SetFilterGraph(&graph);
        FakeLog::Clear();
        graph.SetActive(true);
        EXPECT_FALSE(writer.NetworkSink());
        for (auto& e : FakeLog::Entries())
            EXPECT_EQ(std::string::npos, e.find("open")) << e;
        graph.SetActive(false);
    }
}

TEST_F(ASFWriterTest, APortThatCannotBeOpenedLeavesNoSink) {
    FakeNetworkSink::OpenResult() = MakeResult(0x80072740);
    writer.SetPort(8000);
    writer.SetMaxUsers(3);
    writer.SetFilterGraph(&graph);
    graph.SetActive(true);
    EXPECT_TRUE(graph.Active());
    EXPECT_FALSE(writer.NetworkSink());
    EXPECT_TRUE(FakeAsfWriter::Last()->sinks.empty());
    EXPECT_EQ(8000u, writer.Port());
}

TEST_F(ASFWriterTest, AWriterWithoutPinsGetsNoSink) {
    FakeAsfWriter::PinCount() = 0;
    writer.SetMaxUsers(3);
    writer.SetFilterGraph(&graph);
    FakeLog::Clear();
    graph.SetActive(true);
    EXPECT_FALSE(writer.NetworkSink());
    EXPECT_TRUE(FakeAsfWriter::Last()->sinks.empty());
}

TEST_F(ASFWriterTest, DeactivationDisconnectsBothKeptPins) {
    writer.SetFilterGraph(&graph);
    graph.SetActive(true);
    FakeAsfWriter* live = FakeAsfWriter::Last();
    ComPtr<FakePin> a = live->pins.at(0), b = live->pins.at(1);
    graph.SetActive(false);
    EXPECT_EQ(1, a->disconnects);
    EXPECT_EQ(1, b->disconnects);
}

TEST_F(ASFWriterTest, ProfileWhileActiveGoesToTheFilterNotTheStoredIndex) {
    writer.SetProfile(wmp_V80_56VideoOnly);
    EXPECT_EQ(wmp_V80_56VideoOnly, writer.Profile()); // stored while inactive
    writer.SetFilterGraph(&graph);
    graph.SetActive(true);
    writer.SetProfile(wmp_V80_56Video);
    EXPECT_EQ(WMProfile_V80_56Video, FakeAsfWriter::Last()->profile);
    EXPECT_EQ(wmp_V80_56Video, writer.Profile()); // the live filter's
    FakeAsfWriter::Last()->profile = CLSID_VideoRenderer;
    EXPECT_EQ(kUnknownWMProfile, writer.Profile());
    graph.SetActive(false);
    EXPECT_EQ(wmp_V80_56VideoOnly, writer.Profile());
    graph.SetActive(true);
    EXPECT_EQ(WMProfile_V80_56VideoOnly, FakeAsfWriter::Last()->profile); // applied again
}

TEST_F(ASFWriterTest, FileNameIsStoredAndPassedToTheLiveFilter) {
    writer.SetFilterGraph(&graph);
    graph.SetActive(true);
    writer.SetFileName("live.asf");
    EXPECT_EQ("live.asf", FakeAsfWriter::Last()->file);
    FakeAsfWriter::Last()->file = "other.asf";
    EXPECT_EQ("other.asf", writer.FileName());
    graph.SetActive(false);
    EXPECT_EQ("live.asf", writer.FileName());
}
