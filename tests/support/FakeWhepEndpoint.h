#pragma once
// A WebRTC endpoint that answers as told and records what it was asked,
// for the tests of what stands in front of one (the WHEP answers, the
// landing site's routes).
#include "platform/WhepInterfaces.h"

#include <mutex>

struct TFakeWhepEndpoint : TComObject<IWhepEndpoint> {
    // lock guards every field: the landing site calls from its peer threads.
    std::mutex lock;
    TWhepOfferResult Next{201, "v=0\r\nanswer\r\n", "abc123", {}};
    std::string Offered, Peer, Patched, Deleted;
    int Offers = 0;

    TWhepOfferResult Offer(const std::string& sdp, const std::string& peer) override {
        std::lock_guard g(lock);
        ++Offers;
        Offered = sdp;
        Peer = peer;
        return Next;
    }
    int Patch(const std::string& id, const std::string& fragment) override {
        std::lock_guard g(lock);
        Patched = fragment;
        return id == "abc123" ? 204 : 404;
    }
    int Delete(const std::string& id) override {
        std::lock_guard g(lock);
        Deleted = id;
        return id == "abc123" ? 200 : 404;
    }
    HRESULT GetViewers(std::vector<TStreamViewer>&) override { return S_OK; }
    HRESULT DisconnectViewer(uint64_t) override { return S_FALSE; }
    HRESULT SetAdmission(std::function<bool()>, std::function<void()>) override { return S_OK; }
    HRESULT SetNetwork(const TWhepNetwork&) override { return S_OK; }
};
