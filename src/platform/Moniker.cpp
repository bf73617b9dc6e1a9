#include "platform/Moniker.h"

#include "platform/ClassRegistry.h"

namespace {
constexpr size_t kClassIdSize = 16;

void PutLE(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint64_t GetLE(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}
} // namespace

HRESULT OleSaveToStream(IPersistStream* object, std::vector<uint8_t>& stream) {
    if (!object) return E_POINTER;
    CLSID clsid{};
    HRESULT hr = object->GetClassID(&clsid);
    if (FAILED(hr)) return hr;
    std::vector<uint8_t> bytes;
    PutLE(bytes, clsid.Data1, 4);
    PutLE(bytes, clsid.Data2, 2);
    PutLE(bytes, clsid.Data3, 2);
    bytes.insert(bytes.end(), clsid.Data4, clsid.Data4 + 8);
    hr = object->Save(bytes, 1);
    if (FAILED(hr)) return hr;
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    return S_OK;
}

HRESULT OleLoadFromStream(std::span<const uint8_t> stream, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (stream.size() < kClassIdSize) return STG_E_READFAULT;
    CLSID clsid{};
    clsid.Data1 = static_cast<uint32_t>(GetLE(stream.data(), 4));
    clsid.Data2 = static_cast<uint16_t>(GetLE(stream.data() + 4, 2));
    clsid.Data3 = static_cast<uint16_t>(GetLE(stream.data() + 6, 2));
    for (int i = 0; i < 8; ++i)
        clsid.Data4[i] = stream[8 + i];
    ComPtr<IPersistStream> object;
    HRESULT hr = CreateInstance(clsid, object);
    if (FAILED(hr)) return hr;
    hr = object->Load(stream.subspan(kClassIdSize));
    if (FAILED(hr)) return hr;
    return object->QueryInterface(iid, out);
}
