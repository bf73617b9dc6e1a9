#include "platform/gst/GstMediaType.h"

#include "platform/TaskMemory.h"

#include <cmath>
#include <cstring>

#include <algorithm>
#include <array>
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

const char* const kVideoFormats[] = {"YUY2", "UYVY", "Y41P",  "I420", "YV12",
                                     "BGR",  "BGRx", "RGB16", "RGB15"};
const char* const kAudioFormats[] = {"S16LE", "U8", "F32LE"};

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

// One frame rate per format and size: fixed as given, the highest of a list,
// 30 fps where a range allows it (else the range's top).
std::pair<int, int> RateChoice(const GValue* v) {
    if (!v) return {30, 1};
    if (GST_VALUE_HOLDS_FRACTION(v))
        return {gst_value_get_fraction_numerator(v), gst_value_get_fraction_denominator(v)};
    if (GST_VALUE_HOLDS_LIST(v)) {
        std::pair<int, int> best{0, 1};
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            const GValue* item = gst_value_list_get_value(v, i);
            if (!GST_VALUE_HOLDS_FRACTION(item)) continue;
            std::pair<int, int> f{gst_value_get_fraction_numerator(item),
                                  gst_value_get_fraction_denominator(item)};
            if (int64_t(f.first) * best.second > int64_t(best.first) * f.second) best = f;
        }
        return best.first > 0 ? best : std::pair<int, int>{30, 1};
    }
    if (GST_VALUE_HOLDS_FRACTION_RANGE(v)) {
        GValue probe = G_VALUE_INIT;
        g_value_init(&probe, GST_TYPE_FRACTION);
        gst_value_set_fraction(&probe, 30, 1);
        bool inside = gst_value_intersect(nullptr, &probe, v);
        g_value_unset(&probe);
        if (inside) return {30, 1};
        const GValue* top = gst_value_get_fraction_range_max(v);
        return {gst_value_get_fraction_numerator(top), gst_value_get_fraction_denominator(top)};
    }
    return {30, 1};
}

bool Known(const std::string& f, const auto& table) {
    return std::any_of(std::begin(table), std::end(table), [&](const char* k) { return f == k; });
}

void AddUnique(std::vector<TGstCapsRef>& out, GstCaps* caps) {
    for (const auto& c : out)
        if (gst_caps_is_equal(c.get(), caps)) {
            gst_caps_unref(caps);
            return;
        }
    out.emplace_back(caps);
}

void ExpandVideo(const GstStructure* s, bool jpeg, std::vector<TGstCapsRef>& out) {
    std::vector<std::string> formats;
    if (jpeg)
        formats.emplace_back("");
    else
        for (auto& f : TextChoices(gst_structure_get_value(s, "format")))
            if (Known(f, kVideoFormats)) formats.push_back(f);
    const GValue* w = gst_structure_get_value(s, "width");
    const GValue* h = gst_structure_get_value(s, "height");
    std::vector<TFrameSize> sizes;
    if (w && h && G_VALUE_HOLDS_INT(w) && G_VALUE_HOLDS_INT(h)) {
        sizes.push_back({g_value_get_int(w), g_value_get_int(h)});
    } else {
        for (const auto& sz : kStandardSizes)
            if (IntAllowed(w, sz.Width) && IntAllowed(h, sz.Height)) sizes.push_back(sz);
    }
    auto rate = RateChoice(gst_structure_get_value(s, "framerate"));
    for (const auto& f : formats)
        for (const auto& sz : sizes) {
            GstCaps* c =
                jpeg ? gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, sz.Width, "height",
                                           G_TYPE_INT, sz.Height, "framerate", GST_TYPE_FRACTION,
                                           rate.first, rate.second, nullptr)
                     : gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, f.c_str(),
                                           "width", G_TYPE_INT, sz.Width, "height", G_TYPE_INT,
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
            ExpandVideo(s, false, out);
        else if (gst_structure_has_name(s, "image/jpeg"))
            ExpandVideo(s, true, out);
        else if (gst_structure_has_name(s, "audio/x-raw"))
            ExpandAudio(s, out);
    }
    return out;
}

