#pragma once
// Splits a live WebM byte stream, as a streaming Matroska muxer writes it,
// into the part every viewer needs first (EBML header, Segment start, Info,
// Tracks) and the pieces that follow: the start of each Cluster up to its
// first video block, then every further element of the cluster on its own.
// A viewer joining late gets the header, then the stream from a cluster whose
// first video block is a keyframe; bytes from the middle of a cluster do not
// play.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class WebmSplitter {
  public:
    using Bytes = std::vector<uint8_t>;
    // The stream's header and its codecs as a media type's codecs parameter
    // ("vp8, vorbis").
    std::function<void(Bytes header, std::string codecs)> OnHeader;
    // The next piece after the header. clusterStart: it begins a cluster;
    // joinable: a new viewer may begin with it (its first video block is a
    // keyframe, or the stream has no video).
    std::function<void(Bytes piece, bool clusterStart, bool joinable)> OnPiece;

    // Accepts any slicing of the stream. Returns false once the stream is
    // found malformed; everything after that is ignored until Reset or a new
    // EBML header at an element boundary.
    bool Feed(const uint8_t* data, size_t len);
    bool Failed() const { return failed_; }
    void Reset();

  private:
    enum class State { Ebml, Segment, Top };
    bool Step();
    void ParseTracks(const uint8_t* data, size_t len);
    void FlushHead(bool joinable);

    Bytes pending_;
    size_t pos_ = 0; // bytes of pending_ already handled
    State state_ = State::Ebml;
    bool failed_ = false;
    Bytes header_;
    std::string codecs_;
    uint64_t videoTrack_ = 0; // 0: the stream has no video
    bool inCluster_ = false;
    bool headOpen_ = false; // head_ waits for the cluster's first video block
    Bytes head_;
};
