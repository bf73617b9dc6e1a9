#include "platform/gst/GstMediaType.h"

#include "platform/TaskMemory.h"

#include <gst/video/video.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

struct TFrameSize {
    int Width, Height;
};
// Sizes a user is offered when a device accepts a range.
constexpr std::array<TFrameSize, 8> kStandardSizes{{{160, 120},
                                                    {176, 144},
                                                    {320, 240},
                                                    {352, 288},
                                                    {640, 480},
                                                    {800, 600},
                                                    {1280, 720},
                                                    {1920, 1080}}};
constexpr std::array<int, 4> kStandardRates{11025, 22050, 44100, 48000};
// Frame rates offered inside a range, highest first.
constexpr std::array<int, 9> kStandardFps{60, 50, 30, 25, 24, 20, 15, 10, 5};

const char* const kVideoFormats[] = {"YUY2", "UYVY", "Y41P",  "I420", "YV12",
                                     "BGR",  "BGRx", "RGB16", "RGB15"};
const char* const kAudioFormats[] = {"S16LE", "U8", "F32LE", "S24LE", "S32LE"};

// Whether v (a fixed int, int range or list of ints) admits n.
bool IntAllowed(const GValue* v, int n) {
    if (!v) return true;
    GValue probe = G_VALUE_INIT;
    g_value_init(&probe, G_TYPE_INT);
    g_value_set_int(&probe, n);
    bool ok = gst_value_can_intersect(&probe, v) && gst_value_intersect(nullptr, &probe, v);
    g_value_unset(&probe);
    return ok;
}

// The discrete values of a field: a fixed value, each list member, or (for a
// range) the offered standard values inside it.
std::vector<int> IntChoices(const GValue* v, const std::vector<int>& standard) {
    std::vector<int> out;
    if (!v) return standard;
    if (G_VALUE_HOLDS_INT(v)) {
        out.push_back(g_value_get_int(v));
    } else if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            const GValue* item = gst_value_list_get_value(v, i);
            if (G_VALUE_HOLDS_INT(item)) out.push_back(g_value_get_int(item));
        }
    } else if (GST_VALUE_HOLDS_INT_RANGE(v)) {
        for (int n : standard)
            if (IntAllowed(v, n)) out.push_back(n);
        if (out.empty()) out.push_back(gst_value_get_int_range_min(v));
    }
    return out;
}

std::vector<std::string> TextChoices(const GValue* v) {
    std::vector<std::string> out;
    if (!v) return out;
    if (G_VALUE_HOLDS_STRING(v)) {
        out.emplace_back(g_value_get_string(v));
    } else if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            const GValue* item = gst_value_list_get_value(v, i);
            if (G_VALUE_HOLDS_STRING(item)) out.emplace_back(g_value_get_string(item));
        }
    }
    return out;
}

using TRate = std::pair<int, int>;

bool Faster(const TRate& a, const TRate& b) {
    return int64_t(a.first) * b.second > int64_t(b.first) * a.second;
}

bool FractionInside(const GValue* range, int num, int den) {
    GValue probe = G_VALUE_INIT;
    g_value_init(&probe, GST_TYPE_FRACTION);
    gst_value_set_fraction(&probe, num, den);
    bool inside = gst_value_intersect(nullptr, &probe, range);
    g_value_unset(&probe);
    return inside;
}

