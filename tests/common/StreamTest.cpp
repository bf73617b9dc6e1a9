#include "common/Stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string TempName() {
    char tmpl[] = "/tmp/kx_stream_XXXXXX";
    const int fd = ::mkstemp(tmpl);
    ::close(fd);
    return tmpl;
}

TEST(MemoryStream, WriteSeekReadAndOverwriteInside) {
    TMemoryStream m;
    EXPECT_EQ(m.Write("hello world", 11), 11);
    EXPECT_EQ(m.Size(), 11);
    m.SetPosition(6);
    m.WriteBuffer("WORLD", 5);
    EXPECT_EQ(m.Size(), 11); // overwrite in place, no growth
    m.Seek(-5, TSeekOrigin::soEnd);
    char buf[16] = {};
    EXPECT_EQ(m.Read(buf, 16), 5); // short read at the end
    EXPECT_EQ(std::string(buf, 5), "WORLD");
    EXPECT_EQ(m.Read(buf, 1), 0);
    EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
}

TEST(MemoryStream, SetSizeGrowsZeroFilledAndCutClampsPosition) {
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    m.SetSize(6);
    EXPECT_EQ(m.Position(), 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), 6),
              std::string("abc\0\0\0", 6));
    m.SetPosition(5);
    m.SetSize(2);
    EXPECT_EQ(m.Position(), 2);
    EXPECT_EQ(m.Size(), 2);
}

TEST(StringStream, AppendsAndReadsBack) {
    TStringStream s("ab");
    s.Seek(0, TSeekOrigin::soEnd);
    s.WriteString("cd");
    EXPECT_EQ(s.DataString(), "abcd");
    s.SetPosition(1);
    EXPECT_EQ(s.ReadString(10), "bcd");
    s.SetSize(1);
    EXPECT_EQ(s.DataString(), "a");
}

TEST(Stream, CopyFromWholeSourceAndPartialCount) {
    std::string big(200000, 'x');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    TStringStream src(big);
    src.SetPosition(500); // count 0 ignores the position: copies all from the start
    TMemoryStream dst;
    EXPECT_EQ(dst.CopyFrom(src, 0), 200000);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.Memory()), 200000), big);

    src.SetPosition(10);
    TStringStream part;
    EXPECT_EQ(part.CopyFrom(src, 5), 5);
    EXPECT_EQ(part.DataString(), big.substr(10, 5));
    src.Seek(-3, TSeekOrigin::soEnd);
    EXPECT_THROW(part.CopyFrom(src, 4), EReadError);
}

TEST(FileStream, CreateWriteReopenReadAndTruncate) {
    const std::string name = TempName();
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("0123456789", 10);
        f.SetSize(4);
        EXPECT_EQ(f.Size(), 4);
        EXPECT_EQ(f.Position(), 4);
    }
    TMemoryStream m;
    m.LoadFromFile(name);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.Memory()), 4), "0123");
    {
        TFileStream f(name, fmOpenRead | fmShareDenyWrite);
        EXPECT_EQ(f.Write("z", 1), 0); // read-only handle
        char c = 0;
        f.Seek(2, TSeekOrigin::soBeginning);
        f.ReadBuffer(&c, 1);
        EXPECT_EQ(c, '2');
    }
    std::remove(name.c_str());
}

TEST(FileStream, MissingFileAndDirectoryRaiseOpenErrorNamingTheFile) {
    try {
        TFileStream f("/nonexistent/kx_nofile", fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"/nonexistent/kx_nofile\". ", 0), 0u);
    }
    EXPECT_THROW(TFileStream("/tmp", fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream("/nonexistent/x", fmCreate), EFCreateError);
}

} // namespace
