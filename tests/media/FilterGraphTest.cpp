#include "media/FilterGraph.h"
#include "FakeGraph.h"
#include "FakeMember.h"
#include "common/Text.h"
#include "media/FilterList.h"
#include "media/MediaErrors.h"

#include <QCoreApplication>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <thread>

#include <unistd.h>

using ::testing::ElementsAre;

namespace {

void DeliverPostedEvents() {
    QCoreApplication::sendPostedEvents();
}

std::vector<std::string> RotNames() {
    ComPtr<IRunningObjectTable> rot;
    GetRunningObjectTable(0, rot.Put());
    return rot->RegisteredNames();
}

class FilterGraphTest : public ::testing::Test {
  protected:
    FakeGraphPlatform platform;
    std::vector<std::string>& log = FakeLog::Entries();
};

TEST_F(FilterGraphTest, ActivationAndDeactivationOrder) {
    TFilterGraph graph("CaptureGraph");
    graph.SetMode(gmCapture);
    FakeMember a("A"), b("B"), listener("L");
    graph.InsertMember(&a);
    graph.InsertMember(&b);
    graph.InsertListener(&listener);
    graph.OnActivate = [](TFilterGraph*) { FakeLog::Add("OnActivate"); };
    EXPECT_TRUE(log.empty()); // attaching to an inactive graph calls nothing

    graph.SetActive(true);
    EXPECT_TRUE(graph.Active());
    EXPECT_THAT(log, ElementsAre("SetFiltergraph", "SetNotifyFlags 0", "A opAdding", "AddFilter A",
                                 "A opAdded", "B opAdding", "AddFilter B", "B opAdded",
                                 "OnActivate", "L control 7 1"));
    EXPECT_THAT(FakeFilterGraph::Last()->filterNames, ElementsAre("A", "B"));
    {
        TFilterList filters(graph.Query<IFilterGraph2>().Get());
        EXPECT_EQ(filters.Count(), 2);
        EXPECT_THROW(filters[2], EListError);
    }

    log.clear();
    graph.SetActive(true); // the current value does nothing
    graph.SetActive(false);
    EXPECT_FALSE(graph.Active());
    EXPECT_THAT(log,
                ElementsAre("L control 7 0", "A opRemoving", "RemoveFilter A", "A opRemoved",
                            "B opRemoving", "RemoveFilter B", "B opRemoved", "SetNotifyFlags 1"));
    EXPECT_EQ(FakeFilterGraph::Last(), nullptr); // the platform graph is released
    EXPECT_EQ(FakeFilter::Live(), 0);
}

TEST_F(FilterGraphTest, MembersJoinAndLeaveAnActiveGraphAtOnce) {
    TFilterGraph graph;
    FakeMember a("A"), c("C");
    graph.InsertMember(&a);
    graph.SetActive(true);
    log.clear();
    graph.InsertMember(&c);
    EXPECT_THAT(log, ElementsAre("C opAdding", "AddFilter C", "C opAdded"));
    EXPECT_THAT(FakeFilterGraph::Last()->filterNames, ElementsAre("A", "C"));
    log.clear();
    graph.InsertMember(&c); // already attached: nothing
    graph.RemoveMember(&a);
    EXPECT_THAT(log, ElementsAre("A opRemoving", "RemoveFilter A", "A opRemoved"));
    EXPECT_THAT(FakeFilterGraph::Last()->filterNames, ElementsAre("C"));
    EXPECT_EQ(graph.MemberCount(), 1);
    graph.SetActive(false);
    log.clear();
    graph.RemoveMember(&c); // inactive: only the list changes
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(graph.MemberCount(), 0);
}

TEST_F(FilterGraphTest, GraphEditRegistersOnlyWhileActive) {
    TFilterGraph graph;
    const size_t before = RotNames().size();
    graph.SetGraphEdit(true);
    EXPECT_EQ(RotNames().size(), before);
    graph.SetActive(true);
    auto names = RotNames();
    ASSERT_EQ(names.size(), before + 1);
    const std::string expected =
        Format("!FilterGraph %08" PRIXPTR " pid %X",
               reinterpret_cast<uintptr_t>(graph.Query<IFilterGraph2>().Get()),
               static_cast<unsigned>(getpid()));
    EXPECT_EQ(names.back(), expected);
    std::string registered;
    EXPECT_TRUE(RunningObjectName(graph.Query<IFilterGraph2>().Get(), registered));

    graph.SetGraphEdit(false); // revoked at once
    EXPECT_EQ(RotNames().size(), before);
    graph.SetGraphEdit(true); // and registered again while active
    EXPECT_EQ(RotNames().size(), before + 1);
    graph.SetActive(false);
    EXPECT_EQ(RotNames().size(), before);
    EXPECT_TRUE(graph.GraphEdit());
}

TEST_F(FilterGraphTest, ModeChangeRebuildsAndStaysActive) {
    TFilterGraph graph;
    FakeMember a("A");
    graph.InsertMember(&a);
    graph.SetActive(true);
    EXPECT_FALSE(graph.Query<ICaptureGraphBuilder2>());
    log.clear();
    graph.SetMode(gmCapture);
    EXPECT_TRUE(graph.Active());
    EXPECT_THAT(log, ElementsAre("A opRemoving", "RemoveFilter A", "A opRemoved",
                                 "SetNotifyFlags 1", "SetFiltergraph", "SetNotifyFlags 0",
                                 "A opAdding", "AddFilter A", "A opAdded"));
    EXPECT_TRUE(graph.Query<ICaptureGraphBuilder2>());
    EXPECT_TRUE(graph.Query<IMediaSeeking>()); // the builder does not answer: the graph does

    graph.SetActive(false);
    log.clear();
    graph.SetMode(gmNormal); // inactive: stays inactive
    EXPECT_FALSE(graph.Active());
    EXPECT_TRUE(log.empty());
}

TEST_F(FilterGraphTest, EventsReachTheUiThreadInDispatchOrder) {
    TFilterGraph graph;
    FakeMember listener("L");
    graph.InsertListener(&listener);
    std::thread::id handlerThread;
    graph.OnMediaEvent = [&](TFilterGraph*, LONG code, LONG_PTR, LONG_PTR) {
        handlerThread = std::this_thread::get_id();
        FakeLog::Add("OnMediaEvent " + std::to_string(code));
    };
    graph.OnGraphVideoSizeChanged = [](TFilterGraph*, int w, int h) {
        FakeLog::Add("size " + std::to_string(w) + "x" + std::to_string(h));
    };
    graph.OnGraphDeviceLost = [](TFilterGraph*, IUnknown*, bool removed) {
        FakeLog::Add(removed ? "lost" : "back");
    };
    graph.SetActive(true);
    ComPtr<FakeFilterGraph> platformGraph(FakeFilterGraph::Last());
    log.clear();

    // A streaming thread queues the events; nothing is dispatched there.
    std::thread streaming([&] {
        platformGraph->Fire(EC_VIDEO_SIZE_CHANGED, 176 | (144 << 16));
        platformGraph->Fire(EC_DEVICE_LOST, 0, 1);
    });
    streaming.join();
    EXPECT_TRUE(log.empty());
    DeliverPostedEvents();
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_THAT(log, ElementsAre("L event 10 9437360", "OnMediaEvent 10", "size 176x144",
                                 "L event 31 0", "OnMediaEvent 31", "lost"));
    EXPECT_EQ(platformGraph->freedEvents, 2);
    graph.SetActive(false);
}

TEST_F(FilterGraphTest, EachCodeReachesItsOwnHandler) {
    TFilterGraph graph;
    std::vector<std::string> calls;
    auto note = [&calls](std::string s) { calls.push_back(std::move(s)); };
    graph.OnGraphComplete = [&](TFilterGraph*, HRESULT hr, IBaseFilter*) {
        note("complete " + std::to_string(hr));
    };
    graph.OnGraphUserAbort = [&](TFilterGraph*) { note("userabort"); };
    graph.OnGraphPaused = [&](TFilterGraph*, HRESULT) { note("paused"); };
    graph.OnGraphClockChanged = [&](TFilterGraph*) { note("clock"); };
    graph.OnGraphOpeningFile = [&](TFilterGraph*, bool opening) {
        note(opening ? "opening" : "opened");
    };
    graph.OnGraphOleEvent = [&](TFilterGraph*, const char* a, const char* b) {
        note(std::string(a) + b);
    };
    graph.OnGraphEndOfSegment = [&](TFilterGraph*, REFERENCE_TIME t, LONG_PTR n) {
        note("segment " + std::to_string(t) + " " + std::to_string(n));
    };
    graph.OnGraphSNDDevOutError = [&](TFilterGraph*, LONG_PTR, LONG_PTR) { note("sndout"); };
    graph.OnDVDDomainChange = [&](TFilterGraph*, LONG_PTR, LONG_PTR) { note("dvd first"); };
    graph.OnDVDKaraokeMode = [&](TFilterGraph*, LONG_PTR, LONG_PTR) { note("dvd last"); };
    graph.SetActive(true);
    ComPtr<FakeFilterGraph> platformGraph(FakeFilterGraph::Last());
    const REFERENCE_TIME segmentTime = 12345;
    static const char kOle1[] = "ole ";
    static const char kOle2[] = "text";
    for (auto [code, p1, p2] : std::vector<std::tuple<LONG, LONG_PTR, LONG_PTR>>{
             {EC_COMPLETE, 0, 0},
             {EC_USERABORT, 0, 0},
             {EC_PAUSED, 0, 0},
             {EC_CLOCK_CHANGED, 0, 0},
             {EC_OPENING_FILE, 1, 0},
             {EC_OLE_EVENT, reinterpret_cast<LONG_PTR>(kOle1), reinterpret_cast<LONG_PTR>(kOle2)},
             {EC_END_OF_SEGMENT, reinterpret_cast<LONG_PTR>(&segmentTime), 4},
             {EC_SNDDEV_OUT_ERROR, 0, 0},
             {EC_DVDBASE + 1, 0, 0},
             {EC_DVDBASE + 27, 0, 0},
             {EC_DVDBASE + 28, 0, 0},
             {EC_DVDBASE, 0, 0},
             {EC_ERRORABORT, E_FAIL, 0},
             {4711, 0, 0}})
        platformGraph->Fire(code, p1, p2);
    DeliverPostedEvents();
    EXPECT_THAT(calls,
                ElementsAre("complete 0", "userabort", "paused", "clock", "opening", "ole text",
                            "segment 12345 4", "sndout", "dvd first", "dvd last"));
    EXPECT_EQ(platformGraph->freedEvents, 14); // handled or not, every event's parameters are freed
    graph.SetActive(false);
}

TEST_F(FilterGraphTest, AutoCreateActivatesAfterLoading) {
    TFilterGraph graph;
    graph.Loaded();
    EXPECT_FALSE(graph.Active());
    graph.SetAutoCreate(true);
    graph.Loaded();
    EXPECT_TRUE(graph.Active());
}

TEST_F(FilterGraphTest, EventsAfterDeactivationAreNotDelivered) {
    TFilterGraph graph;
    int delivered = 0;
    graph.OnMediaEvent = [&](TFilterGraph*, LONG, LONG_PTR, LONG_PTR) { ++delivered; };
    graph.SetActive(true);
    ComPtr<FakeFilterGraph> platformGraph(FakeFilterGraph::Last());
    platformGraph->Fire(EC_COMPLETE); // announced, still queued on the UI thread
    graph.SetActive(false);
    DeliverPostedEvents();
    EXPECT_EQ(delivered, 0);
    platformGraph->Fire(EC_COMPLETE); // notifications are off now
    EXPECT_EQ(platformGraph->postsWhileOff, 1);
    DeliverPostedEvents();
    EXPECT_EQ(delivered, 0);
}

TEST_F(FilterGraphTest, AHandlerExceptionIsReportedAndLaterEventsStillCome) {
    std::vector<std::string> reported;
    SetMediaExceptionHandler([&](const std::exception& e) { reported.push_back(e.what()); });
    TFilterGraph graph;
    int completes = 0;
    graph.OnGraphErrorAbort = [](TFilterGraph*, HRESULT hr) { CheckMediaResult(hr); };
    graph.OnGraphComplete = [&](TFilterGraph*, HRESULT, IBaseFilter*) { ++completes; };
    graph.SetActive(true);
    ComPtr<FakeFilterGraph> platformGraph(FakeFilterGraph::Last());
    platformGraph->Fire(EC_ERRORABORT, E_FAIL);
    platformGraph->Fire(EC_COMPLETE);
    DeliverPostedEvents();
    EXPECT_THAT(reported, ElementsAre(MediaErrorText(E_FAIL) + " ($80004005)."));
    EXPECT_EQ(completes, 1);
    EXPECT_EQ(platformGraph->freedEvents, 2);
    SetMediaExceptionHandler(nullptr);
    graph.SetActive(false);
}

TEST_F(FilterGraphTest, RunAndStop) {
    TFilterGraph graph;
    FakeMember listener("L");
    graph.InsertListener(&listener);
    EXPECT_FALSE(graph.Stop()); // inactive: no control, nothing raised
    EXPECT_FALSE(graph.Run());
    EXPECT_TRUE(log.empty());
    void* p = nullptr;
    EXPECT_EQ(graph.QueryInterface(IID_IMediaControl, &p), E_NOINTERFACE);

    graph.SetActive(true);
    log.clear();
    EXPECT_TRUE(graph.Run());
    EXPECT_TRUE(graph.Stop());
    EXPECT_THAT(log, ElementsAre("L control 0 0", "Run", "L control 2 0", "GraphStop"));
    FakeGraphConfig::Get().stopResult = S_FALSE;
    EXPECT_FALSE(graph.Stop()); // only S_OK counts

    FakeGraphConfig::Get().runResult = E_FAIL;
    try {
        graph.Run();
        FAIL() << "Run did not raise";
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.Message(), "Unspecified error. ($80004005).");
        EXPECT_EQ(e.ErrorCode(), E_FAIL);
    }
    graph.SetActive(false);
}