// Every frame rate a format and size offers, fastest first, exactly as the
// device gives them (15/2 stays 15/2): each of a list, the standard rates
// inside a range (and its top), 30 fps where nothing is said.
std::vector<TRate> RateChoices(const GValue* v) {
    std::vector<TRate> out;
    auto add = [&](TRate r) {
        if (r.first <= 0 || r.second <= 0) return;
        for (const auto& o : out)
            if (int64_t(o.first) * r.second == int64_t(r.first) * o.second) return;
        out.push_back(r);
    };
    if (!v) {
        add({30, 1});
    } else if (GST_VALUE_HOLDS_FRACTION(v)) {
        add({gst_value_get_fraction_numerator(v), gst_value_get_fraction_denominator(v)});
    } else if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            const GValue* item = gst_value_list_get_value(v, i);
            if (GST_VALUE_HOLDS_FRACTION(item))
                add({gst_value_get_fraction_numerator(item),
                     gst_value_get_fraction_denominator(item)});
        }
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(v)) {
        const GValue* top = gst_value_get_fraction_range_max(v);
        const TRate max{gst_value_get_fraction_numerator(top),
                        gst_value_get_fraction_denominator(top)};
        // A range open to absurd rates (G_MAXINT/1) has no top worth offering.
        if (max.first / std::max(1, max.second) <= 120) add(max);
        for (int fps : kStandardFps)
            if (FractionInside(v, fps, 1)) add({fps, 1});
    }
    if (out.empty()) add({30, 1});
    std::stable_sort(out.begin(), out.end(), Faster);
    return out;
}

bool Known(const std::string& f, const auto& table) {
    return std::any_of(std::begin(table), std::end(table), [&](const char* k) { return f == k; });
}

// A raw picture format without a record of its own that still has a
// four-character code (NV12, GREY as Y800, ...): listed under its code and
// converted like any other.
DWORD RawFourCC(const std::string& f) {
    const GstVideoFormat v = gst_video_format_from_string(f.c_str());
    if (v == GST_VIDEO_FORMAT_UNKNOWN || v == GST_VIDEO_FORMAT_ENCODED) return 0;
    if (v == GST_VIDEO_FORMAT_GRAY8) return MakeFourCC('Y', '8', '0', '0');
    return gst_video_format_to_fourcc(v);
}

bool OtherRawFormat(const std::string& f) {
    return RawFourCC(f) != 0;
}

void AddUnique(std::vector<TGstCapsRef>& out, GstCaps* caps) {
    for (const auto& c : out)
        if (gst_caps_is_equal(c.get(), caps)) {
            gst_caps_unref(caps);
            return;
        }
    out.emplace_back(caps);
}

// The compressed kinds a capture decodes itself, with their extra fields.
struct TCompressed {
    const char* Name;
    const char* Fields; // fixed fields kept in the listed caps, "" for none
};
constexpr TCompressed kCompressed[] = {
    {"image/jpeg", ""},
    {"video/x-h264", "stream-format=byte-stream,alignment=au"},
};

const TCompressed* CompressedKind(const GstStructure* s) {
    for (const auto& c : kCompressed)
        if (gst_structure_has_name(s, c.Name)) return &c;
    return nullptr;
}

void ExpandVideo(const GstStructure* s, const TCompressed* compressed,
                 std::vector<TGstCapsRef>& out) {
    std::vector<std::string> formats;
    if (compressed)
        formats.emplace_back("");
    else
        for (auto& f : TextChoices(gst_structure_get_value(s, "format")))
            if (Known(f, kVideoFormats) || OtherRawFormat(f)) formats.push_back(f);
    const GValue* w = gst_structure_get_value(s, "width");
    const GValue* h = gst_structure_get_value(s, "height");
    std::vector<TFrameSize> sizes;
    if (w && h && G_VALUE_HOLDS_INT(w) && G_VALUE_HOLDS_INT(h)) {
        sizes.push_back({g_value_get_int(w), g_value_get_int(h)});
    } else {
        for (const auto& sz : kStandardSizes)
            if (IntAllowed(w, sz.Width) && IntAllowed(h, sz.Height)) sizes.push_back(sz);
    }
    const std::vector<TRate> rates = RateChoices(gst_structure_get_value(s, "framerate"));
    for (const auto& f : formats)
        for (const auto& sz : sizes)
            for (const auto& rate : rates) {
                GstCaps* c;
                if (compressed) {
                    c = gst_caps_from_string((std::string(compressed->Name) +
                                              (*compressed->Fields ? "," : "") + compressed->Fields)
                                                 .c_str());
                } else {
                    c = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, f.c_str(),
                                            nullptr);
                }
                gst_caps_set_simple(c, "width", G_TYPE_INT, sz.Width, "height", G_TYPE_INT,
                                    sz.Height, "framerate", GST_TYPE_FRACTION, rate.first,
                                    rate.second, nullptr);
                AddUnique(out, c);
            }
}

