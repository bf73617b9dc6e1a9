#include "platform/stream/StreamFraming.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>

namespace {

// A viewer on one end of a socket pair; the other end is read until the
// viewer's side shuts down.
struct Pair {
    int peer = -1;
    std::unique_ptr<StreamViewer> viewer;
    std::string received;
    std::thread reader;
    explicit Pair(StreamViewerKind kind) {
        int s[2];
        EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, s));
        viewer = std::make_unique<StreamViewer>(OwnedFd(s[0]), 1, kind, "peer");
        peer = s[1];
        reader = std::thread([this] {
            char buf[65536];
            for (ssize_t n; (n = ::recv(peer, buf, sizeof buf, 0)) > 0;)
                received.append(buf, size_t(n));
        });
    }
    ~Pair() {
        if (reader.joinable()) Finish();
        ::close(peer);
    }
    std::string Finish() {
        viewer->socket.Shutdown();
        reader.join();
        return received;
    }
};

unsigned U16(const std::string& s, size_t at) {
    return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8;
}

} // namespace

TEST(StreamFraming, PlayersGetSplitHeaderChunksCountedDataAndAnEnd) {
    Pair pair(StreamViewerKind::Play);
    auto framing = MakeStreamFraming(StreamViewerKind::Play);
    // A header too big for one chunk goes out in two, both with sequence 0.
    const StreamFraming::Bytes header(AsfChunkFraming::kMaxPayload + 100, 0x11);
    ASSERT_TRUE(framing->Header(*pair.viewer, header));
    ASSERT_TRUE(framing->Packet(*pair.viewer, StreamFraming::Bytes(32, 0x22)));
    EXPECT_FALSE(framing->Packet(*pair.viewer, header)); // no chunk can hold it
    ASSERT_TRUE(framing->End(*pair.viewer));
    const std::string got = pair.Finish();
    ASSERT_EQ(12 + AsfChunkFraming::kMaxPayload + 12 + 100 + 12 + 32 + 12, got.size());
    size_t at = 0;
    auto chunk = [&](const char* type, size_t payload, unsigned seq) {
        SCOPED_TRACE(type);
        EXPECT_EQ(type, got.substr(at, 2));
        EXPECT_EQ(payload + 8, U16(got, at + 2));
        EXPECT_EQ(seq, U16(got, at + 4) | U16(got, at + 6) << 16);
        EXPECT_EQ(0u, U16(got, at + 8));
        EXPECT_EQ(payload + 8, U16(got, at + 10));
        at += 12 + payload;
    };
    chunk("$H", AsfChunkFraming::kMaxPayload, 0);
    chunk("$H", 100, 0);
    EXPECT_EQ(std::string(32, '\x22'), got.substr(at + 12, 32));
    chunk("$D", 32, 1);
    chunk("$E", 0, 2);
    EXPECT_EQ(got.size(), pair.viewer->bytesSent.load());
}

TEST(StreamFraming, PlainAndBrowserStreamsGoOutAsTheyAre) {
    for (StreamViewerKind kind : {StreamViewerKind::Plain, StreamViewerKind::Webm}) {
        Pair pair(kind);
        auto framing = MakeStreamFraming(kind);
        ASSERT_TRUE(framing->Header(*pair.viewer, StreamFraming::Bytes(5, 'h')));
        ASSERT_TRUE(framing->Packet(*pair.viewer, StreamFraming::Bytes(3, 'p')));
        ASSERT_TRUE(framing->End(*pair.viewer));
        EXPECT_EQ("hhhhhppp", pair.Finish());
    }
}
