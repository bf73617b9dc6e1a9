#pragma once
// TStringList: an ordered list of single-byte strings, with "name=value"
// access for lists used as dictionaries (parameters, session values).
#include "common/Exception.h"

#include <string>
#include <string_view>
#include <vector>

class EStringListError : public Exception {
  public:
    using Exception::Exception;
};

class TStringList {
  public:
    TStringList() = default;
    virtual ~TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;
    TStringList(TStringList&&) noexcept = default;
    TStringList& operator=(TStringList&&) noexcept = default;

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    bool Empty() const noexcept { return items_.empty(); }
    // Indexed access; an index outside 0..Count()-1 raises EStringListError
    // "List index out of bounds (<i>)".
    const std::string& operator[](int index) const;
    std::string& operator[](int index);
    const std::string& Strings(int index) const { return (*this)[index]; }
    void SetString(int index, std::string s) { (*this)[index] = std::move(s); }

    int Add(std::string s);                // returns the new index
    void Insert(int index, std::string s); // index may be Count() (appends)
    void Delete(int index);
    void Clear() noexcept { items_.clear(); }
    void AddStrings(const TStringList& other);

    // Whole-entry search; case-insensitive (ASCII) unless CaseSensitive is set.
    // -1 when absent.
    int IndexOf(std::string_view s) const;
    bool CaseSensitive() const noexcept { return caseSensitive_; }
    void SetCaseSensitive(bool v) noexcept { caseSensitive_ = v; }

    // name=value access: the name is the text before the first '=', the value
    // the text after it. An entry without '=' has an empty name and value.
    std::string Names(int index) const;
    std::string ValueFromIndex(int index) const;
    // First entry whose name matches, ignoring ASCII case; -1 when absent.
    int IndexOfName(std::string_view name) const;
    // Value of the first entry named name; empty when there is none.
    std::string Values(std::string_view name) const;
    // Replaces the first entry named name, or appends "name=value". An empty
    // value deletes the entry instead, so Values() of it reads empty again.
    void SetValue(std::string_view name, std::string_view value);

    // Every entry followed by CR LF ("a\r\nb\r\n"); empty list -> "".
    std::string Text() const;
    // Replaces the content with the lines of text, split at CR LF or LF; a
    // final line break does not add an empty entry.
    void SetText(std::string_view text);

    std::vector<std::string>::const_iterator begin() const noexcept { return items_.begin(); }
    std::vector<std::string>::const_iterator end() const noexcept { return items_.end(); }

  private:
    void CheckIndex(int index, bool allowEnd = false) const;

    std::vector<std::string> items_;
    bool caseSensitive_ = false;
};
