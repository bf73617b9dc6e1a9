#include "media/Filter.h"
#include "FakeDevices.h"
#include "FakeGraph.h"
#include "common/Stream.h"
#include "media/MediaErrors.h"
#include "media/PinList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;

namespace {

class FilterTest : public ::testing::Test {
  protected:
    FakeDevicePlatform devices;
    FakeGraphPlatform graphs;
    FilterTest() {
        FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "cam", {"Cam", std::nullopt});
        FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "broken",
                                {"Broken", std::nullopt, true});
    }
    static ComPtr<IMoniker> Moniker(const std::string& id) {
        return MakeComObject<FakeMoniker>(id);
    }
    static std::string NameOf(const ComPtr<IMoniker>& m) {
        std::string n;
        if (m) m->GetDisplayName(nullptr, nullptr, n);
        return n;
    }
};

TEST_F(FilterTest, MonikerRoundTripThroughTheByteBlock) {
    TBaseFilter holder;
    holder.AssignMoniker(Moniker("cam").Get());
    EXPECT_GT(holder.DataLength(), 16u);
    EXPECT_EQ(NameOf(holder.LoadMoniker()), "cam");
    auto filter = holder.BindFilter();
    ASSERT_TRUE(filter);
    EXPECT_EQ(static_cast<FakeFilter*>(filter.Get())->Name(), "cam");

    // Through the form description's "data" property and back.
    TStringStream stream;
    holder.WriteData(stream);
    TBaseFilter loaded;
    stream.SetPosition(0);
    EXPECT_TRUE(loaded.ReadData(stream));
    EXPECT_TRUE(loaded.Equals(holder));
    EXPECT_FALSE(loaded.ShouldWriteData(&holder)); // same as the inherited block
    EXPECT_TRUE(loaded.ShouldWriteData(nullptr));
    EXPECT_EQ(NameOf(loaded.LoadMoniker()), "cam");

    holder.AssignMoniker(nullptr);
    EXPECT_EQ(holder.DataLength(), 0u);
    EXPECT_FALSE(holder.LoadMoniker());
    EXPECT_FALSE(holder.BindFilter());
    TBaseFilter empty;
    EXPECT_FALSE(holder.Equals(empty)); // two empty blocks are not "equal": the property is written
}

TEST_F(FilterTest, DamagedBlocksLoadAsNone) {
    TBaseFilter holder;
    holder.AssignMoniker(Moniker("cam").Get());
    std::vector<uint8_t> bytes(holder.Bytes().begin(), holder.Bytes().end());

    TBaseFilter damaged;
    damaged.SetData(std::span(bytes).first(10)); // shorter than a class id
    EXPECT_FALSE(damaged.LoadMoniker());
    auto wrongClass = bytes;
    wrongClass[0] ^= 0xFF;
    damaged.SetData(wrongClass);
    EXPECT_FALSE(damaged.LoadMoniker());
    auto badBody = bytes;
    badBody[16] = 'X'; // the moniker refuses its own bytes
    damaged.SetData(badBody);
    EXPECT_FALSE(damaged.LoadMoniker());

    // A stored length past the end of the description: empty, nothing read past it.
    TStringStream stream(std::string("\xFF\xFF\xFF\x7F"
                                     "abc",
                                     7));
    EXPECT_FALSE(damaged.ReadData(stream));
    EXPECT_EQ(damaged.DataLength(), 0u);
    TStringStream shortHeader(std::string("\x01\x00", 2));
    EXPECT_FALSE(damaged.ReadData(shortHeader));
    TStringStream zero(std::string("\0\0\0\0", 4));
    EXPECT_TRUE(damaged.ReadData(zero));
    EXPECT_EQ(damaged.DataLength(), 0u);
}

