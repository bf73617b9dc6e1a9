#pragma once
// Numbered line-protocol replies ("220 ready", "250-first\r\n250 last"), used
// by a connection's greeting and command results.
#include "common/StringList.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TNetRFCReply {
  public:
    int32_t NumericCode() const noexcept { return numericCode_; }
    // A code above 0 also sets TextCode to its decimal text.
    void SetNumericCode(int32_t code);
    const std::string& TextCode() const noexcept { return textCode_; }
    // Also sets NumericCode from it (0 when it is not a number).
    void SetTextCode(const std::string& code);
    TStringList& Text() noexcept { return text_; }
    const TStringList& Text() const noexcept { return text_; }

    void SetReply(int32_t code, const std::string& text);
    void Clear();
    // Code < 1: the lines; a code and no lines: the code; otherwise "code-line"
    // for all lines but the last, "code line" for the last. Each ends in CR LF.
    std::string FormattedReply() const;
    // TextCode from the first four characters of the first line (trimmed, a
    // trailing "-" dropped); Text from characters 5 onward of every line.
    void ParseReply(const TStringList& lines);

  private:
    int32_t numericCode_ = 0;
    std::string textCode_;
    TStringList text_;
};

class TNetRFCReplies {
  public:
    TNetRFCReply& Add(int32_t code, const std::string& text);
    // nullptr when no reply has that code.
    TNetRFCReply* FindByNumber(int32_t code) const;
    // Copies the collection's text for reply's code, only when reply has none.
    void FillReply(TNetRFCReply& reply) const;
    int Count() const noexcept { return static_cast<int>(items_.size()); }

  private:
    std::vector<std::unique_ptr<TNetRFCReply>> items_;
};
