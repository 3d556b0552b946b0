#include "formats/format.h"

#include <cstring>

namespace {

bool EqualIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

struct ExtensionEntry {
    const char* extension;
    int code;
};

constexpr ExtensionEntry EXTENSIONS[] = {
    {"xqnl", QNL_FORMAT_XML},   {"qqnl", QNL_FORMAT_XML}, {"erg", QNL_FORMAT_ERGO},
    {"dne", QNL_FORMAT_NETICA}, {"dsc", QNL_FORMAT_MSBN}, {"qnl", QNL_FORMAT_TEXT},
    {"net", QNL_FORMAT_HUGIN},  {"dxp", QNL_FORMAT_KI},   {"xml03", QNL_FORMAT_XMLBIF},
};

} // namespace

int FileFormatFromExtension(const char* fileName) {
    if (fileName == nullptr) return -2;
    const char* dot = std::strrchr(fileName, '.');
    if (dot == nullptr) return -2;
    for (const ExtensionEntry& entry : EXTENSIONS)
        if (EqualIgnoringCase(dot + 1, entry.extension)) return entry.code;
    return -2;
}
