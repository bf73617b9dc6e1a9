#pragma once
// The broadcast archive's files: a finished archive is kept under a name
// carrying its start time ("brim-20261209-143000.asf" beside "brim.asf"),
// and the oldest of those kept files give way when the disk runs short or
// they pass a size limit. The running archive itself is never touched.
//
// The start time is the file's birth time (statx), or its modification time
// where the filesystem keeps none. The ASF header's creation date is not
// used: this platform's multiplexer writes it hours off.
#include <cstdint>
#include <ctime>
#include <string>
#include <system_error>
#include <vector>

struct TArchiveRetention {
    // The kept archives together stay within this many bytes; 0: no limit.
    uint64_t KeepBytes = 0;
    // While less than this is free on the archive's disk, the oldest kept
    // archive goes (without a size limit only).
    uint64_t MinFreeBytes = uint64_t(1) << 30;
};

// When the file at path began (seconds since the epoch); 0 when it cannot be read.
std::time_t ArchiveStartTime(const std::string& path);
// "<folder>/<stem>-YYYYMMDD-HHMMSS<ext>" of path in local time; with "-2",
// "-3", ... before the extension while that name is taken.
std::string RotatedArchiveName(const std::string& path, std::time_t start);
// An existing non-empty file at path is renamed to its rotated name, which
// is returned; empty when there was nothing to keep (an empty file is
// removed) or the rename failed (ec set).
std::string KeepArchive(const std::string& path, std::error_code& ec);
// The kept archives of path (its stem's rotated names in its folder), oldest first.
std::vector<std::string> KeptArchives(const std::string& path);
// Removes the oldest kept archives of path as retention asks; returns their names.
std::vector<std::string> PruneArchives(const std::string& path, const TArchiveRetention& retention);
// Why a file cannot be created in folder (its message names the folder);
// empty when it can. Tried for real: a file made and removed again.
std::string FolderWriteProblem(const std::string& folder);
