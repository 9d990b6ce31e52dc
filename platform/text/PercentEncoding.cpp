#include "platform/text/PercentEncoding.h"

#include "platform/text/Unicode.h"

namespace platform {

namespace {

bool isAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

template <typename Keep>
std::string encodeWith(std::string_view text, Keep keep) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (keep(c)) {
            out.push_back(c);
        } else {
            const auto b = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(kDigits[b >> 4]);
            out.push_back(kDigits[b & 0x0f]);
        }
    }
    return out;
}

bool isQueryChar(char c) {
    return PercentEncoding::isPathChar(c) || c == '/' || c == '?';
}

}  // namespace

bool PercentEncoding::isUnreserved(char c) {
    return isAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool PercentEncoding::isSubDelim(char c) {
    switch (c) {
        case '!': case '$': case '&': case '\'': case '(': case ')':
        case '*': case '+': case ',': case ';': case '=':
            return true;
        default:
            return false;
    }
}

bool PercentEncoding::isPathChar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@';
}

std::string PercentEncoding::encodeAlphanumericDash(std::string_view text) {
    return encodeWith(text, [](char c) { return isAlnum(c) || c == '-'; });
}

std::string PercentEncoding::encodeQuery(std::string_view text) {
    return encodeWith(text, isQueryChar);
}

std::string PercentEncoding::encodeFormComponent(std::string_view text) {
    return encodeWith(text, [](char c) { return isQueryChar(c) && c != '&' && c != '=' && c != '+'; });
}

std::string PercentEncoding::encodePath(std::string_view text) {
    return encodeWith(text, [](char c) { return isPathChar(c) || c == '/'; });
}

std::string PercentEncoding::encodeFragment(std::string_view text) {
    return encodeWith(text, isQueryChar);
}

std::string PercentEncoding::encodeUserInfo(std::string_view text) {
    // ":" separates user and password, so each part encodes it.
    return encodeWith(text, [](char c) { return isUnreserved(c) || isSubDelim(c); });
}

std::string PercentEncoding::encodeHost(std::string_view text) {
    return encodeWith(text, [](char c) { return isUnreserved(c) || isSubDelim(c); });
}

std::optional<std::string> PercentEncoding::decodeBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (text.size() - i < 3) return std::nullopt;
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>((hi << 4) | lo));
        i += 2;
    }
    return out;
}

std::optional<std::string> PercentEncoding::decode(std::string_view text) {
    auto bytes = decodeBytes(text);
    if (!bytes || !Unicode::isValidUtf8(*bytes)) return std::nullopt;
    return bytes;
}

}  // namespace platform
