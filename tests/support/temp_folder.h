#pragma once

#include <filesystem>
#include <string>

namespace quarn_test {

// A folder of its own under the system's temporary folder, removed with everything in it when
// the object goes. Its name is made unique when it is created, so two runs of the suites at
// once never share a file.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag = "test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::string File(const std::string& name) const { return (path / name).string(); }
    // Writes the bytes as they are (no line-end translation) and returns the file's path.
    std::string Put(const std::string& name, const std::string& bytes) const;
    static std::string Get(const std::string& file);

private:
    std::filesystem::path path;
};

// The running test's own folder, ending in a separator: made at the first call in a test and
// removed, with what the test wrote there, when the test ends.
std::string TestFolder();
// A path in that folder.
std::string TestFile(const std::string& name);

} // namespace quarn_test