void ExpandAudio(const GstStructure* s, std::vector<TGstCapsRef>& out) {
    std::vector<int> rates = IntChoices(gst_structure_get_value(s, "rate"),
                                        {kStandardRates.begin(), kStandardRates.end()});
    std::vector<int> channels = IntChoices(gst_structure_get_value(s, "channels"), {1, 2});
    for (auto& f : TextChoices(gst_structure_get_value(s, "format"))) {
        if (!Known(f, kAudioFormats)) continue;
        for (int rate : rates)
            for (int ch : channels) {
                if (rate <= 0 || ch <= 0) continue;
                AddUnique(out, gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING,
                                                   f.c_str(), "layout", G_TYPE_STRING,
                                                   "interleaved", "rate", G_TYPE_INT, rate,
                                                   "channels", G_TYPE_INT, ch, nullptr));
            }
    }
}

} // namespace

std::vector<TGstCapsRef> ExpandCaps(const GstCaps* caps) {
    std::vector<TGstCapsRef> out;
    if (!caps || gst_caps_is_any(caps)) return out;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        if (gst_structure_has_name(s, "video/x-raw"))
            ExpandVideo(s, nullptr, out);
        else if (const TCompressed* c = CompressedKind(s))
            ExpandVideo(s, c, out);
        else if (gst_structure_has_name(s, "audio/x-raw"))
            ExpandAudio(s, out);
    }
    return out;
}

namespace {

struct TVideoFormat {
    const char* Media;  // caps name
    std::string Format; // raw format name, empty for a compressed kind
    GUID Subtype;
    DWORD Compression;
    WORD Bits;
    int ImageNum, ImageDen; // bytes per pixel as a fraction; 0/0: from the format's own layout
};

constexpr DWORD kYUY2 = MakeFourCC('Y', 'U', 'Y', '2');
constexpr DWORD kH264 = MakeFourCC('H', '2', '6', '4');

const TVideoFormat kVideoTable[] = {
    {"video/x-raw", "YUY2", MEDIASUBTYPE_YUY2, kYUY2, 16, 2, 1},
    {"video/x-raw", "UYVY", MEDIASUBTYPE_UYVY, MakeFourCC('U', 'Y', 'V', 'Y'), 16, 2, 1},
    {"video/x-raw", "Y41P", MEDIASUBTYPE_Y41P, MakeFourCC('Y', '4', '1', 'P'), 12, 3, 2},
    {"video/x-raw", "I420", MEDIASUBTYPE_IYUV, MakeFourCC('I', 'Y', 'U', 'V'), 12, 3, 2},
    {"video/x-raw", "YV12", MEDIASUBTYPE_YV12, MakeFourCC('Y', 'V', '1', '2'), 12, 3, 2},
    {"video/x-raw", "BGR", MEDIASUBTYPE_RGB24, BI_RGB, 24, 3, 1},
    {"video/x-raw", "BGRx", MEDIASUBTYPE_RGB32, BI_RGB, 32, 4, 1},
    {"video/x-raw", "RGB16", MEDIASUBTYPE_RGB565, BI_BITFIELDS, 16, 2, 1},
    {"video/x-raw", "RGB15", MEDIASUBTYPE_RGB555, BI_RGB, 16, 2, 1},
    {"image/jpeg", "", MEDIASUBTYPE_MJPG, MakeFourCC('M', 'J', 'P', 'G'), 24, 3, 1},
    {"video/x-h264", "", FourCCGuid(kH264), kH264, 24, 3, 1},
};

std::optional<TVideoFormat> VideoByCaps(const GstStructure* s) {
    const char* format = gst_structure_get_string(s, "format");
    const bool raw = gst_structure_has_name(s, "video/x-raw");
    if (raw && (!format || !*format)) return std::nullopt;
    for (const auto& f : kVideoTable)
        if (gst_structure_has_name(s, f.Media) && (!raw || f.Format == format)) return f;
    if (!raw || !OtherRawFormat(format)) return std::nullopt;
    const DWORD code = RawFourCC(format);
    return TVideoFormat{"video/x-raw", format, FourCCGuid(code), code, 0, 0, 0};
}

// The four-character code of a FOURCC subtype; 0 for any other GUID.
DWORD FourCCOf(const GUID& g) {
    const GUID pattern = FourCCGuid(0);
    return g.Data2 == pattern.Data2 && g.Data3 == pattern.Data3 &&
                   std::memcmp(g.Data4, pattern.Data4, sizeof g.Data4) == 0
               ? g.Data1
               : 0;
}

std::optional<TVideoFormat> VideoBySubtype(const GUID& subtype) {
    for (const auto& f : kVideoTable)
        if (f.Subtype == subtype) return f;
    const DWORD code = FourCCOf(subtype);
    const GstVideoFormat v = code ? gst_video_format_from_fourcc(code) : GST_VIDEO_FORMAT_UNKNOWN;
    if (v == GST_VIDEO_FORMAT_UNKNOWN || v == GST_VIDEO_FORMAT_ENCODED) return std::nullopt;
    return TVideoFormat{"video/x-raw", gst_video_format_to_string(v), subtype, code, 0, 0, 0};
}

// Allocates a zeroed format block of n bytes for mt.
BYTE* AllocFormat(AM_MEDIA_TYPE& mt, size_t n) {
    mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(n));
    mt.cbFormat = mt.pbFormat ? static_cast<ULONG>(n) : 0;
    if (mt.pbFormat) std::memset(mt.pbFormat, 0, n);
    return mt.pbFormat;
}

