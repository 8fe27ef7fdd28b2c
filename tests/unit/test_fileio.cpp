#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/fileio.h"

namespace {

class FileIo : public testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/tern_fileio_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    chmod(dir.c_str(), 0700);
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  std::string path(const char* name) { return dir + "/" + name; }
  void write(const std::string& p, const void* data, size_t n) {
    FILE* f = fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(data, 1, n, f);
    fclose(f);
  }
  int countEntries() {
    DIR* d = opendir(dir.c_str());
    if (!d) return -1;
    int entries = 0;
    while (dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) entries++;
    closedir(d);
    return entries;
  }
  std::string slurp(const std::string& p) {
    FILE* f = fopen(p.c_str(), "rb");
    if (!f) return "<missing>";
    std::string s;
    int c;
    while ((c = fgetc(f)) != EOF) s += (char)c;
    fclose(f);
    return s;
  }
};

}  // namespace

TEST_F(FileIo, ReadTakesEveryByteUnchanged) {
  write(path("a"), "A\r\nB\0 x", 7);
  unsigned char buf[16];
  memset(buf, 0xEE, sizeof buf);
  EXPECT_EQ(read_file(path("a").c_str(), buf, sizeof buf), 7);
  EXPECT_EQ(0, memcmp(buf, "A\r\nB\0 x", 7));
  EXPECT_EQ(buf[7], 0xEE) << "no terminator is added";
}

TEST_F(FileIo, EmptyAndMissingFiles) {
  write(path("empty"), "", 0);
  unsigned char buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(read_file(path("empty").c_str(), buf, sizeof buf), 0);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(read_file(path("missing").c_str(), buf, sizeof buf), -1);
}

TEST_F(FileIo, ReadStopsAtCapacity) {
  write(path("big"), "0123456789", 10);
  unsigned char buf[8];
  memset(buf, 0xEE, sizeof buf);
  EXPECT_EQ(read_file(path("big").c_str(), buf, 4), 4);
  EXPECT_EQ(0, memcmp(buf, "0123", 4));
  EXPECT_EQ(buf[4], 0xEE);
}

TEST_F(FileIo, ReadOfADirectoryEndsAtTheReadError) {
  unsigned char buf[8];
  // Opening a directory succeeds on Linux, reading it fails: the loop must end.
  EXPECT_EQ(read_file(dir.c_str(), buf, sizeof buf), 0);
}

TEST_F(FileIo, SaveWritesTextAndReplacesOldContent) {
  EXPECT_EQ(save_file(path("t.crv").c_str(), "first version, longer\n"), 0);
  EXPECT_EQ(save_file(path("t.crv").c_str(), "LINEAR\n0\n"), 0);
  EXPECT_EQ(slurp(path("t.crv")), "LINEAR\n0\n");
  EXPECT_EQ(save_file(path("e").c_str(), ""), 0);
  EXPECT_EQ(slurp(path("e")), "");
}

TEST_F(FileIo, FailedSaveReportsAndLeavesNothingBehind) {
  // A folder where the file should go: the replace fails after the write.
  ASSERT_EQ(mkdir(path("taken.crv").c_str(), 0700), 0);
  EXPECT_EQ(save_file(path("taken.crv").c_str(), "new content"), -1);
  struct stat st;
  ASSERT_EQ(stat(path("taken.crv").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(countEntries(), 1) << "the temporary file is removed";
}

TEST_F(FileIo, SaveIntoMissingFolderFails) {
  EXPECT_EQ(save_file(path("no/such/dir/x.crv").c_str(), "x"), -1);
}

TEST_F(FileIo, SaveLeavesNoTemporaryFileBehind) {
  std::string target = path("ok.crv");
  write(target, "old", 3);
  EXPECT_EQ(save_file(target.c_str(), "new"), 0);
  EXPECT_EQ(slurp(target), "new");
  EXPECT_EQ(countEntries(), 1);
}

TEST_F(FileIo, SaveThroughLinksWritesTheirTargetAndKeepsItsMode) {
  // a -> b (relative) -> sub/c (relative to b's folder), c private (0600).
  ASSERT_EQ(mkdir(path("sub").c_str(), 0700), 0);
  write(path("sub/c"), "old", 3);
  ASSERT_EQ(chmod(path("sub/c").c_str(), 0600), 0);
  ASSERT_EQ(symlink("sub/c", path("b").c_str()), 0);
  ASSERT_EQ(symlink("b", path("a").c_str()), 0);
  ASSERT_EQ(save_file(path("a").c_str(), "new"), 0);
  EXPECT_EQ(slurp(path("sub/c")), "new");
  struct stat st;
  ASSERT_EQ(lstat(path("a").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a plain file";
  ASSERT_EQ(lstat(path("b").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(path("sub/c").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u) << "the private file became readable by others";
  ASSERT_EQ(chmod(path("sub/c").c_str(), 0640), 0);
  ASSERT_EQ(save_file(path("sub/c").c_str(), "again"), 0);
  ASSERT_EQ(stat(path("sub/c").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // A dangling link: its target is created, the link kept.
  ASSERT_EQ(symlink("sub/new.crv", path("d").c_str()), 0);
  ASSERT_EQ(save_file(path("d").c_str(), "made"), 0);
  EXPECT_EQ(slurp(path("sub/new.crv")), "made");
  ASSERT_EQ(lstat(path("d").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(countEntries(), 4) << "a, b, d, sub, and no temporary file";
  // A loop of links is refused, not followed for ever.
  ASSERT_EQ(symlink("loop", path("loop").c_str()), 0);
  EXPECT_EQ(save_file(path("loop").c_str(), "x"), -1);
}

TEST_F(FileIo, SaveWorksForNamesAtTheLengthLimit) {
  // 255 bytes, the longest name a folder takes; the temporary file's name
  // must still fit.
  std::string name = std::string(251, 'n') + ".crv";
  ASSERT_EQ(name.size(), 255u);
  std::string target = path(name.c_str());
  ASSERT_EQ(save_file(target.c_str(), "first"), 0);
  ASSERT_EQ(save_file(target.c_str(), "second"), 0);
  EXPECT_EQ(slurp(target), "second");
  EXPECT_EQ(countEntries(), 1);
}

TEST_F(FileIo, FailedWriteKeepsTheOldFile) {
  // The write itself fails part way (a file size limit, which holds for root
  // too): the old content must survive and no temporary file may stay.
  std::string target = path("keep.crv");
  write(target, "old content", 11);
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = saved;
  tight.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  const int r = save_file(target.c_str(), "a much longer new content");
  const int err = errno;
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(err, EFBIG) << "the cause is handed to the caller";
  EXPECT_EQ(slurp(target), "old content");
  EXPECT_EQ(countEntries(), 1);
}
