#pragma once

#include <filesystem>
#include <string>

namespace quarn_test {

// The real network files: the shared collection where it is present, else the few of its files
// whose licence lets the repository hold them (same layout and index format, fewer files).
inline const std::string kSharedNetworks = std::string(QUARN_SHARED_DIR) + "/data/networks";
inline bool HaveSharedNetworks() {
    return std::filesystem::is_directory(kSharedNetworks);
}
inline std::string RealNetworks() {
    return HaveSharedNetworks() ? kSharedNetworks : std::string(QUARN_TEST_DATA_DIR) + "/networks";
}
// Why a test that needs the shared collection did not run.
inline std::string NoSharedNetworks() {
    return "real network files not found at " + kSharedNetworks + "; set QUARN_SHARED_DIR";
}

} // namespace quarn_test
