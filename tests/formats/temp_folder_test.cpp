#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// Two folders of one tag (as two runs of one test at once make) never share a file, and each
// goes with what was written in it. The running test's folder lies under the system's
// temporary folder and holds every file the test names.
TEST(TempFolders, FoldersOfOneTagDifferAndEachGoesWithItsFiles) {
    fs::path first, second;
    {
        const quarn_test::TempFolder a("same"), b("same");
        first = a.Path();
        second = b.Path();
        EXPECT_NE(first, second);
        a.Put("x.txt", "a\r\n");
        b.Put("x.txt", "b");
        EXPECT_EQ("a\r\n", quarn_test::TempFolder::Get(a.File("x.txt")));
        EXPECT_EQ("b", quarn_test::TempFolder::Get(b.File("x.txt")));
        EXPECT_EQ(first.parent_path(), fs::temp_directory_path());
    }
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
    const fs::path file = quarn_test::TestFile("y.txt");
    EXPECT_EQ(file.parent_path(), fs::path(quarn_test::TestFolder()).parent_path());
    EXPECT_TRUE(fs::is_directory(file.parent_path()));
    EXPECT_EQ(file.parent_path().parent_path(), fs::temp_directory_path());
}

} // namespace
