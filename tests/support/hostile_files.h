#pragma once

#include <cstddef>
#include <string>

// Model files that are small or simple to state yet have made readers and writers take
// gigabytes or minutes. Shared by the tests, which check the result, and the benchmark, which
// measures the time and memory.
namespace hostile {

// An own-XML network of one node whose identifier is `length` letters long.
std::string LongIdentifierXml(std::size_t length);

// An own-XML network whose display block nests `depth` submodels, each inside the one
// before, with the one node "A" in the innermost. Written without indentation.
std::string NestedSubmodelsXml(int depth);

} // namespace hostile
