#include "formats/text_lines.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <system_error>

namespace quarn::detail {

std::string FileProblem(const char* path) {
    if (path == nullptr || *path == '\0') return "no file name";
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) return "no such file";
    if (error) return "cannot be read";
    if (status.type() == std::filesystem::file_type::directory) return "a directory";
    if (status.type() != std::filesystem::file_type::regular) return "not a regular file";
    return std::string();
}

std::string OpenFailedMessage(const char* path) {
    std::string problem = FileProblem(path);
    if (problem.empty()) problem = "cannot be read";
    return "OPEN FILE FAILED: '" + std::string(path != nullptr ? path : "") + "' (" + problem + ")";
}

int ReadFileBytes(const char* path, std::string& bytes) {
    bytes.clear();
    try {
        if (!FileProblem(path).empty()) return -103;
        std::ifstream in(path, std::ios::binary);
        if (!in) return -103;
        // Block reads: a character at a time through a stream iterator is several times slower.
        std::string block(std::size_t{1} << 16, '\0');
        while (in.read(&block[0], static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
            bytes.append(block, 0, static_cast<std::size_t>(in.gcount()));
        if (in.bad()) return -103;
    } catch (const std::bad_alloc&) {
        bytes.clear();
        bytes.shrink_to_fit();
        return -42;
    }
    return 0;
}

int TextLines::Load(const char* path) {
    Close();
    try {
        std::string bytes;
        const int result = ReadFileBytes(path, bytes);
        if (result != 0) return result;
        LoadText(bytes);
    } catch (const std::bad_alloc&) {
        Close();
        return -42;
    }
    return 0;
}

namespace {

bool IsAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80;
}

// Models are mostly ASCII, which decodes to itself, so ASCII runs are copied whole and only
// the stretches between them go through the decoder. Splitting before an ASCII byte decodes
// alike: no well-formed sequence contains one.
std::string Decode(std::string_view bytes) {
    std::string decoded;
    decoded.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t end = i;
        // Eight bytes at a time while none has its high bit set.
        for (std::uint64_t word; end + 8 <= bytes.size(); end += 8) {
            std::memcpy(&word, bytes.data() + end, 8);
            if ((word & 0x8080808080808080u) != 0) break;
        }
        while (end < bytes.size() && IsAscii(bytes[end]))
            ++end;
        decoded.append(bytes.data() + i, end - i);
        i = end;
        while (end < bytes.size() && !IsAscii(bytes[end]))
            ++end;
        if (end > i) decoded += DecodeUtf8OrLatin1(bytes.substr(i, end - i));
        i = end;
    }
    return decoded;
}

// CRLF and a bare CR become LF once here, so that a line is found by one search.
void UnifyLineEnds(std::string& text) {
    std::size_t read = text.find('\r');
    if (read == std::string::npos) return;
    std::size_t write = read;
    while (read < text.size()) {
        char c = text[read++];
        if (c == '\r') {
            c = '\n';
            if (read < text.size() && text[read] == '\n') ++read;
        }
        text[write++] = c;
    }
    text.resize(write);
}

} // namespace

void TextLines::LoadText(std::string_view bytes) {
    Close();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    text = Decode(bytes);
    UnifyLineEnds(text);
}

void TextLines::Close() {
    text.clear();
    text.shrink_to_fit();
    position = 0;
    lineNumber = 0;
}

bool TextLines::ReadLine(std::string& line) {
    line.clear();
    if (position >= text.size()) return false;
    const char* start = text.data() + position;
    const void* end = std::memchr(start, '\n', text.size() - position);
    std::size_t length = end == nullptr
                             ? text.size() - position
                             : static_cast<std::size_t>(static_cast<const char*>(end) - start) + 1;
    line.assign(start, length);
    position += length;
    if (lineNumber < std::numeric_limits<int>::max()) ++lineNumber;
    return true;
}

} // namespace quarn::detail
