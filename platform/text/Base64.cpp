#include "platform/text/Base64.h"

#include <array>

namespace platform {

namespace {

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::array<int8_t, 256> reverseTable(const char* alphabet) {
    std::array<int8_t, 256> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = static_cast<int8_t>(i);
    return table;
}

constexpr auto kStandardReverse = reverseTable(kStandard);
constexpr auto kUrlReverse = reverseTable(kUrl);

}  // namespace

std::string Base64::encode(std::span<const uint8_t> data, Alphabet alphabet, bool pad) {
    const char* digits = alphabet == Alphabet::Url ? kUrl : kStandard;
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        out.push_back(digits[(v >> 18) & 63]);
        out.push_back(digits[(v >> 12) & 63]);
        out.push_back(digits[(v >> 6) & 63]);
        out.push_back(digits[v & 63]);
    }
    const size_t rest = data.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(data[i]) << 16;
        if (rest == 2) v |= uint32_t(data[i + 1]) << 8;
        out.push_back(digits[(v >> 18) & 63]);
        out.push_back(digits[(v >> 12) & 63]);
        if (rest == 2) out.push_back(digits[(v >> 6) & 63]);
        if (pad) out.append(rest == 1 ? "==" : "=");
    }
    return out;
}

std::string Base64::encode(std::string_view bytes, Alphabet alphabet, bool pad) {
    return encode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                  alphabet, pad);
}

std::optional<std::vector<uint8_t>> Base64::decode(std::string_view text, Alphabet alphabet, Padding padding) {
    const auto& reverse = alphabet == Alphabet::Url ? kUrlReverse : kStandardReverse;

    // Strip and check padding: at most two "=", only at the very end, and
    // only so many that the text becomes a whole number of quads.
    size_t padCount = 0;
    while (padCount < 2 && padCount < text.size() && text[text.size() - 1 - padCount] == '=') ++padCount;
    const std::string_view body = text.substr(0, text.size() - padCount);
    const size_t tail = body.size() % 4;
    if (tail == 1) return std::nullopt;
    if (padCount > 0 && (body.size() + padCount) % 4 != 0) return std::nullopt;
    if (padding == Padding::Required && text.size() % 4 != 0) return std::nullopt;

    std::vector<uint8_t> out;
    out.reserve(body.size() / 4 * 3 + 2);
    uint32_t accumulator = 0;
    int bits = 0;
    for (char c : body) {
        const int8_t v = reverse[static_cast<unsigned char>(c)];
        if (v < 0) return std::nullopt;  // also catches "=" inside the text
        accumulator = (accumulator << 6) | uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(accumulator >> bits));
            accumulator &= (1u << bits) - 1;
        }
    }
    return out;
}

}  // namespace platform
