#pragma once
// Builders of media type records as a capture pin would offer them.
#include "media/MediaType.h"

#include <cstring>
#include <vector>

// A record over a block owned by the caller (for describing without copying).
inline AM_MEDIA_TYPE RecordOver(const GUID& major, const GUID& sub, const GUID& format,
                                std::vector<uint8_t>& block) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = major;
    mt.subtype = sub;
    mt.formattype = format;
    mt.cbFormat = static_cast<ULONG>(block.size());
    mt.pbFormat = block.empty() ? nullptr : block.data();
    return mt;
}

inline std::vector<uint8_t> BitmapBlock(size_t offset, DWORD compression, LONG w, LONG h,
                                        WORD bits) {
    std::vector<uint8_t> block(offset + sizeof(BITMAPINFOHEADER), 0);
    BITMAPINFOHEADER bmi{};
    bmi.biSize = sizeof bmi;
    bmi.biWidth = w;
    bmi.biHeight = h;
    bmi.biPlanes = 1;
    bmi.biBitCount = bits;
    bmi.biCompression = compression;
    std::memcpy(block.data() + offset, &bmi, sizeof bmi);
    return block;
}

inline std::vector<uint8_t> WaveBlock(WORD tag, DWORD rate, WORD bits, WORD channels) {
    WAVEFORMATEX wf{};
    wf.wFormatTag = tag;
    wf.nChannels = channels;
    wf.nSamplesPerSec = rate;
    wf.wBitsPerSample = bits;
    wf.nBlockAlign = static_cast<WORD>(bits / 8 * channels);
    wf.nAvgBytesPerSec = rate * wf.nBlockAlign;
    std::vector<uint8_t> block(sizeof wf);
    std::memcpy(block.data(), &wf, sizeof wf);
    return block;
}

inline TMediaType VideoType(const GUID& sub, DWORD compression, LONG w, LONG h, WORD bits) {
    auto block = BitmapBlock(kVideoInfoBitmapOffset, compression, w, h, bits);
    return TMediaType(RecordOver(MEDIATYPE_Video, sub, FORMAT_VideoInfo, block));
}

inline TMediaType AudioType(DWORD rate, WORD bits, WORD channels) {
    auto block = WaveBlock(WAVE_FORMAT_PCM, rate, bits, channels);
    return TMediaType(RecordOver(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, block));
}