TEST_F(FilterGraphTest, PlatformObjectsThatCannotBeCreatedLeaveTheGraphInactive) {
    TFilterGraph graph;
    FakeMember a("A");
    graph.InsertMember(&a);
    UnregisterClassFactory(CLSID_FilterGraph);
    try {
        graph.SetActive(true);
        FAIL() << "activation did not raise";
    } catch (const EDirectShowException& e) {
        EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(e.Message(), "Class not registered. ($80040154).");
    }
    EXPECT_FALSE(graph.Active());
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(graph.Stop());

    // No DVD platform: the DVD mode raises and stays inactive, too.
    TFilterGraph dvd;
    dvd.SetMode(gmDVD);
    EXPECT_THROW(dvd.SetActive(true), EDirectShowException);
    EXPECT_FALSE(dvd.Active());
    EXPECT_NO_THROW(dvd.SetMode(gmDVD)); // unchanged mode does nothing
}

TEST_F(FilterGraphTest, DeactivationCompletesWhenAMemberRaises) {
    TFilterGraph graph;
    FakeMember a("A"), b("B");
    a.throwOn = opRemoving;
    graph.InsertMember(&a);
    graph.InsertMember(&b);
    graph.SetActive(true);
    EXPECT_THROW(graph.SetActive(false), Exception);
    EXPECT_FALSE(graph.Active());
    EXPECT_EQ(FakeFilterGraph::Last(), nullptr);
    EXPECT_NE(std::find(log.begin(), log.end(), "B opRemoved"), log.end());
}

