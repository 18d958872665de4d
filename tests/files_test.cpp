#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>
#include <filesystem>

#include "FileFaults.h"
#include "FileIo.h"
#include "ReceivedFile.h"
#include "TempDir.h"

using namespace fbx;
using fbx::test::fileBytes;
namespace fs = std::filesystem;

namespace {

struct Files : ::testing::Test {
    fbx::test::TempDir dir;
    std::string target = dir.file("O1000.nc");
    ~Files() override {
        // A failure a slipped code never asked for must not hit the next test.
        fbx::test::failNextFsync(0);
    }
};

}  // namespace

// An append the disk cuts short is taken back to the size before it, so that
// a retry never doubles text; what cannot be taken back is accounted for.
TEST_F(Files, AFailedAppendIsTakenBackOrAccountedFor) {
    for (int truncateError : {0, EIO}) {
        const std::string path = dir.file(truncateError ? "b.nc" : "a.nc");
        ReceivedFile file(path);
        ASSERT_TRUE(file.prepare().isOk());
        ASSERT_TRUE(file.append("%\r\n").status.isOk());
        const std::string text(3000, 'C');
        ReceivedFile::Written w;
        {
            fbx::test::FileSizeLimit full(5 + 1000);  // the disk fills up part-way
            fbx::test::failNextTruncate(truncateError);
            w = file.append(text);
        }
        EXPECT_FALSE(w.status.isOk());
        EXPECT_EQ(w.written, truncateError ? 1000u : 0u);
        EXPECT_EQ(fs::file_size(path), 5u + w.written);
        ASSERT_TRUE(file.append(std::string_view(text).substr(w.written)).status.isOk());
        ASSERT_TRUE(file.finish().isOk());
        EXPECT_TRUE(fileBytes(path) == "\r\n%\r\n" + text);
    }
}

// Removed, or replaced by another file (of the very size the reception had
// written, so that only the file's identity tells): the reception moves
// beside the target, whole, and the operator's file is left alone.
TEST_F(Files, ARemovedOrReplacedTargetMovesTheWholeReceptionBesideIt) {
    const std::string other = "O2000 (OP)\r\n";
    for (bool replaced : {false, true}) {
        ReceivedFile file(target);
        ASSERT_TRUE(file.prepare().isOk());
        ASSERT_TRUE(file.append("%\r\nO1000\r\n").status.isOk());
        ASSERT_EQ(file.size(), static_cast<std::int64_t>(other.size()));
        fs::remove(target);
        if (replaced) {
            ASSERT_TRUE(writeWholeFile(dir.file("other"), other).isOk());
            fs::rename(dir.file("other"), target);
        }
        ReceivedFile::Written w = file.append("G01 X1\r\n");
        ASSERT_TRUE(w.status.isOk());
        EXPECT_TRUE(w.movedNow) << replaced;
        const std::string moved =
            dir.file(replaced ? "O1000-recovered-2.nc" : "O1000-recovered.nc");
        EXPECT_EQ(file.path(), moved);
        EXPECT_FALSE(file.append("M30\r\n").movedNow);  // told once; the rest follows it
        ASSERT_TRUE(file.finish().isOk());
        EXPECT_EQ(fileBytes(moved), "\r\n%\r\nO1000\r\nG01 X1\r\nM30\r\n");
        EXPECT_EQ(file.lostBytes(), 0);
    }
    EXPECT_EQ(fileBytes(target), other);
}

TEST_F(Files, TextChangedInPlaceByAnotherProgramIsCountedAsLost) {
    ReceivedFile file(target);
    ASSERT_TRUE(file.prepare().isOk());
    ASSERT_TRUE(file.append("%\r\nO1000\r\n").status.isOk());
    ASSERT_TRUE(writeWholeFile(target, "edited by another program").isOk());  // same file
    ReceivedFile::Written w = file.append("G01\r\n");
    ASSERT_TRUE(w.status.isOk());
    EXPECT_TRUE(file.moved());
    EXPECT_EQ(file.lostBytes(), 10);
    EXPECT_EQ(fileBytes(file.path()), "\r\nG01\r\n");
}

// A write error the system holds back until the file is flushed is the end
// of a reception that did not reach the disk.
TEST_F(Files, FinishReportsAnErrorTheSystemHeldBack) {
    ReceivedFile file(target);
    ASSERT_TRUE(file.prepare().isOk());
    ASSERT_TRUE(file.append("G01\r\n").status.isOk());
    fbx::test::failNextFsync(EIO);
    Status st = file.finish();
    EXPECT_FALSE(st.isOk());
    EXPECT_NE(st.message().find(target), std::string::npos);
}

// A disk that fills up, or that cannot flush what was written, leaves the
// old file as it was and no new file beside it.
TEST_F(Files, ReplacingAFileIsAllOrNothing) {
    const std::string cfg = dir.file("shop.cfg");
    ASSERT_TRUE(writeWholeFile(cfg, "old settings").isOk());
    ASSERT_EQ(chmod(cfg.c_str(), 0640), 0);
    fs::create_symlink(cfg, dir.file("link.cfg"));
    {
        fbx::test::FileSizeLimit full(5);
        EXPECT_FALSE(replaceFile(dir.file("link.cfg"), "new settings, longer").isOk());
    }
    fbx::test::failNextFsync(EIO);
    EXPECT_FALSE(replaceFile(dir.file("link.cfg"), "new settings").isOk());
    EXPECT_EQ(fileBytes(cfg), "old settings");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);  // no file beside it

    ASSERT_TRUE(replaceFile(dir.file("link.cfg"), "new settings").isOk());
    EXPECT_TRUE(fs::is_symlink(dir.file("link.cfg")));  // the link still points there
    EXPECT_EQ(fileBytes(cfg), "new settings");
    struct stat st {};
    ASSERT_EQ(stat(cfg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}
