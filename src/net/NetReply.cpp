#include "net/NetReply.h"

#include "common/Text.h"

void TNetRFCReply::SetNumericCode(int32_t code) {
    numericCode_ = code;
    if (code > 0) textCode_ = std::to_string(code);
}

void TNetRFCReply::SetTextCode(const std::string& code) {
    textCode_ = code;
    numericCode_ = StrToIntDef(code, 0);
}

void TNetRFCReply::SetReply(int32_t code, const std::string& text) {
    SetNumericCode(code);
    text_.SetText(text);
}

void TNetRFCReply::Clear() {
    numericCode_ = 0;
    textCode_.clear();
    text_.Clear();
}

std::string TNetRFCReply::FormattedReply() const {
    std::string out;
    if (numericCode_ < 1) {
        for (const auto& line : text_)
            out += line + "\r\n";
        return out;
    }
    const std::string code = std::to_string(numericCode_);
    if (text_.Count() == 0) return code + "\r\n";
    for (int i = 0; i < text_.Count(); ++i)
        out += code + (i + 1 < text_.Count() ? "-" : " ") + text_[i] + "\r\n";
    return out;
}

void TNetRFCReply::ParseReply(const TStringList& lines) {
    Clear();
    if (lines.Count() == 0) return;
    std::string code = Trim(lines[0].substr(0, 4));
    if (!code.empty() && code.back() == '-') code.pop_back();
    SetTextCode(code);
    for (const auto& line : lines)
        text_.Add(line.size() > 4 ? line.substr(4) : std::string());
}

TNetRFCReply& TNetRFCReplies::Add(int32_t code, const std::string& text) {
    items_.push_back(std::make_unique<TNetRFCReply>());
    items_.back()->SetReply(code, text);
    return *items_.back();
}

TNetRFCReply* TNetRFCReplies::FindByNumber(int32_t code) const {
    for (const auto& r : items_)
        if (r->NumericCode() == code) return r.get();
    return nullptr;
}

void TNetRFCReplies::FillReply(TNetRFCReply& reply) const {
    if (reply.Text().Count() > 0) return;
    if (const TNetRFCReply* r = FindByNumber(reply.NumericCode())) reply.Text() = r->Text();
}
