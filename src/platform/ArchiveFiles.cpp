#include "platform/ArchiveFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path FolderOf(const fs::path& path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// "<stem>-YYYYMMDD-HHMMSS" optionally followed by "-N", then the extension.
std::regex KeptPattern(const fs::path& path) {
    std::string stem = path.stem().string(), ext = path.extension().string();
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    stem = std::regex_replace(stem, special, R"(\$&)");
    ext = std::regex_replace(ext, special, R"(\$&)");
    return std::regex(stem + R"(-\d{8}-\d{6}(-\d+)?)" + ext);
}

uint64_t FreeBytes(const fs::path& folder) {
    struct statvfs s {};
    if (::statvfs(folder.c_str(), &s) != 0) return UINT64_MAX;
    return uint64_t(s.f_bavail) * s.f_frsize;
}

} // namespace

std::time_t ArchiveStartTime(const std::string& path) {
    struct statx s {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &s) != 0) return 0;
    if ((s.stx_mask & STATX_BTIME) && s.stx_btime.tv_sec > 0) return s.stx_btime.tv_sec;
    return s.stx_mtime.tv_sec;
}

std::string RotatedArchiveName(const std::string& path, std::time_t start) {
    const fs::path p(path);
    std::tm local{};
    localtime_r(&start, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", &local);
    const fs::path folder = FolderOf(p);
    const std::string base = p.stem().string() + stamp, ext = p.extension().string();
    std::error_code ec;
    fs::path name = p.has_parent_path() ? folder / (base + ext) : fs::path(base + ext);
    for (int n = 2; fs::exists(fs::symlink_status(name, ec)); ++n)
        name = p.has_parent_path() ? folder / (base + "-" + std::to_string(n) + ext)
                                   : fs::path(base + "-" + std::to_string(n) + ext);
    return name.string();
}

std::string KeepArchive(const std::string& path, std::error_code& ec) {
    ec.clear();
    struct stat s {};
    if (::lstat(path.c_str(), &s) != 0 || !S_ISREG(s.st_mode)) return {};
    if (s.st_size == 0) {
        ::unlink(path.c_str());
        return {};
    }
    const std::string kept = RotatedArchiveName(path, ArchiveStartTime(path));
    // link + unlink never replaces a file that appeared under the new name meanwhile.
    if (::link(path.c_str(), kept.c_str()) != 0 || ::unlink(path.c_str()) != 0) {
        ec.assign(errno, std::generic_category());
        return {};
    }
    return kept;
}

std::vector<std::string> KeptArchives(const std::string& path) {
    const fs::path p(path);
    const std::regex pattern = KeptPattern(p);
    std::vector<std::pair<std::time_t, std::string>> found;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(FolderOf(p), ec)) {
        const std::string name = e.path().filename().string();
        if (!std::regex_match(name, pattern) || !e.is_regular_file(ec)) continue;
        const std::string full = p.has_parent_path() ? e.path().string() : name;
        found.emplace_back(ArchiveStartTime(full), full);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& f : found)
        names.push_back(std::move(f.second));
    return names;
}

std::vector<std::string> PruneArchives(const std::string& path,
                                       const TArchiveRetention& retention) {
    std::vector<std::string> kept = KeptArchives(path), removed;
    const fs::path folder = FolderOf(fs::path(path));
    std::error_code ec;
    uint64_t total = 0;
    for (const std::string& k : kept)
        total += fs::file_size(k, ec);
    for (const std::string& oldest : kept) {
        const bool over = retention.KeepBytes > 0 ? total > retention.KeepBytes
                                                  : FreeBytes(folder) < retention.MinFreeBytes;
        if (!over) break;
        const uint64_t size = fs::file_size(oldest, ec);
        if (::unlink(oldest.c_str()) != 0) continue;
        total -= std::min(total, size);
        removed.push_back(oldest);
    }
    return removed;
}

std::string FolderWriteProblem(const std::string& folder) {
    const std::string shown = folder.empty() ? std::string(".") : folder;
    std::error_code ec;
    std::string absolute = fs::absolute(shown, ec).lexically_normal().string();
    if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    const std::string name = (fs::path(shown) / ".kavaroxp-write-test").string();
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(name.c_str());
        return {};
    }
    const int error = errno;
    if (error == EEXIST) return {}; // a leftover of a run that was killed: the folder is writable
    return "The archive cannot be written in the folder \"" +
           (absolute.empty() ? shown : absolute) + "\": " + std::strerror(error) + ".";
}
