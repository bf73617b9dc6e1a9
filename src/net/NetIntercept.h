#pragma once
// Filters on a connection's traffic: a chain of TNetConnectionIntercept, each
// with an optional inner one. A server intercept makes one for every accepted
// connection.
#include "common/Stream.h"
#include "net/NetFreeNotification.h"

#include <functional>
#include <memory>

class TNetTCPConnection;

class TNetConnectionIntercept {
  public:
    using TNotifyEvent = std::function<void(TNetConnectionIntercept& sender)>;
    using TStreamEvent = std::function<void(TNetConnectionIntercept& sender, TStream& data)>;

    virtual ~TNetConnectionIntercept() = default;

    // Remember the connection, OnConnect, then the inner one.
    virtual void Connect(TNetTCPConnection* connection);
    // The inner one, OnDisconnect, then forget the connection.
    virtual void Disconnect();
    // Received data: the inner one first, then OnReceive; rewound afterwards.
    virtual void Receive(TStream& data);
    // Data to send: OnSend, rewind, then the inner one.
    virtual void Send(TStream& data);

    TNetTCPConnection* Connection() const noexcept { return connection_; }

    std::shared_ptr<TNetConnectionIntercept> Intercept; // inner filter
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TStreamEvent OnReceive;
    TStreamEvent OnSend;

  private:
    TNetTCPConnection* connection_ = nullptr;
};

class TNetServerIntercept : public TNetFreeNotifier {
  public:
    virtual void Init() {}
    // The filter for a newly accepted connection.
    virtual std::shared_ptr<TNetConnectionIntercept> Accept(TNetTCPConnection& connection) = 0;
};
