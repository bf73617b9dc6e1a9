#pragma once
// The ASF writer filter's configuration, the writer's advanced interface and
// the network sink that serves the live stream, with the system profile GUIDs.
//
// Data path between writer and sink (our own shape of the runtime's sink
// interface): the writer calls OnHeader once with the ASF header (header
// object plus the 50-byte data object header), then OnDataUnit per data
// packet, from its streaming thread, and OnEndWriting when it stops.
#include "platform/ArchiveFiles.h"
#include "platform/FilterInterfaces.h"

#include <functional>
#include <span>
#include <string>

struct IServiceProvider : IUnknown {
    static constexpr GUID Iid{
        0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
    using Base = IUnknown;
    virtual HRESULT QueryService(REFGUID service, REFIID iid, void** out) = 0;
};

struct IConfigAsfWriter : IUnknown {
    static constexpr GUID Iid{
        0x45086030, 0xF7E4, 0x486A, {0xB5, 0x04, 0x82, 0x6B, 0xB5, 0x79, 0x2A, 0x3B}};
    using Base = IUnknown;
    virtual HRESULT ConfigureFilterUsingProfileId(DWORD) { return E_NOTIMPL; }
    virtual HRESULT GetCurrentProfileId(DWORD*) { return E_NOTIMPL; }
    // E_INVALIDARG for a profile the writer does not know; the writer's pins
    // follow the profile (audio input first, then video).
    virtual HRESULT ConfigureFilterUsingProfileGuid(REFGUID profile) = 0;
    virtual HRESULT GetCurrentProfileGuid(GUID* profile) = 0;
    virtual HRESULT SetIndexMode(BOOL) { return E_NOTIMPL; }
    virtual HRESULT GetIndexMode(BOOL*) { return E_NOTIMPL; }
};

inline constexpr DWORD AM_CONFIGASFWRITER_PARAM_AUTOINDEX = 1;
inline constexpr DWORD AM_CONFIGASFWRITER_PARAM_MULTIPASS = 2;
inline constexpr DWORD AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS = 3;

struct IConfigAsfWriter2 : IConfigAsfWriter {
    static constexpr GUID Iid{
        0x7989CCAA, 0x53F0, 0x44F0, {0x88, 0x4A, 0xF3, 0xB0, 0x3F, 0x6A, 0xE0, 0x66}};
    using Base = IConfigAsfWriter;
    virtual HRESULT StreamNumFromPin(IPin*, WORD*) { return E_NOTIMPL; }
    virtual HRESULT SetParam(DWORD param, DWORD value1, DWORD value2) = 0;
    virtual HRESULT GetParam(DWORD param, DWORD* value1, DWORD* value2) = 0;
    virtual HRESULT ResetMultiPassState() { return E_NOTIMPL; }
};

struct IWMWriterSink : IUnknown {
    static constexpr GUID Iid{
        0x96406BE4, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
    using Base = IUnknown;
    virtual HRESULT OnHeader(std::span<const uint8_t> header) = 0;
    virtual HRESULT IsRealTime(BOOL* realTime) = 0;
    virtual HRESULT OnDataUnit(std::span<const uint8_t> packet) = 0;
    virtual HRESULT OnEndWriting() = 0;
};

// The writer's archive file in segments: at each boundary the file is
// finished (index, duration), kept under its start time (KeepArchive), the
// oldest kept ones pruned as the retention asks, and a new file begun under
// the same name with a key frame; the live stream does not notice.
struct IAsfArchive : IUnknown {
    static constexpr GUID Iid{
        0x3F8E2B71, 0x5C0D, 0x4A9E, {0x9B, 0x62, 0x1D, 0x47, 0xC3, 0x80, 0xA5, 0x1E}};
    using Base = IUnknown;
    // 0: one file until the end. Set while stopped.
    virtual HRESULT SetSegmentDuration(REFERENCE_TIME duration) = 0;
    virtual HRESULT SetRetention(const TArchiveRetention& retention) = 0;
    // Told on a writer thread of each finished segment by its kept name (or
    // an empty name and a reason when it could not be kept); never of the
    // last file, which stays under the file name.
    using TSegmentHandler = std::function<void(const std::string& kept, const std::string& error)>;
    virtual HRESULT SetSegmentHandler(TSegmentHandler handler) = 0;
};

enum WMT_NET_PROTOCOL : DWORD { WMT_PROTOCOL_HTTP = 0 };

// WSAEADDRINUSE as a result code: the port is taken (a network sink's Open).
inline constexpr HRESULT HRESULT_ADDRESS_IN_USE = MakeResult(0x80072740);

struct IWMWriterNetworkSink : IWMWriterSink {
    static constexpr GUID Iid{
        0x96406BE7, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
    using Base = IWMWriterSink;
    virtual HRESULT SetMaximumClients(DWORD maxClients) = 0;
    virtual HRESULT GetMaximumClients(DWORD* maxClients) = 0;
    virtual HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL protocol) = 0;
    virtual HRESULT GetNetworkProtocol(WMT_NET_PROTOCOL* protocol) = 0;
    virtual HRESULT GetHostURL(std::string& url) = 0;
    // Listens on *port (0: a free port, written back into *port).
    virtual HRESULT Open(DWORD* port) = 0;
    // Drops every connected viewer (the sink keeps listening).
    virtual HRESULT Disconnect() = 0;
    // Stops listening (and drops the viewers).
    virtual HRESULT Close() = 0;
};

struct IWMWriterAdvanced : IUnknown {
    static constexpr GUID Iid{
        0x96406BE3, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
    using Base = IUnknown;
    virtual HRESULT GetSinkCount(DWORD* count) = 0;
    virtual HRESULT GetSink(DWORD index, IWMWriterSink** sink) = 0;
    virtual HRESULT AddSink(IWMWriterSink* sink) = 0;
    virtual HRESULT RemoveSink(IWMWriterSink* sink) = 0;
    virtual HRESULT SetLiveSource(BOOL) { return S_OK; }
    virtual HRESULT IsRealTime(BOOL*) { return E_NOTIMPL; }
    virtual HRESULT GetWriterTime(LONGLONG*) { return E_NOTIMPL; }
};

struct IWMWriterAdvanced2 : IWMWriterAdvanced {
    static constexpr GUID Iid{
        0x962DC1EC, 0xC046, 0x4DB8, {0x9C, 0xC7, 0x26, 0xCE, 0xAE, 0x50, 0x08, 0x17}};
    using Base = IWMWriterAdvanced;
};

inline constexpr const GUID& IID_IServiceProvider = IServiceProvider::Iid;
inline constexpr const GUID& IID_IConfigAsfWriter = IConfigAsfWriter::Iid;
inline constexpr const GUID& IID_IConfigAsfWriter2 = IConfigAsfWriter2::Iid;
inline constexpr const GUID& IID_IAsfArchive = IAsfArchive::Iid;
inline constexpr const GUID& IID_IWMWriterSink = IWMWriterSink::Iid;
inline constexpr const GUID& IID_IWMWriterNetworkSink = IWMWriterNetworkSink::Iid;
inline constexpr const GUID& IID_IWMWriterAdvanced = IWMWriterAdvanced::Iid;
inline constexpr const GUID& IID_IWMWriterAdvanced2 = IWMWriterAdvanced2::Iid;

inline constexpr GUID CLSID_WMAsfWriter{
    0x7C23220E, 0x55BB, 0x11D3, {0x8B, 0x16, 0x00, 0xC0, 0x4F, 0xB6, 0xBD, 0x3D}};
// Our own class id for the network sink, so that WMCreateWriterNetworkSink
// goes through the class registry (the platform registers its server; tests a fake).
inline constexpr GUID CLSID_WMWriterNetworkSink{
    0x9C1E3A52, 0x6B2D, 0x4F0E, {0x8A, 0x17, 0x3D, 0x5C, 0x0B, 0x7E, 0x2F, 0x41}};

// A new network sink (an added reference in *sink); the class registry's
// failure when none is registered.
HRESULT WMCreateWriterNetworkSink(IWMWriterNetworkSink** sink);

// Windows Media system profiles (version 8).
inline constexpr GUID WMProfile_V80_255VideoPDA{
    0xFEEDBCDF, 0x3FAC, 0x4C93, {0xAC, 0x0D, 0x47, 0x94, 0x1E, 0xC7, 0x2C, 0x0B}};
inline constexpr GUID WMProfile_V80_150VideoPDA{
    0xAEE16DFA, 0x2C14, 0x4A2F, {0xAD, 0x3F, 0xA3, 0x03, 0x40, 0x31, 0x78, 0x4F}};
inline constexpr GUID WMProfile_V80_28856VideoMBR{
    0xD66920C4, 0xC21F, 0x4EC8, {0xA0, 0xB4, 0x95, 0xCF, 0x2B, 0xD5, 0x7F, 0xC4}};
inline constexpr GUID WMProfile_V80_100768VideoMBR{
    0x5BDB5A0E, 0x979E, 0x47D3, {0x95, 0x96, 0x73, 0xB3, 0x86, 0x39, 0x2A, 0x55}};
inline constexpr GUID WMProfile_V80_288100VideoMBR{
    0xD8722C69, 0x2419, 0x4B36, {0xB4, 0xE0, 0x6E, 0x17, 0xB6, 0x05, 0x64, 0xE5}};
inline constexpr GUID WMProfile_V80_288Video{
    0x3DF678D9, 0x1352, 0x4186, {0xBB, 0xF8, 0x74, 0xF0, 0xC1, 0x9B, 0x6A, 0xE2}};
inline constexpr GUID WMProfile_V80_56Video{
    0x254E8A96, 0x2612, 0x405C, {0x80, 0x39, 0xF0, 0xBF, 0x72, 0x5C, 0xED, 0x7D}};
inline constexpr GUID WMProfile_V80_100Video{
    0xA2E300B4, 0xC2D4, 0x4FC0, {0xB5, 0xDD, 0xEC, 0xBD, 0x94, 0x8D, 0xC0, 0xDF}};
inline constexpr GUID WMProfile_V80_256Video{
    0xBBC75500, 0x33D2, 0x4466, {0xB8, 0x6B, 0x12, 0x2B, 0x20, 0x1C, 0xC9, 0xAE}};
inline constexpr GUID WMProfile_V80_384Video{
    0x29B00C2B, 0x09A9, 0x48BD, {0xAD, 0x09, 0xCD, 0xAE, 0x11, 0x7D, 0x1D, 0xA7}};
inline constexpr GUID WMProfile_V80_768Video{
    0x74D01102, 0xE71A, 0x4820, {0x8F, 0x0D, 0x13, 0xD2, 0xEC, 0x1E, 0x48, 0x72}};
inline constexpr GUID WMProfile_V80_700NTSCVideo{
    0xC8C2985F, 0xE5D9, 0x4538, {0x9E, 0x23, 0x9B, 0x21, 0xBF, 0x78, 0xF7, 0x45}};
inline constexpr GUID WMProfile_V80_1400NTSCVideo{
    0x931D1BEE, 0x617A, 0x4BCD, {0x99, 0x05, 0xCC, 0xD0, 0x78, 0x66, 0x83, 0xEE}};
inline constexpr GUID WMProfile_V80_384PALVideo{
    0x9227C692, 0xAE62, 0x4F72, {0xA7, 0xEA, 0x73, 0x60, 0x62, 0xD0, 0xE2, 0x1E}};
inline constexpr GUID WMProfile_V80_700PALVideo{
    0xEC298949, 0x639B, 0x45E2, {0x96, 0xFD, 0x4A, 0xB3, 0x2D, 0x59, 0x19, 0xC2}};
inline constexpr GUID WMProfile_V80_288MonoAudio{
    0x7EA3126D, 0xE1BA, 0x4716, {0x89, 0xAF, 0xF6, 0x5C, 0xEE, 0x0C, 0x0C, 0x67}};
inline constexpr GUID WMProfile_V80_288StereoAudio{
    0x7E4CAB5C, 0x35DC, 0x45BB, {0xA7, 0xC0, 0x19, 0xB2, 0x80, 0x70, 0xD0, 0xCC}};
inline constexpr GUID WMProfile_V80_32StereoAudio{
    0x60907F9F, 0xB352, 0x47E5, {0xB2, 0x10, 0x0E, 0xF1, 0xF4, 0x7E, 0x9F, 0x9D}};
inline constexpr GUID WMProfile_V80_48StereoAudio{
    0x5EE06BE5, 0x492B, 0x480A, {0x8A, 0x8F, 0x12, 0xF3, 0x73, 0xEC, 0xF9, 0xD4}};
inline constexpr GUID WMProfile_V80_64StereoAudio{
    0x09BB5BC4, 0x3176, 0x457F, {0x8D, 0xD6, 0x3C, 0xD9, 0x19, 0x12, 0x3E, 0x2D}};
inline constexpr GUID WMProfile_V80_96StereoAudio{
    0x1FC81930, 0x61F2, 0x436F, {0x9D, 0x33, 0x34, 0x9F, 0x2A, 0x1C, 0x0F, 0x10}};
inline constexpr GUID WMProfile_V80_128StereoAudio{
    0x407B9450, 0x8BDC, 0x4EE5, {0x88, 0xB8, 0x6F, 0x52, 0x7B, 0xD9, 0x41, 0xF2}};
inline constexpr GUID WMProfile_V80_288VideoOnly{
    0x8C45B4C7, 0x4AEB, 0x4F78, {0xA5, 0xEC, 0x88, 0x42, 0x0B, 0x9D, 0xAD, 0xEF}};
inline constexpr GUID WMProfile_V80_56VideoOnly{
    0x6E2A6955, 0x81DF, 0x4943, {0xBA, 0x50, 0x68, 0xA9, 0x86, 0xA7, 0x08, 0xF6}};
inline constexpr GUID WMProfile_V80_FAIRVBRVideo{
    0x3510A862, 0x5850, 0x4886, {0x83, 0x5F, 0xD7, 0x8E, 0xC6, 0xA6, 0x40, 0x42}};
inline constexpr GUID WMProfile_V80_HIGHVBRVideo{
    0x0F10D9D3, 0x3B04, 0x4FB0, {0xA3, 0xD3, 0x88, 0xD4, 0xAC, 0x85, 0x4A, 0xCC}};
inline constexpr GUID WMProfile_V80_BESTVBRVideo{
    0x048439BA, 0x309C, 0x440E, {0x9C, 0xB4, 0x3D, 0xCC, 0xA3, 0x75, 0x64, 0x23}};
