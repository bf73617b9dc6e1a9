#pragma once
// TNetTCPServer: listening sockets (Bindings), one listener thread per
// binding, and one peer thread per accepted connection, obtained from a
// thread manager. Deactivation stops the listeners, closes every peer's
// socket and waits a bounded time for the peers to end.
#include "common/StringList.h"
#include "http/NetThreadMgr.h"
#include "net/NetException.h"
#include "net/NetIntercept.h"
#include "net/NetReply.h"
#include "net/NetServerIOHandlerSocket.h"
#include "net/NetSocketHandle.h"
#include "net/NetTCPConnection.h"
#include "net/NetThread.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TNetTCPServer;
class TNetPeerThread;
class TNetListenerThread;

class ENetTCPServerError : public ENetException {
  public:
    using ENetException::ENetException;
};
class ENetNoExecuteSpecified : public ENetTCPServerError {
  public:
    ENetNoExecuteSpecified() : ENetTCPServerError("No execute handler found.") {}
};
class ENetTerminateThreadTimeout : public ENetException {
  public:
    ENetTerminateThreadTimeout() : ENetException("Terminate Thread Timeout") {}
};

enum class TNetReuseSocket { rsOSDependent, rsTrue, rsFalse };

// The connection of a peer thread, with a reference to its server.
class TNetTCPServerConnection : public TNetTCPConnection {
  public:
    explicit TNetTCPServerConnection(TNetTCPServer* server) : Server(server) {}
    TNetTCPServer* const Server;
    // Set by a protocol while it waits for a client's next request: at the
    // connection limit such a connection may be closed to admit a new one.
    std::atomic<bool> WaitingForRequest{false};
    std::atomic<bool> Evicted{false}; // closed for that reason
};

// A line command of the command-handler path.
class TNetCommandHandler {
  public:
    using TCommandEvent = std::function<void(TNetPeerThread& thread, const std::string& line)>;
    std::string Command; // matched against the first word of the line, ignoring case
    bool Enabled = true;
    TCommandEvent OnCommand;
    // Runs OnCommand and returns true when the line is this handler's command.
    virtual bool Check(const std::string& line, TNetPeerThread& thread);
    virtual ~TNetCommandHandler() = default;
};

class TNetPeerThread : public TNetThread {
  public:
    TNetPeerThread() = default;
    ~TNetPeerThread() override;

    TNetTCPServerConnection* Connection() const { return connection_.get(); }
    void SetConnection(std::unique_ptr<TNetTCPServerConnection> connection) {
        connection_ = std::move(connection);
    }
    std::unique_ptr<TNetTCPServerConnection> TakeConnection() { return std::move(connection_); }

  protected:
    void BeforeLoop() override;
    void LoopStep() override;
    void AfterLoop() override;
    void CleanupStep() override;

  private:
    std::unique_ptr<TNetTCPServerConnection> connection_;
};

class TNetListenerThread : public TNetThread {
  public:
    TNetListenerThread(TNetTCPServer& server, TNetSocketHandle& binding);
    ~TNetListenerThread() override;

    TNetTCPServer& Server() const { return server_; }
    TNetSocketHandle& Binding() const { return binding_; }

  protected:
    void LoopStep() override;
    void AfterLoop() override;

  private:
    TNetTCPServer& server_;
    TNetSocketHandle& binding_;
};

class TNetTCPServer {
  public:
    using TServerThreadEvent = std::function<void(TNetPeerThread& thread)>;
    using TServerThreadExceptionEvent =
        std::function<void(TNetPeerThread& thread, const std::exception& e)>;
    using TListenExceptionEvent =
        std::function<void(TNetListenerThread& thread, const std::exception& e)>;
    using TCommandLineEvent = std::function<void(TNetPeerThread& thread, const std::string& line)>;
    using TNoCommandHandlerEvent =
        std::function<void(TNetPeerThread& thread, const std::string& line)>;

    TNetTCPServer();
    virtual ~TNetTCPServer();
    TNetTCPServer(const TNetTCPServer&) = delete;
    TNetTCPServer& operator=(const TNetTCPServer&) = delete;

    bool Active() const { return active_; }
    // Starts or stops the server; see the class comment. Call from one
    // controlling thread (not from a peer thread).
    virtual void SetActive(bool value);
    // While loading, SetActive only records the value; EndLoading applies it.
    void BeginLoading() { loading_ = true; }
    void EndLoading();

    TNetSocketHandles& Bindings() { return *bindings_; }
    int DefaultPort() const { return bindings_->DefaultPort(); }
    void SetDefaultPort(int port) { bindings_->SetDefaultPort(port); }

