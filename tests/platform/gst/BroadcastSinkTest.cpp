// The network sink as the writer sees it: created through
// WMCreateWriterNetworkSink, opened on a free or a taken port, fed the header
// and packets, and closed.
#include "BroadcastTestSupport.h"

#include <gtest/gtest.h>

using namespace gsttest;
using namespace bcasttest;

namespace {

// A minimal live ASF header: header object (with file properties giving the
// packet size) plus the 50-byte data object header.
std::vector<uint8_t> TinyHeader(uint32_t packetSize) {
    auto put = [](std::vector<uint8_t>& b, uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    const uint8_t header[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const uint8_t props[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                               0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const uint8_t data[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    std::vector<uint8_t> b(header, header + 16);
    put(b, 30 + 104, 8);
    put(b, 1, 4);
    b.push_back(1);
    b.push_back(2);
    b.insert(b.end(), props, props + 16);
    put(b, 104, 8);
    b.resize(b.size() + 16 + 8 + 8 + 8 + 8 + 8 + 8, 0); // file id .. preroll
    put(b, 1, 4);                                       // flags: broadcast
    put(b, packetSize, 4);
    put(b, packetSize, 4);
    put(b, 56000, 4);
    b.insert(b.end(), data, data + 16);
    put(b, 0, 8);
    b.resize(b.size() + 16, 0);
    put(b, 0, 8);
    b.push_back(1);
    b.push_back(1);
    return b;
}

} // namespace

TEST(BroadcastSink, OpensAFreePortServesAndCloses) {
    RegisterBroadcastClasses();
    ComPtr<IWMWriterNetworkSink> sink;
    ASSERT_EQ(S_OK, WMCreateWriterNetworkSink(sink.Put()));
    EXPECT_EQ(E_INVALIDARG, sink->SetNetworkProtocol(WMT_NET_PROTOCOL(1)));
    EXPECT_EQ(S_OK, sink->SetNetworkProtocol(WMT_PROTOCOL_HTTP));
    EXPECT_EQ(S_OK, sink->SetMaximumClients(1));
    DWORD clients = 0;
    sink->GetMaximumClients(&clients);
    EXPECT_EQ(1u, clients);
    std::string url;
    EXPECT_TRUE(FAILED(sink->GetHostURL(url)));
    DWORD port = 0;
    ASSERT_EQ(S_OK, sink->Open(&port));
    ASSERT_NE(0u, port);
    ASSERT_EQ(S_OK, sink->GetHostURL(url));
    EXPECT_NE(std::string::npos, url.find(":" + std::to_string(port) + "/"));

    // Taken by ourselves: a second sink on the same port is refused as such.
    ComPtr<IWMWriterNetworkSink> second;
    ASSERT_EQ(S_OK, WMCreateWriterNetworkSink(second.Put()));
    DWORD same = port;
    EXPECT_EQ(HRESULT_ADDRESS_IN_USE, second->Open(&same));

    TViewer viewer(port, kPlainRequest);
    viewer.ReadFor(300); // waiting for the stream: it gets every packet
    const auto header = TinyHeader(64);
    sink->OnHeader(header);
    std::vector<uint8_t> packet(64, 0x82);
    for (int i = 0; i < 3; ++i)
        sink->OnDataUnit(packet);
    viewer.ReadFor(500);
    const size_t body = viewer.Data().find("\r\n\r\n");
    ASSERT_NE(std::string::npos, body);
    EXPECT_EQ(header.size() + 3 * 64, viewer.Data().size() - body - 4);

    TViewer refused(port, kPlainRequest);
    refused.ReadFor(500);
    EXPECT_EQ(0u, refused.Data().find("HTTP/1.0 503 Service Unavailable"));

    EXPECT_EQ(S_OK, sink->Disconnect());
    EXPECT_FALSE(viewer.ReadFor(1000));
    TViewer again(port, kPlainRequest);
    EXPECT_TRUE(again.Connected()); // still listening
    sink->OnEndWriting();
    EXPECT_EQ(S_OK, sink->Close());
    TViewer gone(port, kPlainRequest);
    EXPECT_FALSE(gone.Connected());
}
