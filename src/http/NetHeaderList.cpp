#include "http/NetHeaderList.h"

#include "common/Text.h"

namespace {
bool IsContinuation(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}
bool IsBreakChar(char c) {
    return c == ' ' || c == '\t' || c == ',';
}
std::string ContinuationPiece(const std::string& piece) {
    std::string out(1, ' ');
    out.append(Trim(piece));
    return out;
}
} // namespace

std::string_view TNetHeaderList::SeparatorCore() const {
    std::string_view core = NameValueSeparator;
    while (!core.empty() && static_cast<unsigned char>(core.back()) <= ' ')
        core.remove_suffix(1);
    return core.empty() ? std::string_view(":") : core;
}

std::string TNetHeaderList::GetNameFromLine(const std::string& line) const {
    const size_t p = line.find(SeparatorCore());
    if (p == std::string::npos) return {};
    std::string name = line.substr(0, p);
    return CaseSensitiveNames ? name : UpperCase(name);
}

std::string TNetHeaderList::GetValueFromLine(int& index) const {
    const std::string& line = (*this)[index];
    const std::string_view core = SeparatorCore();
    const size_t p = line.find(core);
    std::string value = p == std::string::npos ? std::string() : line.substr(p + core.size());
    value = Trim(value);
    if (UnfoldLines) {
        // Appended in place (linear in the block): the pieces that are not
        // blank, one space between them.
        while (index + 1 < Count() && IsContinuation((*this)[index + 1])) {
            ++index;
            const std::string piece = Trim((*this)[index]);
            if (piece.empty()) continue;
            if (!value.empty()) value += ' ';
            value += piece;
        }
    }
    return value;
}

int TNetHeaderList::FieldIndex(std::string_view name) const {
    const std::string_view core = SeparatorCore();
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = (*this)[i];
        const size_t p = line.find(core);
        if (p != std::string::npos && SameText(std::string_view(line).substr(0, p), name)) return i;
    }
    return -1;
}

std::string TNetHeaderList::GetFieldValue(std::string_view name) const {
    int i = FieldIndex(name);
    return i < 0 ? std::string() : GetValueFromLine(i);
}

int TNetHeaderList::ContinuationEnd(int index) const {
    int end = index + 1;
    while (end < Count() && IsContinuation((*this)[end]))
        ++end;
    return end;
}

void TNetHeaderList::DeleteField(int index) {
    const int end = ContinuationEnd(index);
    for (int i = end - 1; i >= index; --i)
        Delete(i);
}

void TNetHeaderList::SetFieldValue(std::string_view name, const std::string& value) {
    int index = FieldIndex(name);
    if (value.empty()) {
        if (index >= 0) DeleteField(index);
        return;
    }
    const std::string line = std::string(name) + NameValueSeparator + value;
    if (!FoldLines) {
        if (index >= 0)
            (*this)[index] = line;
        else
            Add(line);
        return;
    }
    std::vector<std::string> pieces = FoldText(line, FoldLength);
    if (index >= 0) {
        DeleteField(index);
    } else {
        index = Count();
    }
    for (auto& piece : pieces)
        Insert(index++, std::move(piece));
}

void TNetHeaderList::ExtractValues(std::string_view name, TStringList& list) const {
    const std::string_view core = SeparatorCore();
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = (*this)[i];
        const size_t p = line.find(core);
        if (p != std::string::npos && SameText(std::string_view(line).substr(0, p), name)) {
            int j = i;
            list.Add(GetValueFromLine(j));
            i = j;
        }
    }
}

std::vector<std::string> TNetHeaderList::FoldText(const std::string& text, int length) {
    std::vector<std::string> pieces;
    const size_t limit = length > 1 ? static_cast<size_t>(length) : 1;
    std::string rest = text;
    bool first = true;
    while (true) {
        // The budget of a continuation piece includes its leading blank.
        const size_t budget = first ? limit : (limit > 1 ? limit - 1 : 1);
        if (rest.size() <= budget) break;
        // Last break outside quotes within the budget, else the first one after it.
        size_t cut = std::string::npos;
        bool quoted = false;
        for (size_t i = 0; i < rest.size(); ++i) {
            const char c = rest[i];
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && IsBreakChar(c) && i > 0) {
                if (i < budget || cut == std::string::npos) cut = i;
                if (i >= budget) break;
            }
        }
        if (cut == std::string::npos) break; // nothing to cut at
        // A comma stays with the first part; blanks at the cut are dropped.
        size_t head = rest[cut] == ',' ? cut + 1 : cut;
        size_t tail = cut + 1;
        while (tail < rest.size() && IsBreakChar(rest[tail]) && rest[tail] != ',')
            ++tail;
        std::string piece = TrimRight(rest.substr(0, head));
        pieces.push_back(first ? piece : ContinuationPiece(piece));
        first = false;
        rest = rest.substr(tail);
        if (rest.empty()) break;
    }
    if (!rest.empty() || pieces.empty()) {
        std::string piece = TrimRight(rest);
        pieces.push_back(first ? piece : ContinuationPiece(piece));
    }
    return pieces;
}