TEST_F(FilterGraphTest, LogFile) {
    char dir[] = "/tmp/kxmediaXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string first = std::string(dir) + "/graph.log";
    TFilterGraph graph;
    graph.SetLogFile(first); // stored only
    EXPECT_NE(access(first.c_str(), F_OK), 0);
    graph.SetActive(true);
    EXPECT_EQ(access(first.c_str(), F_OK), 0);
    EXPECT_NE(FakeFilterGraph::Last()->logFile, kNoLogFile);

    graph.SetLogFile(std::string(dir) + "/missing/graph.log"); // cannot be created: swallowed
    EXPECT_EQ(graph.LogFile(), first);
    EXPECT_EQ(FakeFilterGraph::Last()->logFile, kNoLogFile);

    FakeGraphConfig::Get().setLogFileResult = E_FAIL; // the graph refuses it: swallowed as well
    graph.SetLogFile(std::string(dir) + "/second.log");
    EXPECT_EQ(graph.LogFile(), first);

    FakeGraphConfig::Get().setLogFileResult = S_OK;
    graph.SetLogFile("");
    EXPECT_EQ(graph.LogFile(), "");
    graph.SetActive(false);
    std::remove(first.c_str());
    std::remove((std::string(dir) + "/second.log").c_str());
    rmdir(dir);
}

TEST_F(FilterGraphTest, DestroyingTheGraphTellsItsComponents) {
    FakeMember a("A");
    {
        TFilterGraph graph;
        graph.InsertMember(&a);
        graph.InsertListener(&a);
        graph.SetActive(true);
    }
    EXPECT_EQ(a.destroyedCalls, 2);
    EXPECT_NE(std::find(log.begin(), log.end(), "A opRemoved"), log.end());
}

} // namespace
