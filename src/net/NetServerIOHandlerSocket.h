#pragma once
// The server side's accepting object: given a listening socket it waits for a
// connection and returns a new, connected TNetIOHandlerSocket.
#include "net/NetComponent.h"
#include "net/NetFreeNotification.h"
#include "net/NetIOHandlerSocket.h"

#include <memory>

class TNetThread;

class TNetServerIOHandler : public TNetComponent, public TNetFreeNotifier {
  public:
    virtual void Init() {}
    // nullptr: no connection.
    virtual std::unique_ptr<TNetIOHandler> Accept(TNetSocket /*listeningSocket*/,
                                                  TNetThread* /*thread*/) {
        return nullptr;
    }
    // The same on a listening binding; a handler that can wait on the binding
    // itself wakes at once when another thread closes it.
    virtual std::unique_ptr<TNetIOHandler> Accept(TNetSocketHandle& listening, TNetThread* thread) {
        return Accept(listening.Handle(), thread);
    }
};

class TNetServerIOHandlerSocket : public TNetServerIOHandler {
  public:
    // With a thread the wait runs in 100 ms slices and gives up (nullptr) as
    // soon as the thread is stopped; without one it blocks in the accept.
    // nullptr also when the listening socket is closed under the wait.
    std::unique_ptr<TNetIOHandler> Accept(TNetSocket listeningSocket, TNetThread* thread) override;
    // The same on the listening binding. Preferred: it registers the wait on the
    // binding, so a server closing that binding from another thread wakes the
    // accept at once and the listening descriptor is never closed under it.
    std::unique_ptr<TNetIOHandler> Accept(TNetSocketHandle& listening,
                                          TNetThread* thread) override {
        return AcceptSocket(listening, thread);
    }
    std::unique_ptr<TNetIOHandlerSocket> AcceptSocket(TNetSocketHandle& listening,
                                                      TNetThread* thread);

    // Polling slice of a thread-bound accept.
    static constexpr int32_t AcceptSliceMs = 100;
};
