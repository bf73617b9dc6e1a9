// The archive's kept files: names that never replace one another, an
// earlier archive kept before a new one begins, the oldest kept ones pruned
// (never the running one), and a folder that cannot take a file named.
#include "platform/ArchiveFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct TFolder {
    fs::path Path;
    TFolder() {
        char pattern[] = "/tmp/kx-archive-XXXXXX";
        Path = mkdtemp(pattern);
    }
    ~TFolder() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    std::string Write(const std::string& name, size_t bytes) const {
        std::ofstream(Path / name) << std::string(bytes, 'x');
        return (Path / name).string();
    }
};

TEST(ArchiveFiles, AnEarlierArchiveIsKeptUnderItsStartAndNeverReplacesAnother) {
    TFolder dir;
    const std::string running = (dir.Path / "brim.asf").string();
    std::error_code ec;
    EXPECT_EQ(KeepArchive(running, ec), ""); // nothing there
    EXPECT_FALSE(ec);

    dir.Write("brim.asf", 0); // an empty one holds nothing worth keeping
    EXPECT_EQ(KeepArchive(running, ec), "");
    EXPECT_FALSE(fs::exists(running));

    const std::time_t start = std::time(nullptr);
    std::vector<std::string> kept;
    for (int i = 0; i < 3; ++i) {
        dir.Write("brim.asf", 100 + i);
        kept.push_back(KeepArchive(running, ec));
        ASSERT_FALSE(ec) << ec.message();
        EXPECT_FALSE(fs::exists(running));
        EXPECT_EQ(fs::file_size(kept.back()), 100u + i);
    }
    // Three starts within a second or two: the later ones take a suffix.
    const std::string stamp = RotatedArchiveName("brim.asf", start).substr(0, 20);
    EXPECT_EQ(fs::path(kept[0]).filename().string().substr(0, 20), stamp);
    EXPECT_NE(kept[0], kept[1]);
    EXPECT_NE(kept[1], kept[2]);
    EXPECT_EQ(RotatedArchiveName("a/b.asf", 0).substr(0, 4), "a/b-");
    EXPECT_EQ(KeptArchives(running).size(), 3u);
}

TEST(ArchiveFiles, TheOldestKeptArchivesGoFirstAndTheRunningOneStays) {
    TFolder dir;
    const std::string running = dir.Write("brim.asf", 5000);
    dir.Write("brim-20260101-000000.asf", 1000);
    dir.Write("brim-20260102-000000.asf", 1000);
    dir.Write("brim-20260103-000000-2.asf", 1000);
    dir.Write("other-20260101-000000.asf", 1000); // not ours
    // Their start is their birth: make the order explicit.
    TArchiveRetention retention;
    retention.KeepBytes = 2000;
    const std::vector<std::string> removed = PruneArchives(running, retention);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(KeptArchives(running).size(), 2u);
    EXPECT_TRUE(fs::exists(running));
    EXPECT_TRUE(fs::exists(dir.Path / "other-20260101-000000.asf"));

    // Without a size limit, only a disk short of free space removes any.
    TArchiveRetention roomy;
    EXPECT_TRUE(PruneArchives(running, roomy).empty());
    TArchiveRetention starved;
    starved.MinFreeBytes = UINT64_MAX;
    EXPECT_EQ(PruneArchives(running, starved).size(), 2u);
    EXPECT_TRUE(fs::exists(running));
}

TEST(ArchiveFiles, AFolderThatCannotTakeAFileIsNamed) {
    TFolder dir;
    EXPECT_EQ(FolderWriteProblem(dir.Path.string()), "");
    const std::string problem = FolderWriteProblem("/proc/no-such-folder");
    EXPECT_NE(problem.find("\"/proc/no-such-folder\""), std::string::npos) << problem;
    if (::geteuid() != 0) { // root writes anywhere
        ::chmod(dir.Path.c_str(), 0500);
        EXPECT_NE(FolderWriteProblem(dir.Path.string()).find(dir.Path.string()), std::string::npos);
        ::chmod(dir.Path.c_str(), 0700);
    }
}

} // namespace
