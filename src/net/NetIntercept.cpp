#include "net/NetIntercept.h"

void TNetConnectionIntercept::Connect(TNetTCPConnection* connection) {
    connection_ = connection;
    if (OnConnect) OnConnect(*this);
    if (Intercept) Intercept->Connect(connection);
}

void TNetConnectionIntercept::Disconnect() {
    if (Intercept) Intercept->Disconnect();
    if (OnDisconnect) OnDisconnect(*this);
    connection_ = nullptr;
}

void TNetConnectionIntercept::Receive(TStream& data) {
    if (Intercept) Intercept->Receive(data);
    if (OnReceive) OnReceive(*this, data);
    data.SetPosition(0);
}

void TNetConnectionIntercept::Send(TStream& data) {
    if (OnSend) OnSend(*this, data);
    data.SetPosition(0);
    if (Intercept) Intercept->Send(data);
}