bool VideoRecord(const GstStructure* s, const TVideoFormat& f, AM_MEDIA_TYPE& mt) {
    int w = 0, h = 0, num = 0, den = 1;
    if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h) ||
        w <= 0 || h <= 0)
        return false;
    if (!gst_structure_get_fraction(s, "framerate", &num, &den) || num <= 0 || den <= 0) num = 0;
    DWORD image = static_cast<DWORD>(f.ImageDen ? int64_t(w) * h * f.ImageNum / f.ImageDen : 0);
    WORD bits = f.Bits;
    if (!f.ImageDen) {
        GstVideoInfo info;
        if (!gst_video_info_set_format(&info, gst_video_format_from_string(f.Format.c_str()),
                                       guint(w), guint(h)))
            return false;
        image = static_cast<DWORD>(info.size);
        bits = static_cast<WORD>(int64_t(image) * 8 / (int64_t(w) * h));
    }
    const bool bitfields = f.Compression == BI_BITFIELDS;
    const size_t size = sizeof(VIDEOINFOHEADER) + (bitfields ? 3 * sizeof(DWORD) : 0);
    if (!AllocFormat(mt, size)) return false;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
    vih->AvgTimePerFrame = num ? int64_t(10'000'000) * den / num : 0;
    vih->dwBitRate = num ? static_cast<DWORD>(int64_t(image) * 8 * num / den) : 0;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = w;
    vih->bmiHeader.biHeight = h;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = bits;
    vih->bmiHeader.biCompression = f.Compression;
    vih->bmiHeader.biSizeImage = image;
    if (bitfields) {
        const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
        std::memcpy(mt.pbFormat + sizeof(VIDEOINFOHEADER), masks, sizeof masks);
    }
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = f.Subtype;
    mt.formattype = FORMAT_VideoInfo;
    const bool compressed = f.Format.empty();
    mt.bFixedSizeSamples = compressed ? 0 : 1;
    mt.bTemporalCompression = 0;
    mt.lSampleSize = compressed ? 0 : image;
    return true;
}

