#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace quarn_test {

TempFolder::TempFolder(const std::string& tag) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("quarn_" + tag + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder from " + pattern);
    path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempFolder::Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(File(name), std::ios::binary) << bytes;
    return File(name);
}

std::string TempFolder::Get(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

// Holds the running test's folder and drops it when the test ends; the framework owns the
// listener from the first TestFile on.
class TestFolders : public ::testing::EmptyTestEventListener {
public:
    const TempFolder& Current() {
        if (!folder) folder = std::make_unique<TempFolder>("test");
        return *folder;
    }
    void OnTestEnd(const ::testing::TestInfo&) override { folder.reset(); }

private:
    std::unique_ptr<TempFolder> folder;
};

} // namespace

std::string TestFolder() {
    static TestFolders* folders = [] {
        auto* listener = new TestFolders;
        ::testing::UnitTest::GetInstance()->listeners().Append(listener);
        return listener;
    }();
    return (folders->Current().Path() / "").string();
}

std::string TestFile(const std::string& name) {
    return TestFolder() + name;
}

} // namespace quarn_test
