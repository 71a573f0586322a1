// Host files: whole and partial reads and writes, folders, and folder
// listings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/files.h"
#include "tests/unit/fixture.h"

namespace files = vyr::files;

namespace {
std::string temp_folder() {
    char name[] = "/tmp/vyr-files-XXXXXX";
    return mkdtemp(name);
}
}  // namespace

TEST(FilesTest, WriteThenReadWhole) {
    std::string dir = temp_folder(), path = dir + "/a.txt";
    EXPECT_FALSE(files::exists(path));
    ASSERT_TRUE(files::write_whole(path, std::string("x\0y\n", 4)));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(files::read_whole(path, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("x\0y\n", 4));
    ASSERT_TRUE(files::write_whole(path, "z"));  // replaces, not appends
    ASSERT_TRUE(files::read_whole(path, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "z");
    EXPECT_FALSE(files::write_whole(dir + "/missing/b.txt", "z"));
    EXPECT_FALSE(files::write_whole(dir, "z"));  // a folder
    EXPECT_FALSE(files::write_whole(std::string("a\0b", 3), "z"));
    std::system(("rm -rf " + dir).c_str());
}

TEST(FilesTest, MakeDirAndList) {
    std::string dir = temp_folder();
    EXPECT_TRUE(files::make_dir(dir + "/p/"));
    EXPECT_FALSE(files::make_dir(dir + "/p"));        // already there
    EXPECT_FALSE(files::make_dir(dir + "/q/r"));      // no parent
    ASSERT_TRUE(files::write_whole(dir + "/p/b.txt", ""));
    ASSERT_TRUE(files::write_whole(dir + "/p/a.txt", ""));
    EXPECT_TRUE(files::make_dir(dir + "/p/a"));
    EXPECT_FALSE(files::make_dir(dir + "/p/a.txt/x"));  // a file in the way
    std::vector<std::string> names;
    ASSERT_TRUE(files::list_dir(dir + "/p", names));
    EXPECT_EQ(names, (std::vector<std::string>{"a/", "a.txt", "b.txt"}));  // by name, then the slash
    EXPECT_FALSE(files::list_dir(dir + "/none", names));
    EXPECT_TRUE(names.empty());
    std::system(("rm -rf " + dir).c_str());
}

// A file that reports no size (as those of /proc) is read to its end, and
// the answer holds only the bytes read.
TEST(FilesTest, ReadRangeHoldsOnlyTheBytesRead) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(files::read_range("/proc/self/status", -1, -1, bytes));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), 0);
    ASSERT_TRUE(files::read_range("/proc/self/status", 2, 3, bytes));
    EXPECT_EQ(bytes.size(), 3u);
    EXPECT_FALSE(files::read_range("/proc", -1, -1, bytes));  // a directory
}

// A source without an end is read up to the limit, then refused with the
// no-memory error, not grown until the process dies.
class FilesLimitTest : public vyr::test::RuntimeTest {};

TEST_F(FilesLimitTest, EndlessSourceStopsAtTheLimit) {
    using namespace vyr;
    std::vector<uint8_t> bytes;
    EXPECT_RAISES(files::read_range("/dev/zero", -1, -1, bytes, 1 << 20), err_cat::internal,
                  err_id::internal::no_memory);
    EXPECT_TRUE(bytes.empty());
    ASSERT_TRUE(files::read_range("/dev/zero", -1, 1000, bytes, 1 << 20));  // a part within the limit
    EXPECT_EQ(bytes.size(), 1000u);
    EXPECT_RAISES(files::read_range("/dev/zero", -1, 2 << 20, bytes, 1 << 20), err_cat::internal,
                  err_id::internal::no_memory);
}
