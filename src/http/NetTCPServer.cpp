#include "http/NetTCPServer.h"

#include "common/Text.h"
#include "http/NetThreadMgrDefault.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {
constexpr int kWaitSliceMs = 250; // StopPeerThreads checks its list this often
} // namespace

// ---- command handlers ---------------------------------------------------

bool TNetCommandHandler::Check(const std::string& line, TNetPeerThread& thread) {
    const size_t space = line.find(' ');
    if (!SameText(line.substr(0, space), Command)) return false;
    if (OnCommand) OnCommand(thread, line);
    return true;
}

// ---- peer thread --------------------------------------------------------

TNetPeerThread::~TNetPeerThread() = default;

void TNetPeerThread::BeforeLoop() {
    if (!connection_ || !connection_->IOHandler()) throw ENetTCPServerError("");
    TNetTCPServer& server = *connection_->Server;
    connection_->IOHandler()->AfterAccept();
    if (TNetServerIntercept* intercept = server.Intercept())
        connection_->SetIntercept(intercept->Accept(*connection_));
    server.DoConnect(*this);
    if (!connection_->IsConnected()) StopThread();
}

void TNetPeerThread::LoopStep() {
    TNetTCPServer& server = *connection_->Server;
    try {
        if (!server.ExecuteConnection(*this)) throw ENetNoExecuteSpecified();
    } catch (const ENetSocketError& e) {
        server.DoException(*this, e);
        if (e.LastError() == NetWSAECONNABORTED || e.LastError() == NetWSAECONNRESET)
            server.DisconnectPeer(*connection_);
    } catch (const ENetClosedSocket& e) {
        server.DoException(*this, e);
    } catch (const ENetConnClosedGracefully& e) {
        server.DoException(*this, e);
    } catch (const std::exception& e) {
        server.DoException(*this, e);
        throw;
    }
    if (!connection_->IsConnected()) StopThread();
}

void TNetPeerThread::AfterLoop() {
    if (!connection_) return;
    TNetTCPServer& server = *connection_->Server;
    server.DoDisconnect(*this);
    connection_->SetIntercept(nullptr);
}

void TNetPeerThread::CleanupStep() {
    TNetThread::CleanupStep();
    if (connection_) connection_->Server->PeerCleanup(*this);
}

// ---- listener thread ----------------------------------------------------

TNetListenerThread::TNetListenerThread(TNetTCPServer& server, TNetSocketHandle& binding)
    : server_(server), binding_(binding) {}

TNetListenerThread::~TNetListenerThread() {
    TerminateAndWait();
}

void TNetListenerThread::LoopStep() {
    if (!server_.ListenerStep(*this)) {
        // A failing accept (out of descriptors, for example) must not spin.
        WaitUntilStopped(std::chrono::milliseconds(10));
    }
}

void TNetListenerThread::AfterLoop() {
    binding_.CloseSocket();
}

// ---- server -------------------------------------------------------------

TNetTCPServer::TNetTCPServer() : bindings_(std::make_unique<TNetSocketHandles>()) {
    PeerThreadClass = [] { return std::make_unique<TNetPeerThread>(); };
    Greeting.SetNumericCode(0);
    MaxConnectionReply.SetNumericCode(0);
    ReplyUnknownCommand.SetNumericCode(0);
}

TNetTCPServer::~TNetTCPServer() {
    ShutDown();
}

