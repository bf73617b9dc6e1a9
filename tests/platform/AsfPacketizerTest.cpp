#include "platform/AsfPacketizer.h"
#include "support/AsfTestStream.h"

#include <gtest/gtest.h>

#include <random>

using namespace asftest;

TEST(AsfPacketizer, SplitsAnySlicingIntoHeaderAndPackets) {
    Bytes stream = MakeHeader(100);
    const size_t headerSize = stream.size();
    for (int i = 0; i < 5; ++i) {
        Bytes p = MakePacket(100, uint8_t(i));
        stream.insert(stream.end(), p.begin(), p.end());
    }
    stream.resize(stream.size() + 40, 9); // half a packet: held back
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        AsfPacketizer pk;
        Bytes header;
        std::vector<Bytes> packets;
        pk.OnHeader = [&](Bytes h, uint32_t size) {
            header = std::move(h);
            EXPECT_EQ(size, 100u);
        };
        pk.OnPacket = [&](Bytes p) { packets.push_back(std::move(p)); };
        size_t off = 0;
        while (off < stream.size()) {
            size_t n = std::min<size_t>(stream.size() - off, 1 + rng() % 97);
            ASSERT_TRUE(pk.Feed(stream.data() + off, n));
            off += n;
        }
        ASSERT_EQ(header.size(), headerSize);
        ASSERT_EQ(packets.size(), 5u);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(packets[i], MakePacket(100, uint8_t(i)));
    }
}

TEST(AsfPacketizer, RefusesWhatIsNotALiveAsfStream) {
    auto rejects = [](Bytes b) {
        AsfPacketizer pk;
        bool got = false;
        pk.OnHeader = [&](Bytes, uint32_t) { got = true; };
        pk.Feed(b.data(), b.size());
        return pk.Failed() && !got;
    };
    EXPECT_TRUE(rejects(Bytes(200, 0x41)));
    EXPECT_TRUE(rejects(MakeHeader(100, 0, 50))); // variable packet size
    Bytes huge = MakeHeader(100);
    huge[16 + 7] = 0x7F; // header size beyond any real one
    EXPECT_TRUE(rejects(huge));
    Bytes liar = MakeHeader(100);
    liar[30 + 16] = 0xFF; // sub-object longer than its header
    EXPECT_TRUE(rejects(liar));
}

TEST(AsfPacketizer, StopsAtTheEndOfABoundedDataObject) {
    Bytes stream = MakeHeader(10, 50 + 2 * 10);
    stream.resize(stream.size() + 2 * 10 + 64, 3); // two packets, then an index
    AsfPacketizer pk;
    int packets = 0;
    pk.OnPacket = [&](Bytes) { ++packets; };
    pk.Feed(stream.data(), stream.size());
    EXPECT_EQ(packets, 2);
}

// The last packet asfmux writes: length field 216, padding 584 in an 800-byte
// packet. Readers want the whole packet's length there; full packets,
// inconsistent fields and other layouts are left alone.
TEST(AsfPacketizer, APaddedPacketAnnouncesItsWholeLength) {
    const Bytes head = {0x51, 0x5d, 0xd8, 0x00, 0x48, 0x02, 0x93, 0x07, 0, 0, 0, 0, 0x82};
    Bytes padded(800, 0x4e);
    std::copy(head.begin(), head.end(), padded.begin());
    ASSERT_TRUE(AsfPacketizer::CompletePacketLength(padded.data(), padded.size()));
    EXPECT_EQ(padded[2] | padded[3] << 8, 800);
    EXPECT_EQ(padded[4] | padded[5] << 8, 584); // the padding stays
    EXPECT_TRUE(std::equal(head.begin() + 6, head.end(), padded.begin() + 6));
    EXPECT_FALSE(AsfPacketizer::CompletePacketLength(padded.data(), padded.size())); // once

    Bytes withCorrection(803, 0);
    withCorrection[0] = 0x82; // two bytes of error correction data
    std::copy(head.begin(), head.end(), withCorrection.begin() + 3);
    withCorrection[5] = 0xdb; // 219 + 584 = 803
    ASSERT_TRUE(AsfPacketizer::CompletePacketLength(withCorrection.data(), 803));
    EXPECT_EQ(withCorrection[5] | withCorrection[6] << 8, 803);

    Bytes full(800, 0);
    full[0] = 0x51, full[2] = 0x20, full[3] = 0x03; // length 800, padding 0
    EXPECT_FALSE(AsfPacketizer::CompletePacketLength(full.data(), full.size()));
    Bytes odd = padded;
    odd[2] = 0x10; // length + padding is not the size: not asfmux's layout
    EXPECT_FALSE(AsfPacketizer::CompletePacketLength(odd.data(), odd.size()));
    EXPECT_FALSE(AsfPacketizer::CompletePacketLength(padded.data(), 4)); // too short
}
