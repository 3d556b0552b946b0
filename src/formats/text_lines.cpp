#include "formats/text_lines.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <system_error>

namespace quarn::detail {

namespace {

// Length of the well-formed UTF-8 sequence at the start of s, or 0 when there is none
// (stray continuation bytes, overlong forms, surrogates and code points above U+10FFFF
// are not well formed).
std::size_t Utf8SequenceLength(std::string_view s) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    auto isContinuation = [&](std::size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
    unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return isContinuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!isContinuation(1) || !isContinuation(2)) return 0;
        if (lead == 0xE0 && byte(1) < 0xA0) return 0;
        if (lead == 0xED && byte(1) > 0x9F) return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!isContinuation(1) || !isContinuation(2) || !isContinuation(3)) return 0;
        if (lead == 0xF0 && byte(1) < 0x90) return 0;
        if (lead == 0xF4 && byte(1) > 0x8F) return 0;
        return 4;
    }
    return 0;
}

} // namespace

std::string DecodeUtf8OrLatin1(std::string_view bytes) {
    std::string decoded;
    decoded.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t length = Utf8SequenceLength(bytes.substr(i));
        if (length > 0) {
            decoded.append(bytes.data() + i, length);
            i += length;
        } else {
            unsigned char c = static_cast<unsigned char>(bytes[i++]);
            decoded += static_cast<char>(0xC0 | (c >> 6));
            decoded += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return decoded;
}

int TextLines::Load(const char* path) {
    Close();
    if (path == nullptr) return -103;
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return -103;
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return -103;
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) return -103;
        LoadText(bytes);
    } catch (const std::bad_alloc&) {
        Close();
        return -42;
    }
    return 0;
}

void TextLines::LoadText(std::string_view bytes) {
    Close();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    text = DecodeUtf8OrLatin1(bytes);
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
    std::size_t end = text.find_first_of("\r\n", position);
    if (end == std::string::npos) {
        line.assign(text, position, std::string::npos);
        position = text.size();
    } else {
        line.assign(text, position, end - position);
        line += '\n';
        position = end + 1;
        if (text[end] == '\r' && position < text.size() && text[position] == '\n') ++position;
    }
    if (lineNumber < std::numeric_limits<int>::max()) ++lineNumber;
    return true;
}

} // namespace quarn::detail
