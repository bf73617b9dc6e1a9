#include "FakeFilter.h"
#include "media/MediaErrors.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

namespace {

class TwoFaced final : public TComObject<IBaseFilter, IAMStreamConfig> {
  public:
    HRESULT GetClassID(CLSID* c) override {
        *c = GUID_NULL;
        return S_OK;
    }
    HRESULT Stop() override { return S_OK; }
    HRESULT Pause() override { return S_OK; }
    HRESULT Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT GetState(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
    HRESULT EnumPins(IEnumPins**) override { return E_NOTIMPL; }
    HRESULT FindPin(const std::string&, IPin**) override { return E_NOTIMPL; }
    HRESULT QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
    HRESULT JoinFilterGraph(IFilterGraph*, const std::string&) override { return S_OK; }
    HRESULT SetFormat(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT GetFormat(AM_MEDIA_TYPE**) override { return E_NOTIMPL; }
};

TEST(ObjectModel, QueryAnswersEveryInterfaceOfTheChainWithOneIdentity) {
    auto obj = MakeComObject<TwoFaced>();
    ComPtr<IBaseFilter> filter(obj.Get());
    for (const GUID* iid :
         {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IAMStreamConfig}) {
        void* p = nullptr;
        EXPECT_EQ(filter->QueryInterface(*iid, &p), S_OK) << GuidToString(*iid);
        static_cast<IUnknown*>(static_cast<IBaseFilter*>(obj.Get()))->Release();
    }
    auto config = filter.Query<IAMStreamConfig>();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->SetFormat(nullptr), S_OK);
    EXPECT_EQ(QueryAs<IUnknown>(config.Get()).Get(), QueryAs<IUnknown>(filter.Get()).Get());
    EXPECT_FALSE(filter.Query<IPin>());
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(filter->QueryInterface(IID_IPin, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(filter->QueryInterface(IID_IPin, nullptr), E_POINTER);
    // References: obj, filter, config.
    filter->AddRef();
    EXPECT_EQ(filter->Release(), 3u);
}

TEST(ObjectModel, ComPtrCountsExactlyOnce) {
    auto obj = MakeComObject<FakeFilter>("x");
    ASSERT_EQ(FakeFilter::Live(), 1);
    {
        ComPtr<IBaseFilter> a(obj.Get());
        ComPtr<IBaseFilter> b = a;
        ComPtr<IBaseFilter> c = std::move(b);
        EXPECT_FALSE(b);
        IBaseFilter* raw = c.Detach();
        auto d = ComPtr<IBaseFilter>::Attach(raw);
        a = d;
        a = a; // self-assignment keeps it
        EXPECT_TRUE(a);
    }
    obj.Reset();
    EXPECT_EQ(FakeFilter::Live(), 0);
}

TEST(ObjectModel, ClassRegistry) {
    const CLSID cls{0xABCDEF01, 0x2345, 0x6789, {1, 2, 3, 4, 5, 6, 7, 8}};
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(CreateInstance(cls, f), REGDB_E_CLASSNOTREG);
    {
        TClassRegistration reg(cls, [](REFIID iid, void** out) {
            return MakeComObject<FakeFilter>("first")->QueryInterface(iid, out);
        });
        {
            TClassRegistration over(cls, [](REFIID iid, void** out) {
                return MakeComObject<FakeFilter>("second")->QueryInterface(iid, out);
            });
            ASSERT_EQ(CreateInstance(cls, f), S_OK);
            EXPECT_EQ(static_cast<FakeFilter*>(f.Get())->Name(), "second");
        }
        ASSERT_EQ(CreateInstance(cls, f), S_OK); // the earlier factory is back
        EXPECT_EQ(static_cast<FakeFilter*>(f.Get())->Name(), "first");
        ComPtr<IPin> pin;
        EXPECT_EQ(CreateInstance(cls, pin), E_NOINTERFACE);
        EXPECT_FALSE(pin);
        void* p = nullptr;
        EXPECT_EQ(CoCreateInstance(cls, f.Get(), CLSCTX_INPROC, IID_IBaseFilter, &p),
                  CLASS_E_NOAGGREGATION);
    }
    f.Reset();
    EXPECT_FALSE(IsClassRegistered(cls));
    EXPECT_EQ(FakeFilter::Live(), 0);
}

TEST(ObjectModel, ErrorTextsAndResultCheck) {
    for (HRESULT hr : {E_FAIL, E_NOINTERFACE, E_POINTER, E_INVALIDARG, VFW_E_CANNOT_CONNECT,
                       VFW_E_NOT_CONNECTED, MakeResult(0x80041234)}) {
        EXPECT_FALSE(MediaErrorText(hr).empty()) << std::hex << hr;
        EXPECT_LE(MediaErrorText(hr).size(), 254u);
    }
    char small[8];
    EXPECT_EQ(AMGetErrorTextA(E_FAIL, small, sizeof small), 7u);
    EXPECT_STREQ(small, "Unspeci");
    EXPECT_EQ(AMGetErrorTextA(E_FAIL, nullptr, 10), 0u);

    EXPECT_EQ(CheckMediaResult(S_FALSE), S_FALSE);
    EXPECT_EQ(CheckMediaResult(VFW_S_PARTIAL_RENDER), VFW_S_PARTIAL_RENDER);
    try {
        CheckMediaResult(VFW_E_CANNOT_CONNECT);
        FAIL();
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.Message(), MediaErrorText(VFW_E_CANNOT_CONNECT) + " ($80040217).");
        EXPECT_EQ(e.ErrorCode(), VFW_E_CANNOT_CONNECT);
    }
}

TEST(ObjectModel, Utf8CutsNeverSplitACharacter) {
    EXPECT_EQ(Utf8Truncate("abc", 5), "abc");
    EXPECT_EQ(Utf8Truncate("ab\xE2\x82\xAC", 4), "ab"); // a three-byte euro sign does not fit
    EXPECT_EQ(Utf8Truncate("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
    char name[6];
    CopyRecordName(name, sizeof name, "abcd\xC3\xA9");
    EXPECT_STREQ(name, "abcd");
}

TEST(ObjectModel, MediaTypeRecordHelpers) {
    std::vector<uint8_t> block(20, 7);
    AM_MEDIA_TYPE src{};
    src.cbFormat = 20;
    src.pbFormat = block.data();
    AM_MEDIA_TYPE* copy = CreateMediaType(src);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->pbFormat, block.data());
    EXPECT_EQ(copy->pbFormat[19], 7);
    DeleteMediaType(copy);
    DeleteMediaType(nullptr);
}

TEST(ObjectModel, RunningObjectTableAndItemMonikers) {
    ComPtr<IRunningObjectTable> rot;
    ASSERT_EQ(GetRunningObjectTable(0, rot.Put()), S_OK);
    auto obj = MakeComObject<FakeFilter>("graph");
    ComPtr<IMoniker> name;
    ASSERT_EQ(CreateItemMoniker("!", "FilterGraph 1 pid 2", name.Put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(rot->Register(0, static_cast<IBaseFilter*>(obj.Get()), name.Get(), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(rot->IsRunning(name.Get()), S_OK);
    std::string found;
    EXPECT_TRUE(RunningObjectName(static_cast<IBaseFilter*>(obj.Get()), found));
    EXPECT_EQ(found, "!FilterGraph 1 pid 2");
    ComPtr<IBaseFilter> bound;
    EXPECT_EQ(name->BindToObject(nullptr, nullptr, IID_IBaseFilter, bound.PutVoid()), S_OK);
    EXPECT_EQ(bound.Get(), static_cast<IBaseFilter*>(obj.Get()));
    EXPECT_EQ(rot->Revoke(cookie), S_OK);
    EXPECT_EQ(rot->Revoke(cookie), E_INVALIDARG);
    EXPECT_EQ(rot->IsRunning(name.Get()), S_FALSE);
}

TEST(ObjectModel, NetworkSinkComesFromTheRegistry) {
    ComPtr<IWMWriterNetworkSink> sink;
    if (!IsClassRegistered(CLSID_WMWriterNetworkSink)) {
        EXPECT_EQ(WMCreateWriterNetworkSink(sink.Put()), REGDB_E_CLASSNOTREG);
    }
    EXPECT_EQ(OleLoadFromStream({}, IID_IMoniker, sink.PutVoid()), STG_E_READFAULT);
}

} // namespace