    int ListenQueue = 15;
    int MaxConnections = 0; // 0: unlimited
    // At the limit, close the oldest connection that still waits for its
    // request instead of refusing the new one (refused only when none waits).
    bool EvictWaitingAtLimit = false;
    TNetRFCReply MaxConnectionReply;
    TNetRFCReply Greeting;
    TNetRFCReply ReplyUnknownCommand;
    TNetRFCReplies ReplyTexts;
    int ReplyExceptionCode = 0;
    TNetReuseSocket ReuseSocket = TNetReuseSocket::rsOSDependent;
    int TerminateWaitTime = 5000; // ms
    // How much longer than TerminateWaitTime the destructor waits for peers
    // that do not end before it gives up on the process (see ShutDown).
    static constexpr int kShutDownGraceMs = 10000;

    TNetThreadMgr* ThreadMgr() const { return threadMgr_.load(); }
    // The manager must outlive its use by this server or tell it when freed
    // (it does: the server forgets a manager that is destroyed).
    void SetThreadMgr(TNetThreadMgr* mgr);
    bool ImplicitThreadMgr() const { return implicitThreadMgr_ != nullptr; }

    // Neither is owned; a freed one is forgotten.
    TNetServerIOHandler* IOHandler() const { return ioHandler_.load(); }
    void SetIOHandler(TNetServerIOHandler* handler);
    TNetServerIntercept* Intercept() const { return intercept_.load(); }
    void SetIntercept(TNetServerIntercept* intercept);

    std::vector<std::unique_ptr<TNetCommandHandler>> CommandHandlers;
    bool CommandHandlersEnabled = true;

    TServerThreadEvent OnConnect;
    TServerThreadEvent OnDisconnect;
    TServerThreadEvent OnExecute;
    TServerThreadExceptionEvent OnException;
    TListenExceptionEvent OnListenException;
    TNoCommandHandlerEvent OnNoCommandHandler;
    TCommandLineEvent OnBeforeCommandHandler;
    TCommandLineEvent OnAfterCommandHandler;

    // The per-connection routine, called once per peer LoopStep; returns
    // whether any handler ran.
    virtual bool ExecuteConnection(TNetPeerThread& thread);

    // Peer threads currently running (PeerThreadList).
    int PeerThreadCount();
    // Connections refused or closed by the connection limit so far.
    uint64_t ConnectionsRefused() const { return refused_.load(); }

    // Overridable notifications; each calls its event when assigned.
    virtual void DoConnect(TNetPeerThread& thread);
    virtual void DoDisconnect(TNetPeerThread& thread);
    virtual void DoException(TNetPeerThread& thread, const std::exception& e);
    virtual void DoListenException(TNetListenerThread& thread, const std::exception& e);
    // Answers a connection refused by MaxConnections (on the listener thread).
    virtual void RefuseConnection(TNetTCPServerConnection& connection);

  protected:
    // The class of peer threads handed to the thread manager at activation.
    TNetThreadClass PeerThreadClass;

    void StopListeners();
    void StopPeerThreads();
    // For destructors: deactivates (errors swallowed) and waits until no peer
    // thread refers to this server any more. Peers that are still running
    // after TerminateWaitTime + kShutDownGraceMs are stuck in a handler: the
    // process then ends with a message rather than free the server under them.
    void ShutDown();
    bool Loading() const { return loading_; }
    // Disconnects a peer's connection (from the peer's own thread).
    void DisconnectPeer(TNetTCPConnection& connection);
    // The thread manager, creating the implicit one on first use.
    TNetThreadMgr& GetThreadMgr();

  private:
    friend class TNetPeerThread;
    friend class TNetListenerThread;

    void Activate();
    void Deactivate();
    bool ListenerStep(TNetListenerThread& listener);
    void AddPeer(TNetPeerThread* thread);
    void PeerCleanup(TNetPeerThread& thread); // removes, returns and frees under the peer list lock
    void ThreadMgrFreed();
    void HandlerFreed(const void* which);
    // At the limit: closes the oldest connection that waits for a request;
    // false when there is none. Under peerLock_.
    bool EvictWaitingPeer();
    int LivePeerCountLocked() const;
    bool CommandHandlerPath(TNetPeerThread& thread);

    bool active_ = false;
    bool loading_ = false;
    bool loadedActive_ = false;
    bool commandHandlersInitialized_ = false;
    std::unique_ptr<TNetSocketHandles> bindings_;

    std::atomic<TNetThreadMgr*> threadMgr_{nullptr}; // written under peerLock_, read freely
    std::unique_ptr<TNetThreadMgr> implicitThreadMgr_;
    std::atomic<TNetServerIOHandler*> ioHandler_{nullptr};
    std::unique_ptr<TNetServerIOHandlerSocket> implicitIOHandler_;
    std::atomic<TNetServerIntercept*> intercept_{nullptr};
    std::atomic<uint64_t> refused_{0};

    std::mutex peerLock_; // guards peerThreads_ (PeerThreadList)
    std::vector<TNetPeerThread*> peerThreads_;
    std::mutex listenerLock_; // guards listenerThreads_ (ListenerThreadList)
    std::unique_ptr<std::vector<std::unique_ptr<TNetListenerThread>>> listenerThreads_;
};
