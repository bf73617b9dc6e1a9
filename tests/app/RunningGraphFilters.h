#pragma once
// What a test may look at inside the window's running capture graph: a
// filter found by the name it joined the graph with ("VideoSourceFilter",
// "brimASF"), through the graph the video window shows.
#include "app/MainForm.h"

#include <string>

// Null while the graph is inactive or has no such filter.
inline ComPtr<IBaseFilter> GraphFilter(TMainForm& form, const std::string& name) {
    TFilterGraph* graph = form.VideoWindow->FilterGraph();
    ComPtr<IFilterGraph2> platform = graph ? graph->Query<IFilterGraph2>() : nullptr;
    ComPtr<IBaseFilter> filter;
    if (!platform || FAILED(platform->FindFilterByName(name, filter.Put()))) return {};
    return filter;
}

// The running broadcast writer's profile (a null GUID without one).
inline GUID BroadcastProfile(TMainForm& form) {
    GUID profile{};
    ComPtr<IBaseFilter> writer = GraphFilter(form, "brimASF");
    if (ComPtr<IConfigAsfWriter> config =
            writer ? QueryAs<IConfigAsfWriter>(writer.Get()) : nullptr)
        config->GetCurrentProfileGuid(&profile);
    return profile;
}
