#include "platform/stream/WebmSplitter.h"
#include "support/WebmTestStream.h"

#include <gtest/gtest.h>

using namespace webmtest;

namespace {

struct TSplit {
    WebmSplitter splitter;
    Bytes header;
    std::string codecs;
    int headers = 0;
    struct TPiece {
        Bytes bytes;
        bool start, joinable;
    };
    std::vector<TPiece> pieces;
    TSplit() {
        splitter.OnHeader = [this](Bytes h, std::string c) {
            header = std::move(h);
            codecs = std::move(c);
            ++headers;
        };
        splitter.OnPiece = [this](Bytes p, bool start, bool joinable) {
            pieces.push_back({std::move(p), start, joinable});
        };
    }
    void Feed(const Bytes& b, size_t step) {
        for (size_t i = 0; i < b.size(); i += step)
            splitter.Feed(b.data() + i, std::min(step, b.size() - i));
    }
};

} // namespace

TEST(WebmSplitter, HeaderAndPiecesRebuildTheStreamAndMarkWhereAViewerMayBegin) {
    // Cluster 1 begins with an audio block, then a video keyframe; cluster 2
    // begins with a video delta frame; cluster 3 with a keyframe.
    const Bytes head = Header();
    const Bytes c1 = Cat({ClusterStart(0), Block(2, true), Block(1, true, 300)});
    const Bytes c1more = Block(1, false);
    const Bytes c2 = Cat({ClusterStart(1), Block(1, false)});
    const Bytes c3 = Cat({ClusterStart(2), Block(1, true)});
    const Bytes stream = Cat({head, c1, c1more, Block(2, true), c2, c3});
    for (size_t step : {size_t(1), size_t(7), stream.size()}) {
        TSplit s;
        s.Feed(stream, step);
        ASSERT_FALSE(s.splitter.Failed()) << step;
        EXPECT_EQ(1, s.headers);
        EXPECT_EQ(head, s.header);
        EXPECT_EQ("vp8, vorbis", s.codecs);
        Bytes rebuilt = s.header;
        for (auto& p : s.pieces)
            rebuilt.insert(rebuilt.end(), p.bytes.begin(), p.bytes.end());
        // The last cluster's head is complete: everything has come out.
        EXPECT_EQ(stream, rebuilt) << step;
        ASSERT_EQ(5u, s.pieces.size());
        EXPECT_EQ(c1, s.pieces[0].bytes);
        EXPECT_TRUE(s.pieces[0].start && s.pieces[0].joinable);
        EXPECT_FALSE(s.pieces[1].start);
        EXPECT_TRUE(s.pieces[3].start);
        EXPECT_FALSE(s.pieces[3].joinable);
        EXPECT_TRUE(s.pieces[4].start && s.pieces[4].joinable);
    }
}

TEST(WebmSplitter, GarbageFailsUntilResetAndANewHeaderStartsOver) {
    TSplit s;
    s.Feed(Cat({Header(false), ClusterStart(0), Block(1, true)}), 5);
    EXPECT_EQ("vp8", s.codecs);
    // The muxer started over: a new header where an element begins.
    s.Feed(Cat({Header(false), ClusterStart(9), Block(1, true)}), 3);
    EXPECT_EQ(2, s.headers);
    EXPECT_EQ(2u, s.pieces.size());

    s.Feed(Bytes{0x00, 0x01, 0x02, 0x03}, 4);
    EXPECT_TRUE(s.splitter.Failed());
    s.Feed(Cat({ClusterStart(3), Block(1, true)}), 64);
    EXPECT_EQ(2u, s.pieces.size()); // ignored
    s.splitter.Reset();
    s.Feed(Cat({Header(), ClusterStart(0), Block(1, true)}), 64);
    EXPECT_FALSE(s.splitter.Failed());
    EXPECT_EQ(3, s.headers);
    EXPECT_EQ(3u, s.pieces.size());

    TSplit notWebm;
    notWebm.Feed(Cat({ClusterStart(0), Block(1, true)}), 64); // no EBML header first
    EXPECT_TRUE(notWebm.splitter.Failed());
    EXPECT_EQ(0, notWebm.headers);
}
