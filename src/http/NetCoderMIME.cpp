#include "http/NetCoderMIME.h"

#include "net/NetException.h"

const char* const kNetBase64CodeTable =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

TNetEncoder3to4::TNetEncoder3to4(std::string codingTable, char fillChar)
    : codingTable_(std::move(codingTable)), fillChar_(fillChar) {
    codingTable_.resize(64, '?');
}

std::string TNetEncoder3to4::Encode(const std::string& bytes) const {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
        if (n > 1) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
        if (n > 2) group |= static_cast<uint8_t>(bytes[i + 2]);
        out += codingTable_[(group >> 18) & 63];
        out += codingTable_[(group >> 12) & 63];
        out += n > 1 ? codingTable_[(group >> 6) & 63] : fillChar_;
        out += n > 2 ? codingTable_[group & 63] : fillChar_;
    }
    return out;
}

TNetDecoder4to3::TNetDecoder4to3(std::string codingTable, char fillChar)
    : codingTable_(std::move(codingTable)), fillChar_(fillChar) {
    decodeTable_.fill(255);
    for (size_t i = 0; i < codingTable_.size() && i < 64; ++i)
        decodeTable_[static_cast<uint8_t>(codingTable_[i])] = static_cast<uint8_t>(i);
}

void TNetDecoder4to3::DecodeToStream(const std::string& text, TStream& dest) const {
    if (text.size() % 4 != 0) throw ENetException("Uneven size in DecodeToStream.");
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k)
            group = (group << 6) | (decodeTable_[static_cast<uint8_t>(text[i + k])] & 63u);
        const uint8_t bytes[3] = {static_cast<uint8_t>(group >> 16),
                                  static_cast<uint8_t>(group >> 8), static_cast<uint8_t>(group)};
        int count = 3;
        if (text[i + 2] == fillChar_)
            count = 1;
        else if (text[i + 3] == fillChar_)
            count = 2;
        dest.WriteBuffer(bytes, count);
    }
}

std::string TNetDecoder4to3::Decode(const std::string& text) const {
    TStringStream out;
    DecodeToStream(text, out);
    return out.DataString();
}

TNetEncoderMIME::TNetEncoderMIME() : TNetEncoder3to4(kNetBase64CodeTable, '=') {}
TNetDecoderMIME::TNetDecoderMIME() : TNetDecoder4to3(kNetBase64CodeTable, '=') {}

std::string EncodeBase64Text(const std::string& text) {
    return TNetEncoderMIME().Encode(text);
}
std::string DecodeBase64Text(const std::string& text) {
    return TNetDecoderMIME().Decode(text);
}