namespace {

struct TVideoFormat {
    const char* Caps; // GStreamer format name ("" for image/jpeg)
    const GUID* Subtype;
    DWORD Compression;
    WORD Bits;
    int ImageNum, ImageDen; // bytes per pixel as a fraction
};

constexpr DWORD kYUY2 = MakeFourCC('Y', 'U', 'Y', '2');

const TVideoFormat kVideoTable[] = {
    {"YUY2", &MEDIASUBTYPE_YUY2, kYUY2, 16, 2, 1},
    {"UYVY", &MEDIASUBTYPE_UYVY, MakeFourCC('U', 'Y', 'V', 'Y'), 16, 2, 1},
    {"Y41P", &MEDIASUBTYPE_Y41P, MakeFourCC('Y', '4', '1', 'P'), 12, 3, 2},
    {"I420", &MEDIASUBTYPE_IYUV, MakeFourCC('I', 'Y', 'U', 'V'), 12, 3, 2},
    {"YV12", &MEDIASUBTYPE_YV12, MakeFourCC('Y', 'V', '1', '2'), 12, 3, 2},
    {"BGR", &MEDIASUBTYPE_RGB24, BI_RGB, 24, 3, 1},
    {"BGRx", &MEDIASUBTYPE_RGB32, BI_RGB, 32, 4, 1},
    {"RGB16", &MEDIASUBTYPE_RGB565, BI_BITFIELDS, 16, 2, 1},
    {"RGB15", &MEDIASUBTYPE_RGB555, BI_RGB, 16, 2, 1},
    {"", &MEDIASUBTYPE_MJPG, MakeFourCC('M', 'J', 'P', 'G'), 24, 3, 1},
};

const TVideoFormat* VideoByCaps(const char* name) {
    for (const auto& f : kVideoTable)
        if (std::strcmp(f.Caps, name) == 0) return &f;
    return nullptr;
}

const TVideoFormat* VideoBySubtype(const GUID& subtype) {
    for (const auto& f : kVideoTable)
        if (*f.Subtype == subtype) return &f;
    return nullptr;
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
    const bool bitfields = f.Compression == BI_BITFIELDS;
    const size_t size = sizeof(VIDEOINFOHEADER) + (bitfields ? 3 * sizeof(DWORD) : 0);
    if (!AllocFormat(mt, size)) return false;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
    const DWORD image = static_cast<DWORD>(int64_t(w) * h * f.ImageNum / f.ImageDen);
    vih->AvgTimePerFrame = num ? int64_t(10'000'000) * den / num : 0;
    vih->dwBitRate = num ? static_cast<DWORD>(int64_t(image) * 8 * num / den) : 0;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = w;
    vih->bmiHeader.biHeight = h;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = f.Bits;
    vih->bmiHeader.biCompression = f.Compression;
    vih->bmiHeader.biSizeImage = image;
    if (bitfields) {
        const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
        std::memcpy(mt.pbFormat + sizeof(VIDEOINFOHEADER), masks, sizeof masks);
    }
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = *f.Subtype;
    mt.formattype = FORMAT_VideoInfo;
    const bool compressed = f.Subtype == &MEDIASUBTYPE_MJPG;
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

// Frame duration in 100 ns units back to a frame rate: whole rates exactly,
// NTSC-style and other rates as the nearest fraction.
void RateFromDuration(REFERENCE_TIME avg, int& num, int& den) {
    const double fps = 1e7 / double(avg);
    const double whole = std::round(fps);
    if (whole >= 1 && std::fabs(whole * double(avg) - 1e7) <= whole) {
        num = static_cast<int>(whole);
        den = 1;
        return;
    }
    const double ntsc = std::round(fps * 1.001);
    if (ntsc >= 1 && std::fabs(ntsc * 1000.0 / 1001.0 - fps) < 0.0005) {
        num = static_cast<int>(ntsc) * 1000;
        den = 1001;
        return;
    }
    gst_util_double_to_fraction(fps, &num, &den);
}

TGstCapsRef VideoCaps(const AM_MEDIA_TYPE& mt) {
    const TVideoFormat* f = VideoBySubtype(mt.subtype);
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
    GstCaps* caps =
        f->Caps[0] ? gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, f->Caps, "width",
                                         G_TYPE_INT, w, "height", G_TYPE_INT, h, nullptr)
                   : gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, w, "height", G_TYPE_INT,
                                         h, nullptr);
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
    if (gst_structure_has_name(s, "video/x-raw")) {
        const char* format = gst_structure_get_string(s, "format");
        const TVideoFormat* f = format && *format ? VideoByCaps(format) : nullptr;
        return f && VideoRecord(s, *f, mt);
    }
    if (gst_structure_has_name(s, "image/jpeg")) return VideoRecord(s, *VideoByCaps(""), mt);
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
