#include "platform/stream/WebmSplitter.h"

namespace {

constexpr uint32_t kEbml = 0x1A45DFA3;
constexpr uint32_t kSegment = 0x18538067;
constexpr uint32_t kCluster = 0x1F43B675;
constexpr uint32_t kTracks = 0x1654AE6B;
constexpr uint32_t kTrackEntry = 0xAE;
constexpr uint32_t kTrackNumber = 0xD7;
constexpr uint32_t kTrackType = 0x83;
constexpr uint32_t kCodecId = 0x86;
constexpr uint32_t kSimpleBlock = 0xA3;
constexpr uint32_t kBlockGroup = 0xA0;
constexpr uint32_t kBlock = 0xA1;
constexpr uint32_t kReferenceBlock = 0xFB;
// Level-1 elements of a Segment: where one appears, an open-ended cluster ends.
constexpr uint32_t kTopLevel[] = {0x114D9B74, 0x1549A966, kTracks,    kCluster,
                                  0x1C53BB6B, 0x1941A469, 0x1043A770, 0x1254C367};
constexpr uint64_t kUnknownSize = ~uint64_t(0);
// No element of a live stream comes near this; a larger one means garbage.
constexpr uint64_t kMaxElement = 16 * 1024 * 1024;

// An element ID (marker bits kept): its length, or 0 when incomplete or invalid.
size_t ReadId(const uint8_t* p, size_t len, uint32_t& id) {
    if (len == 0) return 0;
    size_t n = p[0] >= 0x80 ? 1 : p[0] >= 0x40 ? 2 : p[0] >= 0x20 ? 3 : p[0] >= 0x10 ? 4 : 0;
    if (n == 0 || len < n) return 0;
    id = 0;
    for (size_t i = 0; i < n; ++i)
        id = (id << 8) | p[i];
    return n;
}

// A variable-length number (marker removed); kUnknownSize when all value bits
// are set. Its length, or 0 when incomplete or invalid.
size_t ReadVint(const uint8_t* p, size_t len, uint64_t& value) {
    if (len == 0 || p[0] == 0) return 0;
    size_t n = 1;
    while (!(p[0] & (0x80 >> (n - 1))))
        ++n;
    if (len < n) return 0;
    value = p[0] & (0xFF >> n);
    bool allOnes = value == (0xFFu >> n);
    for (size_t i = 1; i < n; ++i) {
        value = (value << 8) | p[i];
        allOnes = allOnes && p[i] == 0xFF;
    }
    if (allOnes) value = kUnknownSize;
    return n;
}

bool IsTopLevel(uint32_t id) {
    for (uint32_t t : kTopLevel)
        if (t == id) return true;
    return false;
}

uint64_t ReadUint(const uint8_t* p, size_t len) {
    uint64_t v = 0;
    for (size_t i = 0; i < len && i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Visits the children of a master element's payload.
template <class F> void ForEachChild(const uint8_t* p, size_t len, F&& visit) {
    size_t at = 0;
    while (at < len) {
        uint32_t id;
        uint64_t size;
        size_t a = ReadId(p + at, len - at, id);
        size_t b = a ? ReadVint(p + at + a, len - at - a, size) : 0;
        if (!b || size == kUnknownSize || size > len - at - a - b) return;
        visit(id, p + at + a + b, size_t(size));
        at += a + b + size_t(size);
    }
}

std::string CodecName(const std::string& id) {
    if (id == "V_VP8") return "vp8";
    if (id == "V_VP9") return "vp9";
    if (id == "A_VORBIS") return "vorbis";
    if (id == "A_OPUS") return "opus";
    return "";
}

// Track number and keyframe flag of a SimpleBlock or BlockGroup payload.
bool BlockInfo(uint32_t id, const uint8_t* p, size_t len, uint64_t& track, bool& key) {
    if (id == kSimpleBlock) {
        size_t n = ReadVint(p, len, track);
        if (!n || len < n + 3) return false;
        key = (p[n + 2] & 0x80) != 0;
        return true;
    }
    bool found = false;
    key = true;
    ForEachChild(p, len, [&](uint32_t child, const uint8_t* c, size_t clen) {
        if (child == kBlock) found = ReadVint(c, clen, track) != 0;
        if (child == kReferenceBlock) key = false;
    });
    return found;
}

} // namespace

void WebmSplitter::Reset() {
    pending_.clear();
    pos_ = 0;
    state_ = State::Ebml;
    failed_ = false;
    header_.clear();
    codecs_.clear();
    videoTrack_ = 0;
    inCluster_ = false;
    headOpen_ = false;
    head_.clear();
}

bool WebmSplitter::Feed(const uint8_t* data, size_t len) {
    pending_.insert(pending_.end(), data, data + len);
    while (Step()) {
    }
    // Keep only what is not handled yet.
    if (pos_ > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(pos_));
        pos_ = 0;
    }
    return !failed_;
}

void WebmSplitter::FlushHead(bool joinable) {
    if (!headOpen_) return;
    headOpen_ = false;
    if (OnPiece) OnPiece(std::move(head_), true, joinable);
    head_.clear();
}

// Handles one element (or a master element's start); false when more bytes
// are needed or the stream is broken.
bool WebmSplitter::Step() {
    if (failed_) {
        // Nothing after a broken piece can be trusted until the stream starts over.
        pending_.clear();
        pos_ = 0;
        return false;
    }
    const uint8_t* p = pending_.data() + pos_;
    const size_t len = pending_.size() - pos_;
    uint32_t id;
    uint64_t size;
    size_t a = ReadId(p, len, id);
    size_t b = a ? ReadVint(p + a, len - a, size) : 0;
    if (!b) {
        // Garbage where an element should begin, rather than a short read.
        failed_ = (len >= 1 && !a && p[0] < 0x10) || (a && len > a && p[a] == 0);
        return false;
    }
    if (id == kEbml && state_ != State::Ebml) {
        // The muxer started over: a new header follows.
        FlushHead(videoTrack_ == 0);
        Bytes rest(pending_.begin() + std::ptrdiff_t(pos_), pending_.end());
        Reset();
        pending_ = std::move(rest);
        return true;
    }
    const size_t head = a + b;
    const bool openEnded = size == kUnknownSize;
    if (id == kSegment || id == kCluster) {
        // Master elements whose children are handled one by one.
        if (state_ != (id == kSegment ? State::Segment : State::Top)) {
            failed_ = true;
            return false;
        }
        if (id == kSegment) {
            header_.insert(header_.end(), p, p + head);
            state_ = State::Top;
        } else {
            if (!header_.empty()) {
                if (OnHeader) OnHeader(std::move(header_), codecs_);
                header_.clear();
            }
            FlushHead(videoTrack_ == 0);
            inCluster_ = true;
            headOpen_ = true;
            head_.assign(p, p + head);
        }
        pos_ += head;
        return true;
    }
    if (openEnded || size > kMaxElement) {
        failed_ = true;
        return false;
    }
    if (len - head < size) return false; // the rest of the element is still to come
    const uint8_t* body = p + head;
    const size_t total = head + size_t(size);
    switch (state_) {
    case State::Ebml:
        if (id != kEbml) {
            failed_ = true;
            return false;
        }
        header_.assign(p, p + total);
        state_ = State::Segment;
        break;
    case State::Segment:
        failed_ = true;
        return false;
    case State::Top:
        if (!inCluster_) {
            if (id == kTracks) ParseTracks(body, size_t(size));
            header_.insert(header_.end(), p, p + total);
            break;
        }
        if (IsTopLevel(id)) FlushHead(videoTrack_ == 0);
        if (headOpen_) {
            head_.insert(head_.end(), p, p + total);
            uint64_t track;
            bool key;
            if ((id == kSimpleBlock || id == kBlockGroup) &&
                BlockInfo(id, body, size_t(size), track, key) &&
                (videoTrack_ == 0 || track == videoTrack_))
                FlushHead(key);
        } else if (OnPiece) {
            OnPiece(Bytes(p, p + total), false, false);
        }
        break;
    }
    pos_ += total;
    return true;
}

void WebmSplitter::ParseTracks(const uint8_t* data, size_t len) {
    codecs_.clear();
    videoTrack_ = 0;
    ForEachChild(data, len, [&](uint32_t id, const uint8_t* entry, size_t elen) {
        if (id != kTrackEntry) return;
        uint64_t number = 0, type = 0;
        std::string codec;
        ForEachChild(entry, elen, [&](uint32_t child, const uint8_t* c, size_t clen) {
            if (child == kTrackNumber) number = ReadUint(c, clen);
            if (child == kTrackType) type = ReadUint(c, clen);
            if (child == kCodecId) codec.assign(reinterpret_cast<const char*>(c), clen);
        });
        while (!codec.empty() && codec.back() == '\0')
            codec.pop_back();
        if (type == 1 && videoTrack_ == 0) videoTrack_ = number;
        const std::string name = CodecName(codec);
        if (!name.empty()) codecs_ += (codecs_.empty() ? "" : ", ") + name;
    });
}
