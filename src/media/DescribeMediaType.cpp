#include "media/DescribeMediaType.h"

#include "common/Text.h"

#include <cstring>

namespace {

struct TGuidName {
    GUID guid;
    const char* name;
};

constexpr GUID Fcc(const char (&s)[5]) {
    return FourCCGuid(MakeFourCC(s[0], s[1], s[2], s[3]));
}
constexpr GUID E436(BYTE xx) {
    return GUID{0xE436EB00u | xx, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
}
constexpr GUID Analog(BYTE xx) {
    return GUID{0x0482DD00u | xx, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
}
constexpr GUID Mpeg2(BYTE xx) {
    return GUID{0xE06D8000u | xx, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
}
constexpr GUID Line21(DWORD d1) {
    return GUID{d1, 0x310C, 0x11D0, {0xB7, 0x9A, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}};
}
constexpr GUID Dss(DWORD d1) {
    return GUID{d1, 0xE163, 0x11D0, {0xBA, 0xD9, 0x00, 0x60, 0x97, 0x44, 0x11, 0x1A}};
}
constexpr GUID Vp(DWORD d1) {
    return GUID{d1, 0x1A22, 0x11D1, {0xBA, 0xD9, 0x00, 0x60, 0x97, 0x44, 0x11, 0x1A}};
}

const TGuidName kMajorTypes[] = {
    {MEDIATYPE_AnalogAudio, "AnalogAudio"},
    {MEDIATYPE_AnalogVideo, "Analogvideo"},
    {Fcc("auds"), "Audio"},
    {GUID{0x670AEA80, 0x3A82, 0x11D0, {0xB7, 0x9B, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}},
     "AUXLine21Data"},
    {Fcc("file"), "File"},
    {Fcc("iavs"), "Interleaved"},
    {Fcc("mlrt"), "LMRT"},
    {Fcc("mids"), "Midi"},
    {Mpeg2(0x20), "MPEG2_PES"},
    {Fcc("dmcs"), "ScriptCommand"},
    {MEDIATYPE_Stream, "Stream"},
    {Fcc("txts"), "Text"},
    {GUID{0x0482DEE3, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}},
     "Timecode"},
    {Fcc("urls"), "URL_STREAM"},
    {Fcc("vids"), "Video"},
};

const TGuidName kSubTypes[] = {
    // FOURCC subtypes named by their code.
    {Fcc("CLPL"), "CLPL"},
    {Fcc("YUYV"), "YUYV"},
    {Fcc("IYUV"), "IYUV"},
    {Fcc("YVU9"), "YVU9"},
    {Fcc("Y411"), "Y411"},
    {Fcc("Y41P"), "Y41P"},
    {Fcc("YUY2"), "YUY2"},
    {Fcc("YVYU"), "YVYU"},
    {Fcc("UYVY"), "UYVY"},
    {Fcc("Y211"), "Y211"},
    {Fcc("YV12"), "YV12"},
    {Fcc("CLJR"), "CLJR"},
    {Fcc("IF09"), "IF09"},
    {Fcc("CPLA"), "CPLA"},
    {Fcc("MJPG"), "MJPG"},
    {Fcc("TVMJ"), "TVMJ"},
    {Fcc("WAKE"), "WAKE"},
    {Fcc("CFCC"), "CFCC"},
    {Fcc("IJPG"), "IJPG"},
    {Fcc("Plum"), "Plum"},
    {Fcc("DVCS"), "DVCS"},
    {Fcc("DVSD"), "DVSD"},
    {Fcc("MDVF"), "MDVF"},
    {Fcc("DIVX"), "DIVX"},
    {Fcc("dvhd"), "dvhd"},
    {Fcc("dvsl"), "dvsl"},
    // Other FOURCC subtypes.
    {Fcc("rpza"), "QTRpza"},
    {Fcc("smc "), "QTSmc"},
    {Fcc("rle "), "QTRle"},
    {Fcc("jpeg"), "QTJpeg"},
    {Fcc("dvsd"), "dvsd_"},
    {Fcc("MP42"), "MS-MPEG4"},
    // Wave format tags.
    {FourCCGuid(0x0001), "PCM"},
    {FourCCGuid(0x0003), "IEEE_FLOAT"},
    {FourCCGuid(0x0009), "DRM_Audio"},
    {FourCCGuid(0x0050), "MPEG1AudioPayload"},
    {FourCCGuid(0x0075), "VOXWARE_MetaSound"},
    {FourCCGuid(0x0092), "DOLBY_AC3_SPDIF"},
    {FourCCGuid(0x0240), "RAW_SPORT"},
    {FourCCGuid(0x0241), "SPDIF_TAG_241h"},
    // {E436EBxx-524F-11CE-9F53-0020AF0BA770}
    {E436(0x78), "RGB1"},
    {E436(0x79), "RGB4"},
    {E436(0x7A), "RGB8"},
    {E436(0x7B), "RGB565"},
    {E436(0x7C), "RGB555"},
    {E436(0x7D), "RGB24"},
    {E436(0x7E), "RGB32"},
    {E436(0x7F), "Overlay"},
    {E436(0x80), "MPEG1Packet"},
    {E436(0x81), "MPEG1Payload"},
    {E436(0x84), "MPEG1System"},
    {E436(0x85), "MPEG1VideoCD"},
    {E436(0x86), "MPEG1Video"},
    {E436(0x87), "MPEG1Audio"},
    {E436(0x88), "Avi"},
    {E436(0x89), "QTMovie"},
    {E436(0x8A), "PCMAudio_Obsolete"},
    {E436(0x8B), "WAVE"},
    {E436(0x8C), "AU"},
    {E436(0x8D), "AIFF"},
    // {0482DDxx-7817-11CF-8A03-00AA006ECB65}
    {Analog(0xE2), "AnalogVideo_NTSC_M"},
    {Analog(0xE5), "AnalogVideo_PAL_B"},
    {Analog(0xE6), "AnalogVideo_PAL_D"},
    {Analog(0xE7), "AnalogVideo_PAL_G"},
    {Analog(0xE8), "AnalogVideo_PAL_H"},
    {Analog(0xE9), "AnalogVideo_PAL_I"},
    {Analog(0xEA), "AnalogVideo_PAL_M"},
    {Analog(0xEB), "AnalogVideo_PAL_N"},
    {Analog(0xEC), "AnalogVideo_PAL_N_COMBO"},
    {Analog(0xF0), "AnalogVideo_SECAM_B"},
    {Analog(0xF1), "AnalogVideo_SECAM_D"},
    {Analog(0xF2), "AnalogVideo_SECAM_G"},
    {Analog(0xF3), "AnalogVideo_SECAM_H"},
    {Analog(0xF4), "AnalogVideo_SECAM_K"},
    {Analog(0xF5), "AnalogVideo_SECAM_K1"},
    {Analog(0xF6), "AnalogVideo_SECAM_L"},
    // {E06D80xx-DB46-11CF-B4D1-00805F6CBBEA}
    {Mpeg2(0x22), "MPEG2_PROGRAM"},
    {Mpeg2(0x23), "MPEG2_TRANSPORT"},
    {Mpeg2(0x26), "MPEG2_VIDEO"},
    {Mpeg2(0x2B), "MPEG2_AUDIO"},
    {Mpeg2(0x2C), "DOLBY_AC3"},
    {Mpeg2(0x2D), "DVD_SUBPICTURE"},
    {Mpeg2(0x2F), "PCI"},
    {Mpeg2(0x30), "DSI"},
    {Mpeg2(0x31), "PROVIDER"},
    {Mpeg2(0x32), "DVD_LPCM_AUDIO"},
    {Mpeg2(0x33), "DTS"},
    {Mpeg2(0x34), "SDDS"},
    // Single GUIDs.
    {MEDIASUBTYPE_ARGB32, "ARGB32"},
    {MEDIASUBTYPE_Asf, "Asf"},
    {Line21(0x6E8D4A22), "Line21_BytePair"},
    {Line21(0x6E8D4A23), "Line21_GOPPacket"},
    {Line21(0x6E8D4A24), "Line21_VBIRawData"},
    {Dss(0xA0AF4F81), "DssVideo"},
    {Dss(0xA0AF4F82), "DssAudio"},
    {Vp(0x5A9B6A40), "VPVideo"},
    {Vp(0x5A9B6A41), "VPVBI"},
};

struct TTagName {
    WORD tag;
    const char* name;
};

const TTagName kWaveTags[] = {
    {1, "PCM"},
    {2, "ADPCM"},
    {3, "IEEE_FLOAT"},
    {5, "IBM_CVSD"},
    {6, "ALAW"},
    {7, "MULAW"},
    {16, "OKI_ADPCM"},
    {17, "DVI_ADPCM"},
    {18, "MEDIASPACE_ADPCM"},
    {19, "SIERRA_ADPCM"},
    {20, "G723_ADPCM"},
    {21, "DIGISTD"},
    {22, "DIGIFIX"},
    {23, "DIALOGIC_OKI_ADPCM"},
    {24, "MEDIAVISION_ADPCM"},
    {32, "YAMAHA_ADPCM"},
    {33, "SONARC"},
    {34, "DSPGROUP_TRUESPEECH"},
    {35, "ECHOSC1"},
    {36, "AUDIOFILE_AF36"},
    {37, "APTX"},
    {38, "AUDIOFILE_AF10"},
    {48, "DOLBY_AC2"},
    {49, "GSM610"},
    {50, "MSNAUDIO"},
    {51, "ANTEX_ADPCME"},
    {52, "CONTROL_RES_VQLPC"},
    {53, "DIGIREAL"},
    {54, "DIGIADPCM"},
    {55, "CONTROL_RES_CR10"},
    {56, "NMS_VBXADPCM"},
    {57, "CS_IMAADPCM"},
    {58, "ECHOSC3"},
    {59, "ROCKWELL_ADPCM"},
    {60, "ROCKWELL_DIGITALK"},
    {61, "XEBEC"},
    {64, "G721_ADPCM"},
    {65, "G728_CELP"},
    {80, "MPEG"},
    {85, "MPEGLAYER3"},
    {96, "CIRRUS"},
    {97, "ESPCM"},
    {98, "VOXWARE"},
    {99, "CANOPUS_ATRAC"},
    {100, "G726_ADPCM"},
    {101, "G722_ADPCM"},
    {102, "DSAT"},
    {103, "DSAT_DISPLAY"},
    {117, "VOXWARE"},
    {128, "SOFTSOUND"},
    {256, "RHETOREX_ADPCM"},
    {512, "CREATIVE_ADPCM"},
    {514, "CREATIVE_FASTSPEECH8"},
    {515, "CREATIVE_FASTSPEECH10"},
    {544, "QUARTERDECK"},
    {768, "FM_TOWNS_SND"},
    {1024, "BTV_DIGITAL"},
    {4096, "OLIGSM"},
    {4097, "OLIADPCM"},
    {4098, "OLICELP"},
    {4099, "OLISBC"},
    {4100, "OLIOPR"},
    {4352, "LH_CODEC"},
    {5120, "NORRIS"},
};

template <size_t N> const char* Lookup(const TGuidName (&table)[N], const GUID& g) {
    for (const auto& e : table)
        if (e.guid == g) return e.name;
    return nullptr;
}

// Format types whose block holds a bitmap header, and where.
struct TVideoFormat {
    GUID formatType;
    const char* text;
    size_t bitmapOffset;
};
const TVideoFormat kVideoFormats[] = {
    {FORMAT_VideoInfo, "VideoInfo ", kVideoInfoBitmapOffset},
    {FORMAT_VideoInfo2, "VideoInfo2 ", kVideoInfo2BitmapOffset},
    {FORMAT_MPEGVideo, "MPEGVideo ", kVideoInfoBitmapOffset},
    {FORMAT_MPEG2Video, "MPEGStreams ", kVideoInfo2BitmapOffset},
};
const TGuidName kPlainFormats[] = {
    {FORMAT_DvInfo, "DvInfo"},
    {FORMAT_MPEGStreams, "MPEGStreams"},
    {FORMAT_DolbyAC3, "DolbyAC3"},
    {FORMAT_MPEG2Audio, "MPEG2Audio"},
    {FORMAT_DVD_LPCMAudio, "DVD_LPCMAudio"},
};

bool HasBlock(const AM_MEDIA_TYPE& mt) {
    return mt.cbFormat > 0 && mt.pbFormat != nullptr;
}

// ", 7.5 fps": the frame rate of the record's frame time (every video
// format block begins with the same fields up to it), at most two decimals.
std::string RateDetails(const AM_MEDIA_TYPE& mt) {
    constexpr size_t kAt = 40; // after two rectangles, the bit rate and the error rate
    int64_t avg = 0;
    if (mt.cbFormat < kAt + sizeof avg) return {};
    std::memcpy(&avg, mt.pbFormat + kAt, sizeof avg);
    if (avg <= 0) return {};
    std::string fps = Format("%.2f", 1e7 / double(avg));
    while (fps.back() == '0')
        fps.pop_back();
    if (fps.back() == '.') fps.pop_back();
    return ", " + fps + " fps";
}

// The bitmap header details, read only when the whole header lies inside
// the block: a block shorter than its format type implies gives no details.
std::string VideoDetails(const AM_MEDIA_TYPE& mt, size_t offset) {
    if (!HasBlock(mt) || mt.cbFormat < offset + sizeof(BITMAPINFOHEADER)) return {};
    BITMAPINFOHEADER bmi;
    std::memcpy(&bmi, mt.pbFormat + offset, sizeof bmi);
    return Format("%s %dX%d, %d bits", CompressionName(bmi.biCompression).c_str(),
                  static_cast<int>(bmi.biWidth), static_cast<int>(bmi.biHeight),
                  static_cast<int>(bmi.biBitCount)) +
           RateDetails(mt);
}

// The wave format fields up to wBitsPerSample (16 bytes: the PCM header,
// which has no cbSize) must lie inside the block.
std::string AudioDetails(const AM_MEDIA_TYPE& mt) {
    constexpr size_t kNeeded = offsetof(WAVEFORMATEX, wBitsPerSample) + sizeof(WORD);
    if (!HasBlock(mt) || mt.cbFormat < kNeeded) return {};
    WAVEFORMATEX wf{};
    std::memcpy(&wf, mt.pbFormat, kNeeded);
    return WaveFormatTagName(wf.wFormatTag) +
           Format(", %d Hertz, %d Bits, %d Channels", static_cast<int>(wf.nSamplesPerSec),
                  static_cast<int>(wf.wBitsPerSample), static_cast<int>(wf.nChannels));
}

std::string FormatPart(const AM_MEDIA_TYPE& mt) {
    for (const auto& v : kVideoFormats)
        if (v.formatType == mt.formattype) return v.text + VideoDetails(mt, v.bitmapOffset);
    if (mt.formattype == FORMAT_WaveFormatEx) return "WaveFormatEx: " + AudioDetails(mt);
    if (const char* name = Lookup(kPlainFormats, mt.formattype)) return name;
    return "Unknown";
}

} // namespace

std::string MajorTypeName(const GUID& majorType) {
    const char* name = Lookup(kMajorTypes, majorType);
    return name ? name : "UnKnown ";
}

std::string SubTypeName(const GUID& subType) {
    const char* name = Lookup(kSubTypes, subType);
    return name ? name : "UnKnown ";
}

std::string WaveFormatTagName(WORD tag) {
    for (const auto& e : kWaveTags)
        if (e.tag == tag) return e.name;
    return "Unknown";
}

std::string CompressionName(DWORD compression) {
    switch (compression) {
    case BI_RGB:
        return "RGB";
    case BI_RLE8:
        return "RLE8";
    case BI_RLE4:
        return "RLE4";
    case BI_BITFIELDS:
        return "BITFIELDS";
    default:
        break;
    }
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((compression >> (8 * i)) & 0xFF);
        if (c == 0) break;
        s += c;
    }
    return s;
}

std::string DescribeMediaType(const AM_MEDIA_TYPE& mediaType) {
    return "Major Type: " + MajorTypeName(mediaType.majortype) +
           " - Sub Type: " + SubTypeName(mediaType.subtype) + " Format: " + FormatPart(mediaType);
}