bool AudioRecord(const GstStructure* s, AM_MEDIA_TYPE& mt) {
    const char* format = gst_structure_get_string(s, "format");
    int rate = 0, channels = 0;
    if (!format || !gst_structure_get_int(s, "rate", &rate) ||
        !gst_structure_get_int(s, "channels", &channels) || rate <= 0 || channels <= 0 ||
        channels > 0xFFFF)
        return false;
    WORD tag = WAVE_FORMAT_PCM, bits = 0;
    if (std::strcmp(format, "S16LE") == 0)
        bits = 16;
    else if (std::strcmp(format, "U8") == 0)
        bits = 8;
    else if (std::strcmp(format, "S24LE") == 0)
        bits = 24;
    else if (std::strcmp(format, "S32LE") == 0)
        bits = 32;
    else if (std::strcmp(format, "F32LE") == 0)
        tag = WAVE_FORMAT_IEEE_FLOAT, bits = 32;
    else
        return false;
    if (!AllocFormat(mt, sizeof(WAVEFORMATEX))) return false;
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = tag;
    wfx.nChannels = static_cast<WORD>(channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(rate);
    wfx.wBitsPerSample = bits;
    wfx.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    std::memcpy(mt.pbFormat, &wfx, sizeof wfx);
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = tag == WAVE_FORMAT_PCM ? MEDIASUBTYPE_PCM : MEDIASUBTYPE_IEEE_FLOAT;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.bFixedSizeSamples = 1;
    mt.bTemporalCompression = 0;
    mt.lSampleSize = wfx.nBlockAlign;
    return true;
}

// Frame duration in 100 ns units back to a frame rate: whole and NTSC-style
// rates exactly, others as the simplest fraction whose duration rounds to
// the same value (1333333 is 15/2). A record listed by a device is matched
// against its listing instead (MatchListedCaps), which keeps any fraction.
void RateFromDuration(REFERENCE_TIME avg, int& num, int& den) {
    const double fps = 1e7 / double(avg);
    auto fits = [&](int64_t n, int64_t d) {
        return n >= 1 && n <= G_MAXINT && std::llround(1e7 * double(d) / double(n)) == avg;
    };
    auto take = [&](int64_t n, int64_t d) {
        num = static_cast<int>(n);
        den = static_cast<int>(d);
    };
    if (const int64_t n = std::llround(fps); fits(n, 1)) return take(n, 1);
    if (const int64_t n = std::llround(fps * 1.001) * 1000; fits(n, 1001)) return take(n, 1001);
    for (int64_t d = 2; d <= 1000; ++d)
        if (const int64_t n = std::llround(fps * double(d)); fits(n, d)) return take(n, d);
    gst_util_double_to_fraction(fps, &num, &den);
}

TGstCapsRef VideoCaps(const AM_MEDIA_TYPE& mt) {
    const std::optional<TVideoFormat> f = VideoBySubtype(mt.subtype);
    size_t offset = 0;
    if (mt.formattype == FORMAT_VideoInfo)
        offset = kVideoInfoBitmapOffset;
    else if (mt.formattype == FORMAT_VideoInfo2)
        offset = kVideoInfo2BitmapOffset;
    if (!f || !offset || !mt.pbFormat || mt.cbFormat < offset + sizeof(BITMAPINFOHEADER))
        return nullptr;
    BITMAPINFOHEADER bmi;
    std::memcpy(&bmi, mt.pbFormat + offset, sizeof bmi);
    REFERENCE_TIME avg;
    std::memcpy(&avg, mt.pbFormat + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), sizeof avg);
    const int w = bmi.biWidth, h = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
    if (w <= 0 || h <= 0) return nullptr;
    GstCaps* caps = gst_caps_new_empty_simple(f->Media);
    if (!f->Format.empty())
        gst_caps_set_simple(caps, "format", G_TYPE_STRING, f->Format.c_str(), nullptr);
    for (const auto& c : kCompressed)
        if (*c.Fields && std::strcmp(c.Name, f->Media) == 0) {
            TGstCapsRef fields(
                gst_caps_from_string((std::string(c.Name) + "," + c.Fields).c_str()));
            const GstStructure* from = gst_caps_get_structure(fields.get(), 0);
            for (int i = 0; i < gst_structure_n_fields(from); ++i) {
                const char* name = gst_structure_nth_field_name(from, guint(i));
                gst_structure_set_value(gst_caps_get_structure(caps, 0), name,
                                        gst_structure_get_value(from, name));
            }
        }
    gst_caps_set_simple(caps, "width", G_TYPE_INT, w, "height", G_TYPE_INT, h, nullptr);
    if (avg > 0) {
        int num = 0, den = 1;
        RateFromDuration(avg, num, den);
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, num, den, nullptr);
    }
    return TGstCapsRef(caps);
}