void TNetTCPServer::ShutDown() {
    try {
        SetActive(false);
    } catch (...) {
        // Reported to whoever deactivates explicitly; here we can only wait.
    }
    StopListeners();
    // Peer threads refer to this server until they leave the list: it must
    // not be freed under them. Their sockets are closed, so only a handler
    // that never returns keeps one here.
    const auto limit = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(std::max(TerminateWaitTime, 0) + kShutDownGraceMs);
    while (PeerThreadCount() > 0) {
        if (std::chrono::steady_clock::now() >= limit) {
            std::fprintf(stderr,
                         "kavaroXP: %d connection threads did not end within %d ms of the "
                         "server being freed; ending the process.\n",
                         PeerThreadCount(), std::max(TerminateWaitTime, 0) + kShutDownGraceMs);
            std::fflush(stderr);
            std::_Exit(EXIT_FAILURE);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
    }
    if (threadMgr_ && !implicitThreadMgr_) threadMgr_.load()->RemoveFreeNotification(this);
    threadMgr_ = nullptr;
    implicitThreadMgr_.reset();
    SetIOHandler(nullptr);
    SetIntercept(nullptr);
}

void TNetTCPServer::DisconnectPeer(TNetTCPConnection& connection) {
    // The connection guards its handler against a concurrent close from
    // StopPeerThreads; the connection object itself is freed only under
    // peerLock_ (PeerCleanup), so no lock is needed here.
    connection.Disconnect();
}

void TNetTCPServer::EndLoading() {
    loading_ = false;
    if (loadedActive_) SetActive(true);
}

void TNetTCPServer::SetActive(bool value) {
    if (loading_) {
        loadedActive_ = value;
        return;
    }
    if (value == active_) {
        // A deactivation that timed out leaves Active true; retrying waits again.
        return;
    }
    if (value)
        Activate();
    else
        Deactivate();
}

void TNetTCPServer::SetThreadMgr(TNetThreadMgr* mgr) {
    if (mgr == threadMgr_.load()) return;
    if (threadMgr_ && !implicitThreadMgr_) threadMgr_.load()->RemoveFreeNotification(this);
    implicitThreadMgr_.reset();
    threadMgr_ = mgr;
    if (mgr) mgr->AddFreeNotification(this, [this] { ThreadMgrFreed(); });
}

void TNetTCPServer::ThreadMgrFreed() {
    // Forgotten first: peers that end from now on free themselves instead of
    // returning to a manager that is being destroyed.
    {
        std::lock_guard guard(peerLock_);
        threadMgr_ = nullptr;
    }
    try {
        StopPeerThreads();
    } catch (...) {
        // the manager goes anyway; late peers free themselves
    }
}

void TNetTCPServer::HandlerFreed(const void* which) {
    if (which == ioHandler_.load()) ioHandler_ = nullptr;
    if (which == intercept_.load()) intercept_ = nullptr;
}

void TNetTCPServer::SetIOHandler(TNetServerIOHandler* handler) {
    TNetServerIOHandler* old = ioHandler_.load();
    if (old && old != implicitIOHandler_.get()) old->RemoveFreeNotification(this);
    ioHandler_ = handler;
    if (handler != implicitIOHandler_.get()) implicitIOHandler_.reset();
    if (handler && handler != implicitIOHandler_.get())
        handler->AddFreeNotification(this, [this, handler] { HandlerFreed(handler); });
}

void TNetTCPServer::SetIntercept(TNetServerIntercept* intercept) {
    if (TNetServerIntercept* old = intercept_.load()) old->RemoveFreeNotification(this);
    intercept_ = intercept;
    if (intercept)
        intercept->AddFreeNotification(this, [this, intercept] { HandlerFreed(intercept); });
}

TNetThreadMgr& TNetTCPServer::GetThreadMgr() {
    // Also called by listeners: a manager freed while active is replaced by
    // an implicit one instead of leaving the server without any.
    if (TNetThreadMgr* mgr = threadMgr_.load()) return *mgr;
    std::lock_guard guard(peerLock_);
    if (!threadMgr_.load()) {
        implicitThreadMgr_ = std::make_unique<TNetThreadMgrDefault>();
        implicitThreadMgr_->PeerThreadClass = PeerThreadClass;
        threadMgr_ = implicitThreadMgr_.get();
    }
    return *threadMgr_.load();
}

int TNetTCPServer::PeerThreadCount() {
    std::lock_guard guard(peerLock_);
    return static_cast<int>(peerThreads_.size());
}

void TNetTCPServer::Activate() {
    commandHandlersInitialized_ = true;
    if (bindings_->Count() == 0) bindings_->Add();
    GetThreadMgr().PeerThreadClass = PeerThreadClass;
    if (!ioHandler_) {
        implicitIOHandler_ = std::make_unique<TNetServerIOHandlerSocket>();
        ioHandler_ = implicitIOHandler_.get();
    }
    ReplyTexts.FillReply(ReplyUnknownCommand);
    ReplyTexts.FillReply(MaxConnectionReply);
    // Filled here, once: peer threads only read it.
    ReplyTexts.FillReply(Greeting);
    ioHandler_.load()->Init();

    for (int i = 0; i < bindings_->Count(); ++i) {
        TNetSocketHandle& binding = (*bindings_)[i];
        try {
            binding.AllocateSocket(NetSOCK_STREAM, 0);
            // Linux refuses to bind a port that closed connections still hold
            // (TIME_WAIT) unless the reuse option is set; elsewhere that bind
            // works by default, so "OS dependent" sets it here. Two listeners
            // on one port are refused either way.
            if (ReuseSocket != TNetReuseSocket::rsFalse) {
                int32_t one = 1;
                binding.SetSocketOption(NetSOL_SOCKET, NetSO_REUSEADDR, &one, sizeof(one));
            }
            binding.BindSocket();
        } catch (...) {
            binding.CloseSocket();
            for (int k = i - 1; k >= 0; --k)
                (*bindings_)[k].CloseSocket();
            try {
                Deactivate();
            } catch (...) {
                // the bind failure is the error to report
            }
            throw;
        }
    }

    {
        std::lock_guard guard(listenerLock_);
        listenerThreads_ = std::make_unique<std::vector<std::unique_ptr<TNetListenerThread>>>();
    }
    try {
        for (int i = 0; i < bindings_->Count(); ++i) {
            TNetSocketHandle& binding = (*bindings_)[i];
            binding.StartListening(ListenQueue);
            auto listener = std::make_unique<TNetListenerThread>(*this, binding);
            TNetListenerThread& started = *listener;
            {
                std::lock_guard guard(listenerLock_);
                listenerThreads_->push_back(std::move(listener));
            }
            started.StartThread();
        }
    } catch (...) {
        for (int k = 0; k < bindings_->Count(); ++k)
            (*bindings_)[k].CloseSocket();
        try {
            Deactivate();
        } catch (...) {
        }
        throw;
    }
    active_ = true;
}

void TNetTCPServer::Deactivate() {
    StopListeners();
    std::exception_ptr failure;
    try {
        StopPeerThreads();
    } catch (...) {
        failure = std::current_exception();
    }
    if (implicitThreadMgr_ && PeerThreadCount() == 0) {
        std::lock_guard guard(peerLock_);
        threadMgr_ = nullptr;
        implicitThreadMgr_.reset();
    }
    if (failure) std::rethrow_exception(failure);
    active_ = false;
}

void TNetTCPServer::StopListeners() {
    std::lock_guard guard(listenerLock_);
    if (!listenerThreads_) return;
    for (auto& listener : *listenerThreads_) {
        // End the thread first: its accept wait polls the socket, which is
        // closed only once nobody waits on it.
        listener->TerminateAndWait();
        listener->Binding().CloseSocket();
    }
    listenerThreads_.reset();
}

void TNetTCPServer::StopPeerThreads() {
    {
        std::lock_guard guard(peerLock_);
        for (TNetPeerThread* peer : peerThreads_)
            if (peer->Connection()) peer->Connection()->CloseConnectionSocket();
    }
    // The list is checked once more after the last sleep, so that a short
    // TerminateWaitTime reports a timeout only when peers are really left.
    const int checks = TerminateWaitTime / kWaitSliceMs;
    for (int i = 0; i < checks; ++i) {
        if (PeerThreadCount() == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
    }
    if (PeerThreadCount() == 0) return;
    throw ENetTerminateThreadTimeout();
}

bool TNetTCPServer::ListenerStep(TNetListenerThread& listener) {
    std::unique_ptr<TNetIOHandler> handler;
    TNetThread* acquired = nullptr;
    try {
        auto connection = std::make_unique<TNetTCPServerConnection>(this);
        TNetServerIOHandler* acceptor = ioHandler_.load();
        if (!acceptor) {
            listener.StopThread();
            throw ENetTCPServerError("The accepting handler was freed; no longer accepting.");
        }
        handler = acceptor->Accept(listener.Binding(), &listener);
        if (!handler) {
            listener.StopThread();
            return true;
        }
        TNetThreadMgr& mgr = GetThreadMgr();
        acquired = mgr.AcquireThread();
        auto* peer = dynamic_cast<TNetPeerThread*>(acquired);
        if (!peer) throw ENetThreadClassNotSpecified(); // not a peer thread class
        connection->SetIOHandler(std::move(handler));
        TNetTCPServerConnection& conn = *connection;
        peer->SetConnection(std::move(connection));
        bool refuse = false;
        if (MaxConnections > 0) {
            std::lock_guard guard(peerLock_);
            refuse = LivePeerCountLocked() >= MaxConnections &&
                     !(EvictWaitingAtLimit && EvictWaitingPeer());
        }
        if (refuse) {
            ++refused_;
            try {
                RefuseConnection(conn);
            } catch (const std::exception&) {
                // a refused client that already left
            }
            conn.Disconnect();
            acquired = nullptr;
            mgr.ReturnThread(peer);
            return true;
        }
        AddPeer(peer);
        acquired = nullptr;
        peer->StartThread();
        return true;
    } catch (const std::exception& e) {
        if (acquired) GetThreadMgr().ReturnThread(acquired);
        DoListenException(listener, e);
        return false;
    }
}

void TNetTCPServer::AddPeer(TNetPeerThread* thread) {
    std::lock_guard guard(peerLock_);
    peerThreads_.push_back(thread);
}

void TNetTCPServer::PeerCleanup(TNetPeerThread& thread) {
    // Returned and removed under the list lock: once the thread has left the
    // list, deactivation may free the implicit manager and the server itself.
    // The connection, unreachable from then on, is freed outside the lock.
    std::unique_ptr<TNetTCPServerConnection> connection;
    {
        std::lock_guard guard(peerLock_);
        TNetThreadMgr* mgr = threadMgr_.load();
        if (mgr && mgr->IsActive(&thread)) {
            mgr->ReturnThread(&thread);
        } else if (!thread.FreeOnTerminate()) {
            thread.SetFreeOnTerminate(true);
            thread.TerminateThread();
        }
        connection = thread.TakeConnection();
        peerThreads_.erase(std::remove(peerThreads_.begin(), peerThreads_.end(), &thread),
                           peerThreads_.end());
    }
}

int TNetTCPServer::LivePeerCountLocked() const {
    int live = 0;
    for (TNetPeerThread* peer : peerThreads_)
        if (peer->Connection() && !peer->Connection()->Evicted) ++live;
    return live;
}

bool TNetTCPServer::EvictWaitingPeer() {
    // Oldest first: the list is in order of acceptance.
    for (TNetPeerThread* peer : peerThreads_) {
        TNetTCPServerConnection* conn = peer->Connection();
        if (!conn || conn->Evicted || !conn->WaitingForRequest) continue;
        conn->Evicted = true;
        conn->CloseConnectionSocket();
        ++refused_;
        return true;
    }
    return false;
}

void TNetTCPServer::RefuseConnection(TNetTCPServerConnection& connection) {
    connection.SendReply(MaxConnectionReply);
}

void TNetTCPServer::DoConnect(TNetPeerThread& thread) {
    thread.Connection()->SendReply(Greeting);
    if (OnConnect) OnConnect(thread);
}

void TNetTCPServer::DoDisconnect(TNetPeerThread& thread) {
    if (OnDisconnect) OnDisconnect(thread);
}

void TNetTCPServer::DoException(TNetPeerThread& thread, const std::exception& e) {
    if (OnException) OnException(thread, e);
}

void TNetTCPServer::DoListenException(TNetListenerThread& thread, const std::exception& e) {
    if (OnListenException) OnListenException(thread, e);
}

bool TNetTCPServer::ExecuteConnection(TNetPeerThread& thread) {
    if (CommandHandlersEnabled && !CommandHandlers.empty()) return CommandHandlerPath(thread);
    if (!OnExecute) return false;
    OnExecute(thread);
    return true;
}

bool TNetTCPServer::CommandHandlerPath(TNetPeerThread& thread) {
    TNetTCPServerConnection& conn = *thread.Connection();
    const std::string line = conn.ReadLine();
    if (OnBeforeCommandHandler) OnBeforeCommandHandler(thread, line);
    bool handled = false;
    for (auto& handler : CommandHandlers) {
        if (handler->Enabled && handler->Check(line, thread)) {
            handled = true;
            break;
        }
    }
    if (OnAfterCommandHandler) OnAfterCommandHandler(thread, line);
    if (!handled) {
        if (OnNoCommandHandler) {
            OnNoCommandHandler(thread, line);
        } else if (ReplyUnknownCommand.NumericCode() > 0 || !ReplyUnknownCommand.Text().Empty()) {
            conn.SendReply(ReplyUnknownCommand);
        } else {
            throw ENetTCPServerError("No command handler found.");
        }
    }
    return true;
}
