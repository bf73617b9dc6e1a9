#include "net/NetServerIOHandlerSocket.h"

#include "net/NetThread.h"

std::unique_ptr<TNetIOHandler> TNetServerIOHandlerSocket::Accept(TNetSocket listeningSocket,
                                                                 TNetThread* thread) {
    // A number held by a live binding: wait on the binding, which keeps the
    // descriptor from being closed (or reused) under the wait.
    if (TNetSocketHandle* owner = TNetSocketHandle::BeginUseOf(listeningSocket)) {
        struct TRelease {
            TNetSocketHandle* h;
            ~TRelease() { h->EndUse(); }
        } release{owner};
        return AcceptSocket(*owner, thread);
    }
    auto handler = std::make_unique<TNetIOHandlerSocket>();
    handler->OpenHandler();
    if (thread != nullptr) {
        for (;;) {
            if (thread->Stopped()) return nullptr;
            if (TNetSocketHandle::SelectOne(listeningSocket, AcceptSliceMs)) break;
        }
    }
    if (!handler->Binding()->AcceptConnection(listeningSocket)) return nullptr;
    return handler;
}

std::unique_ptr<TNetIOHandlerSocket>
TNetServerIOHandlerSocket::AcceptSocket(TNetSocketHandle& listening, TNetThread* thread) {
    auto handler = std::make_unique<TNetIOHandlerSocket>();
    handler->OpenHandler();
    if (thread != nullptr) {
        for (;;) {
            if (thread->Stopped()) return nullptr;
            if (!listening.HandleAllocated()) return nullptr;
            if (listening.WaitReadableOrClosed(AcceptSliceMs)) break;
        }
    }
    if (!handler->Binding()->AcceptConnection(listening)) return nullptr;
    return handler;
}
