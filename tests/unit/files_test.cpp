// Host files: whole reads and writes, folders made with their parents, and
// folder listings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "io/files.h"

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

TEST(FilesTest, MakeDirsAndList) {
    std::string dir = temp_folder();
    EXPECT_TRUE(files::make_dirs(dir + "/p/q/r/"));
    EXPECT_TRUE(files::make_dirs(dir + "/p/q"));  // already there
    ASSERT_TRUE(files::write_whole(dir + "/p/b.txt", ""));
    ASSERT_TRUE(files::write_whole(dir + "/p/a.txt", ""));
    EXPECT_FALSE(files::make_dirs(dir + "/p/a.txt/x"));  // a file in the way
    EXPECT_FALSE(files::make_dirs(dir + "/p/a.txt"));
    std::vector<std::string> names;
    ASSERT_TRUE(files::list_dir(dir + "/p", names));
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "q/"}));
    EXPECT_FALSE(files::list_dir(dir + "/none", names));
    EXPECT_TRUE(names.empty());
    std::system(("rm -rf " + dir).c_str());
}