TGstCapsRef AudioCaps(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < 16) return nullptr;
    WAVEFORMATEX wfx{};
    std::memcpy(&wfx, mt.pbFormat, std::min<size_t>(mt.cbFormat, sizeof wfx));
    const char* format = nullptr;
    if (wfx.wFormatTag == WAVE_FORMAT_PCM && wfx.wBitsPerSample == 16)
        format = "S16LE";
    else if (wfx.wFormatTag == WAVE_FORMAT_PCM && wfx.wBitsPerSample == 8)
        format = "U8";
    else if (wfx.wFormatTag == WAVE_FORMAT_PCM && wfx.wBitsPerSample == 24)
        format = "S24LE";
    else if (wfx.wFormatTag == WAVE_FORMAT_PCM && wfx.wBitsPerSample == 32)
        format = "S32LE";
    else if (wfx.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && wfx.wBitsPerSample == 32)
        format = "F32LE";
    if (!format || wfx.nChannels == 0 || wfx.nSamplesPerSec == 0 || wfx.nSamplesPerSec > G_MAXINT)
        return nullptr;
    return TGstCapsRef(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, format, "layout",
                                           G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT,
                                           int(wfx.nSamplesPerSec), "channels", G_TYPE_INT,
                                           int(wfx.nChannels), nullptr));
}

} // namespace

bool MediaTypeFromCaps(const GstCaps* caps, AM_MEDIA_TYPE& mt) {
    mt = AM_MEDIA_TYPE{};
    if (!caps || gst_caps_get_size(caps) == 0 || gst_caps_is_any(caps)) return false;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    if (std::optional<TVideoFormat> f = VideoByCaps(s)) return VideoRecord(s, *f, mt);
    if (gst_structure_has_name(s, "audio/x-raw")) return AudioRecord(s, mt);
    return false;
}

TGstCapsRef CapsFromMediaType(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype == MEDIATYPE_Video) return VideoCaps(mt);
    if (mt.majortype == MEDIATYPE_Audio) return AudioCaps(mt);
    return nullptr;
}

const char* CapsMediaClass(const GstCaps* caps) {
    if (!caps || gst_caps_is_any(caps) || gst_caps_get_size(caps) == 0) return "";
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    if (g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/")) return "video";
    if (g_str_has_prefix(name, "audio/")) return "audio";
    return "";
}

namespace {

// Whether two records stand for the same format: kind, size, rate (as the
// frame time the record carries), or sample layout.
bool SameRecord(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype ||
        !a.pbFormat || !b.pbFormat)
        return false;
    if (a.formattype == FORMAT_VideoInfo || a.formattype == FORMAT_VideoInfo2) {
        const size_t offset =
            a.formattype == FORMAT_VideoInfo ? kVideoInfoBitmapOffset : kVideoInfo2BitmapOffset;
        if (a.cbFormat < offset + sizeof(BITMAPINFOHEADER) ||
            b.cbFormat < offset + sizeof(BITMAPINFOHEADER))
            return false;
        BITMAPINFOHEADER x, y;
        REFERENCE_TIME ta, tb;
        std::memcpy(&x, a.pbFormat + offset, sizeof x);
        std::memcpy(&y, b.pbFormat + offset, sizeof y);
        std::memcpy(&ta, a.pbFormat + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), sizeof ta);
        std::memcpy(&tb, b.pbFormat + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), sizeof tb);
        return x.biWidth == y.biWidth && std::abs(x.biHeight) == std::abs(y.biHeight) &&
               x.biCompression == y.biCompression && ta == tb;
    }
    if (a.formattype == FORMAT_WaveFormatEx && a.cbFormat >= 16 && b.cbFormat >= 16)
        return std::memcmp(a.pbFormat, b.pbFormat, 16) == 0;
    return false;
}

int64_t RateOf(const GstStructure* s, int64_t scale) {
    int num = 0, den = 1;
    return gst_structure_get_fraction(s, "framerate", &num, &den) && den > 0 ? num * scale / den
                                                                             : 0;
}

} // namespace