TEST_F(FilterTest, EachActivationBindsAFreshFilter) {
    TFilterGraph graph;
    TFilter filter("VideoSourceFilter");
    filter.BaseFilter().AssignMoniker(Moniker("cam").Get());
    filter.SetFilterGraph(&graph);
    EXPECT_FALSE(filter.Query<IBaseFilter>()); // inactive: no live filter

    graph.SetActive(true);
    auto first = filter.Query<IBaseFilter>();
    ASSERT_TRUE(first);
    EXPECT_THAT(FakeFilterGraph::Last()->filterNames, ElementsAre("VideoSourceFilter"));
    TPinList pins(first.Get());
    EXPECT_EQ(pins.Count(), 0);
    EXPECT_THROW(pins.FirstPin(), EListError);
    graph.SetActive(false);
    EXPECT_EQ(static_cast<FakeFilter*>(first.Get())->stopCount, 1); // stopped before release
    EXPECT_FALSE(filter.Query<IBaseFilter>());

    graph.SetActive(true);
    auto second = filter.Query<IBaseFilter>();
    EXPECT_TRUE(second);
    EXPECT_NE(second.Get(), first.Get());
    graph.SetActive(false);
}

TEST_F(FilterTest, SettingTheSameGraphTwiceDoesNothing) {
    TFilterGraph graph;
    TFilter filter("VideoSourceFilter");
    filter.BaseFilter().AssignMoniker(Moniker("cam").Get());
    filter.SetFilterGraph(&graph);
    graph.SetActive(true);
    FakeLog::Clear();
    filter.SetFilterGraph(&graph);
    EXPECT_TRUE(FakeLog::Entries().empty());
    EXPECT_EQ(graph.MemberCount(), 1);

    TFilterGraph other;
    filter.SetFilterGraph(&other); // leaves the active graph at once
    EXPECT_THAT(FakeLog::Entries(), ElementsAre("Stop cam", "RemoveFilter VideoSourceFilter"));
    EXPECT_EQ(graph.MemberCount(), 0);
    EXPECT_EQ(other.MemberCount(), 1);
    graph.SetActive(false);
}

TEST_F(FilterTest, DestroyingTheGraphFirstLeavesTheFilterWithoutGraph) {
    TFilter filter("AudioSourceFilter");
    filter.BaseFilter().AssignMoniker(Moniker("cam").Get());
    {
        TFilterGraph graph;
        filter.SetFilterGraph(&graph);
        graph.SetActive(true);
    }
    EXPECT_EQ(filter.FilterGraph(), nullptr);
    EXPECT_FALSE(filter.Query<IBaseFilter>());
    EXPECT_EQ(FakeFilter::Live(), 0);
    filter.SetFilterGraph(nullptr); // nothing left to call
}

TEST_F(FilterTest, AMonikerThatFailsToBindLeavesNoLiveFilter) {
    TFilterGraph graph;
    TFilter filter("VideoSourceFilter");
    filter.BaseFilter().AssignMoniker(Moniker("broken").Get());
    filter.SetFilterGraph(&graph);
    graph.SetActive(true);
    EXPECT_EQ(FakeFilter::Live(), 0);
    EXPECT_TRUE(FakeFilterGraph::Last()->filterNames.empty()); // AddFilter failed, ignored
    EXPECT_NE(std::find(FakeLog::Entries().begin(), FakeLog::Entries().end(),
                        "AddFilter VideoSourceFilter (none)"),
              FakeLog::Entries().end());
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(filter.QueryInterface(IID_IBaseFilter, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    graph.SetActive(false);
}

TEST_F(FilterTest, PinListOrderInfoAndDelete) {
    auto filter = MakeComObject<FakeFilter>("dev");
    const char* names[] = {"Capture", "Line In", "Microphone"};
    for (int i = 0; i < 3; ++i) {
        auto pin = MakeComObject<FakePin>(names[i], i == 0 ? PINDIR_OUTPUT : PINDIR_INPUT);
        pin->owner = filter.Get();
        filter->pins.push_back(pin);
    }
    TPinList pins(filter.Get());
    ASSERT_EQ(pins.Count(), 3);
    TPinInfo info;
    pins.PinInfoAt(0, info.Record);
    EXPECT_EQ(info.Record.dir, PINDIR_OUTPUT);
    EXPECT_STREQ(info.Record.achName, "Capture");
    pins.PinInfoAt(2, info.Record); // the previous filter reference is released first
    EXPECT_STREQ(info.Record.achName, "Microphone");
    EXPECT_THROW(pins.PinInfoAt(3, info.Record), EListError);
    pins.Delete(0);
    ASSERT_EQ(pins.Count(), 2);
    pins.PinInfoAt(0, info.Record);
    EXPECT_STREQ(info.Record.achName, "Line In");
    EXPECT_THROW(pins.Delete(2), EListError);
}

} // namespace
