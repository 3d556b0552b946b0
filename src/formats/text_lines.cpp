#include "formats/text_lines.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <system_error>

namespace quarn::detail {

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