TGstCapsRef MatchListedCaps(const AM_MEDIA_TYPE& mt, const std::vector<TGstCapsRef>& listed) {
    for (const auto& c : listed) {
        AM_MEDIA_TYPE own{};
        const bool same = MediaTypeFromCaps(c.get(), own) && SameRecord(own, mt);
        FreeMediaType(own);
        if (same) return TGstCapsRef(gst_caps_copy(c.get()));
    }
    return CapsFromMediaType(mt);
}

TGstCapsRef ChooseDefaultFormat(const std::vector<TGstCapsRef>& formats) {
    const GstCaps* best = nullptr;
    // Lower is better, compared in order.
    auto score = [](const GstCaps* c) {
        const GstStructure* s = gst_caps_get_structure(c, 0);
        int w = 0, h = 0, rate = 0, channels = 0;
        if (gst_structure_has_name(s, "audio/x-raw")) {
            gst_structure_get_int(s, "rate", &rate);
            gst_structure_get_int(s, "channels", &channels);
            const char* f = gst_structure_get_string(s, "format");
            return std::array<int64_t, 4>{rate == 48000 ? 0 : 1 + std::abs(rate - 48000),
                                          channels == 2 ? 0 : 1 + std::abs(channels - 2),
                                          f && std::strcmp(f, "S16LE") == 0 ? 0 : 1, 0};
        }
        gst_structure_get_int(s, "width", &w);
        gst_structure_get_int(s, "height", &h);
        const int64_t milliFps = RateOf(s, 1000);
        // Fluid motion first (25 fps or more; else the fastest), then the
        // size nearest 640 x 480 by area, then uncompressed (nothing to decode).
        return std::array<int64_t, 4>{milliFps >= 25000 ? 0 : 25000 - milliFps,
                                      std::abs(int64_t(w) * h - 640 * 480),
                                      gst_structure_has_name(s, "video/x-raw") ? 0 : 1, -milliFps};
    };
    for (const auto& c : formats)
        if (c && gst_caps_get_size(c.get()) > 0 && (!best || score(c.get()) < score(best)))
            best = c.get();
    return TGstCapsRef(best ? gst_caps_copy(best) : nullptr);
}

std::string RateText(int num, int den) {
    if (num <= 0 || den <= 0) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(num) / den);
    std::string t = text;
    while (t.back() == '0')
        t.pop_back();
    if (t.back() == '.') t.pop_back();
    return t;
}

std::string FormatSummary(const GstCaps* caps) {
    if (!caps || gst_caps_get_size(caps) == 0) return "an unknown format";
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    int w = 0, h = 0, num = 0, den = 1, rate = 0, channels = 0;
    const char* format = gst_structure_get_string(s, "format");
    if (gst_structure_has_name(s, "audio/x-raw")) {
        gst_structure_get_int(s, "rate", &rate);
        gst_structure_get_int(s, "channels", &channels);
        return std::string(format ? format : "audio") + " " + std::to_string(rate) + " Hz, " +
               std::to_string(channels) + (channels == 1 ? " channel" : " channels");
    }
    std::string kind = format ? format : gst_structure_get_name(s);
    if (gst_structure_has_name(s, "image/jpeg")) kind = "MJPG";
    if (gst_structure_has_name(s, "video/x-h264")) kind = "H264";
    gst_structure_get_int(s, "width", &w);
    gst_structure_get_int(s, "height", &h);
    std::string text = kind + " " + std::to_string(w) + "\u00d7" + std::to_string(h);
    if (gst_structure_get_fraction(s, "framerate", &num, &den))
        text += " at " + RateText(num, den) + " fps";
    return text;
}

const std::vector<const char*>& DecoderFor(const GstCaps* caps) {
    static const std::vector<const char*> none, jpeg{"jpegdec"}, h264{"h264parse", "avdec_h264"};
    if (!caps || gst_caps_get_size(caps) == 0) return none;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    if (gst_structure_has_name(s, "image/jpeg")) return jpeg;
    if (gst_structure_has_name(s, "video/x-h264")) return h264;
    return none;
}
