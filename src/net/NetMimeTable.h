#pragma once
// File-extension to MIME type table: a built-in table updated from the
// system's list (/etc/mime.types, whose pairs replace built-in ones).
#include "common/StringList.h"
#include "net/NetException.h"

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TNetMimeTable {
  public:
    using TBuildCacheEvent = std::function<void(TNetMimeTable& table)>;

    // With fillNow the cache is built at once (see BuildCache).
    explicit TNetMimeTable(bool fillNow = true);
    TNetMimeTable(const TNetMimeTable&) = delete;
    TNetMimeTable& operator=(const TNetMimeTable&) = delete;
    virtual ~TNetMimeTable() = default;

    // Both lower-cased; a missing leading "." is added. Raises ENetException
    // "Extension is empty", "Mimetype is empty" or "Extension already exits".
    void AddMimeType(std::string_view extension, std::string_view mimeType);
    // Runs OnBuildCache when set; otherwise fills the default table when the
    // table is empty.
    virtual void BuildCache();
    // Replaces the table with the lines "extension<separator>type". Lines with
    // an empty extension or one already loaded are skipped (the first wins);
    // a line without a type raises as AddMimeType does.
    void LoadFromStrings(const TStringList& lines, char separator = '=');
    // Type of the file's extension (ASCII case ignored); when it is unknown the
    // cache is built once more; "application/octet-stream" when still unknown.
    std::string MimeTypeOfFile(std::string_view fileName);

    int Count() const;
    // Copies of the two parallel lists, in table order.
    std::vector<std::string> Extensions() const;
    std::vector<std::string> MimeTypes() const;

    // The system list read by the default cache; empty = none.
    const std::string& SystemTypesFile() const { return systemTypesFile_; }
    void SetSystemTypesFile(std::string path) { systemTypesFile_ = std::move(path); }

    // Assign before the first lookup; it runs instead of the default cache.
    TBuildCacheEvent OnBuildCache;

    // The built-in lines "extension=type", in table order.
    static const std::vector<std::string>& BuiltInLines();
    // Applies the pairs of a mime.types text ("type ext1 ext2 ...", "#" starts a
    // comment) to `lines`: each replaces the line of its extension or is added.
    static void ApplySystemTypes(std::string_view mimeTypesText, TStringList& lines);

  protected:
    // Built-in lines, then the system list; loaded with "=".
    virtual void BuildDefaultCache();

  private:
    void AddLocked(std::string extension, std::string mimeType);
    bool LookupLocked(const std::string& extension, std::string& mimeType) const;

    mutable std::mutex lock_; // guards extensions_, mimeTypes_ and index_
    std::vector<std::string> extensions_;
    std::vector<std::string> mimeTypes_;
    std::unordered_map<std::string, size_t> index_; // extension -> position
    std::string systemTypesFile_ = "/etc/mime.types";
};
