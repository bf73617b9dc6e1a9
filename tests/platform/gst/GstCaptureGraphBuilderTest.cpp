// RenderStream and SetOutputFileName on the GStreamer graph: which pins are
// chosen, converters between differing formats, and failures that leave the
// graph as it was.
#include "GstTestSupport.h"

#include <gtest/gtest.h>

using namespace gsttest;

namespace {

bool Connected(IPin* pin) {
    ComPtr<IPin> peer;
    return pin && pin->ConnectedTo(peer.Put()) == S_OK;
}

std::vector<std::string> FilterNames(IFilterGraph* graph) {
    std::vector<std::string> names;
    ComPtr<IEnumFilters> e;
    graph->EnumFilters(e.Put());
    ComPtr<IBaseFilter> f;
    while (e->Next(1, f.Put(), nullptr) == S_OK) {
        FILTER_INFO info{};
        f->QueryFilterInfo(&info);
        names.push_back(info.achName);
        if (info.pGraph) info.pGraph->Release();
    }
    return names;
}

} // namespace

TEST(GstCaptureGraphBuilder, OutputFileAddsMuxAndWriterLinkedTogether) {
    TGraph g;
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, "/tmp/kx-unused.avi", mux.Put(),
                                                 sink.Put()));
    EXPECT_EQ((std::vector<std::string>{"Mux", "File Writer"}), FilterNames(g.graph.Get()));
    std::string name;
    sink->GetCurFile(name, nullptr);
    EXPECT_EQ("/tmp/kx-unused.avi", name);
    EXPECT_TRUE(Connected(PinNamed(mux.Get(), "AVI Out").Get()));
    EXPECT_TRUE(PinNamed(mux.Get(), "Input 01"));
    EXPECT_EQ(VFW_E_INVALIDSUBTYPE,
              g.builder->SetOutputFileName(&MEDIASUBTYPE_YUY2, "/tmp/x", nullptr, nullptr));
}

TEST(GstCaptureGraphBuilder, PicksThePinByCategoryOrTypeAndKeepsASpareMuxInput) {
    TGraph g;
    auto video = g.Add(CLSID_VideoInputDeviceCategory, "Test Pattern", "Video");
    auto audio = g.Add(CLSID_AudioInputDeviceCategory, "Test Tone", "Audio");
    ComPtr<IBaseFilter> mux;
    g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, "/tmp/kx-unused.avi", mux.Put(), nullptr);

    EXPECT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, video.Get(), nullptr,
                                            mux.Get()));
    EXPECT_TRUE(Connected(PinNamed(video.Get(), "Preview").Get()));
    EXPECT_FALSE(Connected(PinNamed(video.Get(), "Capture").Get()));
    EXPECT_EQ(S_OK,
              g.builder->RenderStream(nullptr, &MEDIATYPE_Audio, audio.Get(), nullptr, mux.Get()));
    EXPECT_TRUE(PinNamed(mux.Get(), "Input 03"));
    EXPECT_FALSE(Connected(PinNamed(mux.Get(), "Input 03").Get()));

    // Nothing left to render: no preview pin on a sound device, no free video pin.
    EXPECT_EQ(VFW_E_NOT_FOUND, g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, audio.Get(),
                                                       nullptr, mux.Get()));
    EXPECT_EQ(VFW_E_NOT_FOUND,
              g.builder->RenderStream(nullptr, &MEDIATYPE_Audio, video.Get(), nullptr, mux.Get()));

    ComPtr<IPin> found;
    EXPECT_EQ(S_OK, g.builder->FindPin(video.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr,
                                       1, 0, found.Put()));
    EXPECT_EQ(PinNamed(video.Get(), "Capture").Get(), found.Get());
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(S_OK, g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, video.Get(),
                                             IAMStreamConfig::Iid, config.PutVoid()));
}

TEST(GstCaptureGraphBuilder, NoPossibleLinkIsAFailureThatLeavesTheGraphAsItWas) {
    TGraph g;
    auto video = g.Add(CLSID_VideoInputDeviceCategory, "Test Pattern", "Video");
    ComPtr<IBaseFilter> mux1, mux2;
    g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, "/tmp/kx-unused1.avi", mux1.Put(), nullptr);
    // A second writer pair whose mux output is free for the test: an AVI
    // stream is nothing a multiplexer input or a capture filter takes.
    ComPtr<IBaseFilter> loose;
    ASSERT_EQ(S_OK, CreateInstance(CLSID_AviDest, loose));
    g.graph->AddFilter(loose.Get(), "Loose Mux");
    const auto before = FilterNames(g.graph.Get());

    EXPECT_EQ(VFW_E_CANNOT_CONNECT,
              g.builder->RenderStream(nullptr, nullptr, loose.Get(), nullptr, mux1.Get()));
    EXPECT_EQ(VFW_E_CANNOT_CONNECT,
              g.builder->RenderStream(nullptr, nullptr, loose.Get(), nullptr, video.Get()));
    EXPECT_FALSE(Connected(PinNamed(mux1.Get(), "Input 01").Get()));
    EXPECT_FALSE(PinNamed(mux1.Get(), "Input 02"));
    ComPtr<IBaseFilter> tone = g.Add(CLSID_AudioInputDeviceCategory, "Test Tone", "Audio");
    EXPECT_FALSE(Connected(PinNamed(loose.Get(), "AVI Out").Get()));
    EXPECT_EQ(before.size() + 1, FilterNames(g.graph.Get()).size());

    // A filter outside the graph cannot be linked either.
    ComPtr<IBaseFilter> outside = BindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern");
    EXPECT_EQ(VFW_E_NOT_IN_GRAPH, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr,
                                                          outside.Get(), nullptr, mux1.Get()));
    EXPECT_FALSE(Connected(PinNamed(outside.Get(), "Capture").Get()));
    EXPECT_FALSE(Connected(PinNamed(mux1.Get(), "Input 01").Get()));
}

TEST(GstCaptureGraphBuilder, DifferingFormatsGetConvertersAndStillRecord) {
    TScratchDir dir;
    TGraph g;
    auto video = g.Add(CLSID_VideoInputDeviceCategory, "Test Pattern", "Video");
    // RGB 565 is nothing the AVI multiplexer takes: converters bridge it.
    auto config = PinNamed(video.Get(), "Capture").Query<IAMStreamConfig>();
    AM_MEDIA_TYPE* mt = nullptr;
    config->GetFormat(&mt);
    mt->subtype = MEDIASUBTYPE_RGB565;
    ASSERT_EQ(S_OK, config->SetFormat(mt));
    DeleteMediaType(mt);
    ComPtr<IBaseFilter> mux;
    g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dir.File("converted.avi"), mux.Put(), nullptr);
    ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, video.Get(), nullptr,
                                            mux.Get()));
    auto control = g.graph.Query<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    PumpFor(500);
    EXPECT_EQ(S_OK, control->Stop());
    const std::string probe = Probe(dir.File("converted.avi"));
    EXPECT_EQ(1, CountOf(probe, "codec_type=video")) << probe;
    EXPECT_EQ("", DecodeErrors(dir.File("converted.avi")));

    // Disconnecting takes the converters out again.
    EXPECT_EQ(S_OK, g.graph->Disconnect(PinNamed(video.Get(), "Capture").Get()));
    EXPECT_FALSE(Connected(PinNamed(mux.Get(), "Input 01").Get()));
}
