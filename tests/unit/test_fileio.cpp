#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
