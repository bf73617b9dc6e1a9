#pragma once
// TNetHeaderList: raw header lines ("Name: value") in arrival order, with
// lookup by name, in-place replacement, and folding/unfolding of long values.
#include "common/StringList.h"

#include <string>
#include <string_view>
#include <vector>

class TNetHeaderList : public TStringList {
  public:
    TNetHeaderList() = default;

    std::string NameValueSeparator = ": ";
    bool CaseSensitiveNames = false; // when false, names are upper-cased by name lookup
    bool UnfoldLines = true;         // reading a value joins its continuation lines
    bool FoldLines = true;           // setting a value folds it into several lines
    int FoldLength = 78;

    // Name of a line: the text before the first ':' (upper-cased unless
    // CaseSensitiveNames); empty when the line has no ':'.
    std::string GetNameFromLine(const std::string& line) const;
    // Value of the line at index, joined with its continuation lines when
    // UnfoldLines; index is left on the last line read.
    std::string GetValueFromLine(int& index) const;

    int FieldIndex(std::string_view name) const; // case-insensitive, -1 when absent
    std::string GetFieldValue(std::string_view name) const;
    // Replaces the named line in place (or appends it); an empty value deletes it.
    void SetFieldValue(std::string_view name, const std::string& value);
    // Appends the value of every line with that name to list, in order.
    void ExtractValues(std::string_view name, TStringList& list) const;

    // Cuts text at tab, space or ',' outside double quotes so that pieces stay
    // near length; the first piece is returned first, the others start with a blank.
    static std::vector<std::string> FoldText(const std::string& text, int length);

  private:
    std::string_view SeparatorCore() const; // the separator without trailing blanks
    int ContinuationEnd(int index) const;   // first index after index's continuation lines
    void DeleteField(int index);
};
