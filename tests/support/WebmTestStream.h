#pragma once
// Hand-made WebM streams, shaped as a streaming muxer writes them (open-ended
// Segment and Clusters), for the splitter and stream server tests.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace webmtest {

using Bytes = std::vector<uint8_t>;

inline void Id(Bytes& b, uint32_t id) {
    for (int shift = 24; shift >= 0; shift -= 8)
        if (id >> shift || shift == 0) b.push_back(uint8_t(id >> shift));
}
// An element with a known size (one-byte size field up to 126, else eight bytes).
inline Bytes Element(uint32_t id, const Bytes& body) {
    Bytes b;
    Id(b, id);
    if (body.size() < 127) {
        b.push_back(uint8_t(0x80 | body.size()));
    } else {
        b.push_back(0x01);
        for (int shift = 48; shift >= 0; shift -= 8)
            b.push_back(uint8_t(body.size() >> shift));
    }
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const auto& p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}
inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
inline Bytes Open(uint32_t id) {
    Bytes b;
    Id(b, id);
    b.insert(b.end(), {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    return b;
}

inline Bytes Track(uint8_t number, uint8_t type, const std::string& codec) {
    return Element(
        0xAE, Cat({Element(0xD7, {number}), Element(0x83, {type}), Element(0x86, Text(codec))}));
}
// EBML header, Segment start, Info, Tracks: video track 1 (VP8), and audio
// track 2 (Vorbis) when asked for.
inline Bytes Header(bool audio = true) {
    Bytes tracks = Track(1, 1, "V_VP8");
    if (audio) tracks = Cat({tracks, Track(2, 2, "A_VORBIS")});
    return Cat({Element(0x1A45DFA3, Element(0x4282, Text("webm"))), Open(0x18538067),
                Element(0x1549A966, Element(0x2AD7B1, {0x0F, 0x42, 0x40})),
                Element(0x1654AE6B, tracks)});
}
// A SimpleBlock of a track, keyframe or not, with size bytes of payload.
inline Bytes Block(uint8_t track, bool key, size_t size = 20, uint8_t fill = 0x55) {
    Bytes body{uint8_t(0x80 | track), 0x00, 0x00, uint8_t(key ? 0x80 : 0x00)};
    body.insert(body.end(), size, fill);
    return Element(0xA3, body);
}
// A cluster start: open-ended Cluster and its Timecode.
inline Bytes ClusterStart(uint8_t timecode) {
    return Cat({Open(0x1F43B675), Element(0xE7, {timecode})});
}

} // namespace webmtest
