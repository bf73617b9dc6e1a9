#include "common/StringList.h"

#include "common/Text.h"

const std::string& TStringList::operator[](int index) const {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)];
}

std::string& TStringList::operator[](int index) {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)];
}

void TStringList::CheckIndex(int index, bool allowEnd) const {
    if (index < 0 || index > Count() || (index == Count() && !allowEnd))
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

int TStringList::Add(std::string s) {
    items_.push_back(std::move(s));
    return Count() - 1;
}

void TStringList::Insert(int index, std::string s) {
    CheckIndex(index, true);
    items_.insert(items_.begin() + index, std::move(s));
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    items_.erase(items_.begin() + index);
}

void TStringList::AddStrings(const TStringList& other) {
    items_.insert(items_.end(), other.items_.begin(), other.items_.end());
}

int TStringList::IndexOf(std::string_view s) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& item = items_[static_cast<size_t>(i)];
        if (caseSensitive_ ? item == s : SameText(item, s)) return i;
    }
    return -1;
}

std::string TStringList::Names(int index) const {
    const std::string& item = (*this)[index];
    const size_t eq = item.find('=');
    return eq == std::string::npos ? std::string() : item.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& item = (*this)[index];
    const size_t eq = item.find('=');
    return eq == std::string::npos ? std::string() : item.substr(eq + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& item = items_[static_cast<size_t>(i)];
        const size_t eq = item.find('=');
        if (eq != std::string::npos && SameText(std::string_view(item).substr(0, eq), name))
            return i;
    }
    return -1;
}

std::string TStringList::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string entry = std::string(name) + "=" + std::string(value);
    if (i >= 0)
        items_[static_cast<size_t>(i)] = std::move(entry);
    else
        items_.push_back(std::move(entry));
}

std::string TStringList::Text() const {
    size_t len = 0;
    for (const auto& s : items_)
        len += s.size() + 2;
    std::string out;
    out.reserve(len);
    for (const auto& s : items_) {
        out += s;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(std::string_view text) {
    items_.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            items_.emplace_back(text.substr(start));
            break;
        }
        size_t end = lf;
        if (end > start && text[end - 1] == '\r') --end;
        items_.emplace_back(text.substr(start, end - start));
        start = lf + 1;
    }
}
