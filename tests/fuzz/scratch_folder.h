#pragma once

// The folder a fuzz program writes its files in: made at first use under the system's
// temporary folder with a name no other run has, and removed with its files when the program
// ends normally (a run cut short by a finding leaves it, beside the crash file).

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

inline const std::string& ScratchFolder() {
    struct Folder {
        std::string path;
        Folder() {
            path = (std::filesystem::temp_directory_path() / "quarn_fuzz_XXXXXX").string();
            if (::mkdtemp(path.data()) == nullptr) std::abort();
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    return folder.path;
}
