#include "numerics/utf8.h"

namespace quarn::detail {

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

char32_t DecodeCodePoint(std::string_view text, std::size_t& i) {
    const std::size_t length = Utf8SequenceLength(text.substr(i));
    const char32_t lead = static_cast<unsigned char>(text[i]);
    if (length <= 1) {
        ++i;
        return lead;
    }
    // The lead byte keeps 7 - length bits; each continuation byte adds six.
    char32_t cp = lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    i += length;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string DecodeUtf8OrLatin1(std::string_view bytes) {
    std::string decoded;
    decoded.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = Utf8SequenceLength(bytes.substr(i));
        if (length > 0) {
            decoded.append(bytes.data() + i, length);
            i += length;
        } else {
            AppendUtf8(decoded, static_cast<unsigned char>(bytes[i++]));
        }
    }
    return decoded;
}

std::optional<char32_t> CharacterXmlCannotHold(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = DecodeCodePoint(text, i);
        if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF)
            return cp;
    }
    return std::nullopt;
}

} // namespace quarn::detail
