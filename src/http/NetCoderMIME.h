#pragma once
// Base64 ("MIME") coding: three bytes to four characters of a coding table
// and back, with a fill character for the last, short group.
#include "common/Stream.h"

#include <array>
#include <cstdint>
#include <string>

class TNetEncoder3to4 {
  public:
    explicit TNetEncoder3to4(std::string codingTable, char fillChar);
    virtual ~TNetEncoder3to4() = default;

    const std::string& CodingTable() const { return codingTable_; }
    char FillChar() const { return fillChar_; }

    std::string Encode(const std::string& bytes) const;

  private:
    std::string codingTable_;
    char fillChar_;
};

class TNetDecoder4to3 {
  public:
    explicit TNetDecoder4to3(std::string codingTable, char fillChar);
    virtual ~TNetDecoder4to3() = default;

    const std::string& CodingTable() const { return codingTable_; }
    char FillChar() const { return fillChar_; }

    // Raises ENetException "Uneven size in DecodeToStream." unless the length
    // is a multiple of 4.
    void DecodeToStream(const std::string& text, TStream& dest) const;
    std::string Decode(const std::string& text) const;

  private:
    std::string codingTable_;
    char fillChar_;
    std::array<uint8_t, 256> decodeTable_{}; // 255 for characters outside the table
};

class TNetEncoderMIME : public TNetEncoder3to4 {
  public:
    TNetEncoderMIME();
};

class TNetDecoderMIME : public TNetDecoder4to3 {
  public:
    TNetDecoderMIME();
};

extern const char* const kNetBase64CodeTable;

std::string EncodeBase64Text(const std::string& text);
std::string DecodeBase64Text(const std::string& text);
