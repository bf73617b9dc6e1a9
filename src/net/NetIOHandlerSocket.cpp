#include "net/NetIOHandlerSocket.h"

#include <chrono>

TNetIOHandlerSocket::~TNetIOHandlerSocket() {
    CloseHandler();
}

void TNetIOHandlerSocket::OpenHandler() {
    if (!binding_)
        binding_ = std::make_unique<TNetSocketHandle>();
    else
        binding_->ResetHandle(true);
}

void TNetIOHandlerSocket::CloseHandler() {
    if (binding_) binding_->CloseSocket();
}

bool TNetIOHandlerSocket::IsConnected() {
    return binding_ && binding_->HandleAllocated();
}

bool TNetIOHandlerSocket::WaitReadable(int32_t timeoutMs) {
    if (!binding_) throw ENetConnClosedGracefully();
    return binding_->WaitReadable(timeoutMs);
}

int32_t TNetIOHandlerSocket::ReceiveBytes(void* buffer, int32_t length) {
    if (!IsConnected()) throw ENetClosedSocket();
    return binding_->ReceiveData(buffer, length, 0);
}

std::string TNetIOHandlerSocket::PeerIP() const {
    return binding_ ? binding_->PeerIP() : std::string();
}

int32_t TNetIOHandlerSocket::SendBytes(const void* buffer, int32_t length) {
    if (!IsConnected()) throw ENetClosedSocket();
    return binding_->SendData(buffer, length, 0);
}

void TNetIOHandlerSocket::ConnectToHost(const std::string& host, int32_t port, int32_t timeoutMs) {
    ConnectToHost(host, port, timeoutMs, std::string(), 0, 0, 0);
}

void TNetIOHandlerSocket::ConnectToHost(const std::string& host, int32_t port, int32_t timeoutMs,
                                        const std::string& boundIP, int32_t boundPort,
                                        int32_t boundPortMin, int32_t boundPortMax) {
    CloseHandler(); // a reconnect must not leak the previous socket
    OpenHandler();
    TNetSocketHandle& b = *binding_;
    TNetStack& stack = SocketStack();
    b.AllocateSocket(NetSOCK_STREAM, 0);
    b.SetIP(boundIP);
    b.SetPort(boundPort);
    b.SetClientPortMin(boundPortMin);
    b.SetClientPortMax(boundPortMax);
    b.BindSocket();

    std::string ip = host;
    if (!TNetStack::IsIP(host)) {
        DoStatus(TNetStatus::hsResolving, host);
        ip = stack.ResolveHost(host);
    }
    b.SetPeer(ip, port);
    if (!useNagle_) {
        const int32_t one = 1;
        b.SetSocketOption(NetIPPROTO_TCP, NetTCP_NODELAY, &one, sizeof(one));
    }
    DoStatus(TNetStatus::hsConnecting, ip);

    if (timeoutMs == 0 || timeoutMs == -1) {
        stack.CheckSocketResult(b.Connect(NetAF_INET));
        return;
    }

    // Time-limited: a non-blocking connect watched for writability. (A waiting
    // helper thread is not needed for this on POSIX.)
    stack.SocketSetNonBlocking(b.Handle(), true);
    const int32_t r = stack.SocketConnect(b.Handle(), NetAF_INET, port, ip);
    int32_t code = 0;
    if (r == NetSocketError) {
        code = stack.LastSocketError();
        if (code == NetWSAEINPROGRESS || code == NetWSAEWOULDBLOCK) {
            auto list = TNetSocketList::CreateSocketList();
            list->Add(b.Handle());
            const int32_t n = stack.SocketSelect(
                nullptr, list.get(), timeoutMs < 0 ? NetInfiniteTimeout : timeoutMs, nullptr);
            if (n == 0) {
                b.CloseSocket();
                throw ENetConnectTimeout();
            }
            int32_t err = 0;
            int32_t len = sizeof(err);
            if (n < 0)
                err = stack.LastSocketError();
            else if (stack.SocketGetOption(b.Handle(), NetSOL_SOCKET, NetSO_ERROR, &err, len) != 0)
                err = stack.LastSocketError();
            code = err;
        }
    }
    if (code != 0) {
        b.CloseSocket();
        throw ENetConnectException(stack.SocketErrorText(code));
    }
    stack.SocketSetNonBlocking(b.Handle(), false);
    b.RefreshLocalBinding();
    b.RefreshPeerBinding();
}
