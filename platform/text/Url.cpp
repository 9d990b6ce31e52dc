#include "platform/text/Url.h"

#include "platform/text/PercentEncoding.h"

#include <arpa/inet.h>

namespace platform {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool validScheme(std::string_view s) {
    if (s.empty() || !isAlpha(s[0])) return false;
    for (char c : s)
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    return true;
}

// Every character is allowed by `allowed` or starts a well-formed "%XX".
template <typename Allowed>
bool validComponent(std::string_view s, Allowed allowed) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            if (s.size() - i < 3 || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
            i += 2;
        } else if (!allowed(s[i])) {
            return false;
        }
    }
    return true;
}

bool isUserInfoChar(char c) {
    return PercentEncoding::isUnreserved(c) || PercentEncoding::isSubDelim(c) || c == ':';
}
bool isRegNameChar(char c) { return PercentEncoding::isUnreserved(c) || PercentEncoding::isSubDelim(c); }
bool isPathOrSlash(char c) { return PercentEncoding::isPathChar(c) || c == '/'; }
bool isQueryChar(char c) { return PercentEncoding::isPathChar(c) || c == '/' || c == '?'; }

bool validIpLiteral(std::string_view inner) {
    if (inner.empty()) return false;
    if (inner[0] == 'v' || inner[0] == 'V') {  // IPvFuture
        const size_t dot = inner.find('.');
        if (dot == std::string_view::npos || dot < 2 || dot + 1 >= inner.size()) return false;
        for (size_t i = 1; i < dot; ++i)
            if (!isHex(inner[i])) return false;
        for (size_t i = dot + 1; i < inner.size(); ++i)
            if (!isUserInfoChar(inner[i])) return false;
        return true;
    }
    in6_addr address{};
    return inet_pton(AF_INET6, std::string(inner).c_str(), &address) == 1;
}

// Host as written in an authority: "[literal]" or a reg-name (which
// includes IPv4 dotted form).
bool validHost(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        return host.size() >= 2 && host.back() == ']' && validIpLiteral(host.substr(1, host.size() - 2));
    }
    return validComponent(host, isRegNameChar);
}

std::optional<uint16_t> parsePort(std::string_view text, bool& ok) {
    ok = true;
    if (text.empty()) return std::nullopt;  // "host:" is allowed and means no port
    uint32_t value = 0;
    for (char c : text) {
        if (!isDigit(c)) {
            ok = false;
            return std::nullopt;
        }
        value = value * 10 + uint32_t(c - '0');
        if (value > 65535) {
            ok = false;
            return std::nullopt;
        }
    }
    return static_cast<uint16_t>(value);
}

std::string decoded(std::string_view s) {
    // Components were validated, so every escape is well-formed.
    return PercentEncoding::decodeBytes(s).value_or(std::string(s));
}

std::optional<std::string> decodedOptional(const std::optional<std::string>& s) {
    if (!s) return std::nullopt;
    return decoded(std::string_view(*s));
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    Url url;
    std::string_view rest = text;

    // Scheme: the text before the first ":" when no "/", "?" or "#" precedes it.
    const size_t colon = rest.find(':');
    const size_t delimiter = rest.find_first_of("/?#");
    if (colon != std::string_view::npos && (delimiter == std::string_view::npos || colon < delimiter)) {
        const std::string_view scheme = rest.substr(0, colon);
        // Otherwise it is a relative path whose first segment holds a ":",
        // which the grammar does not allow.
        if (!validScheme(scheme)) return std::nullopt;
        url.m_scheme = std::string(scheme);
        rest.remove_prefix(colon + 1);
    }

    if (const size_t hash = rest.find('#'); hash != std::string_view::npos) {
        const std::string_view fragment = rest.substr(hash + 1);
        if (!validComponent(fragment, isQueryChar)) return std::nullopt;
        url.m_fragment = std::string(fragment);
        rest = rest.substr(0, hash);
    }
    if (const size_t question = rest.find('?'); question != std::string_view::npos) {
        const std::string_view query = rest.substr(question + 1);
        if (!validComponent(query, isQueryChar)) return std::nullopt;
        url.m_query = std::string(query);
        rest = rest.substr(0, question);
    }

    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);

        if (const size_t at = authority.find('@'); at != std::string_view::npos) {
            const std::string_view userInfo = authority.substr(0, at);
            if (!validComponent(userInfo, isUserInfoChar)) return std::nullopt;
            const size_t split = userInfo.find(':');
            url.m_user = std::string(userInfo.substr(0, split));
            if (split != std::string_view::npos) url.m_password = std::string(userInfo.substr(split + 1));
            authority.remove_prefix(at + 1);
        }

        std::string_view host;
        std::string_view portText;
        if (!authority.empty() && authority.front() == '[') {
            const size_t close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            host = authority.substr(0, close + 1);
            const std::string_view after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after.front() != ':') return std::nullopt;
                portText = after.substr(1);
            }
        } else {
            const size_t portColon = authority.find(':');
            host = authority.substr(0, portColon);
            if (portColon != std::string_view::npos) portText = authority.substr(portColon + 1);
        }
        if (!validHost(host)) return std::nullopt;
        bool portOk = true;
        url.m_port = parsePort(portText, portOk);
        if (!portOk) return std::nullopt;
        url.m_host = std::string(host);
    } else if (url.m_scheme.empty()) {
        // A relative path may not have ":" in its first segment.
        const std::string_view firstSegment = rest.substr(0, rest.find('/'));
        if (firstSegment.find(':') != std::string_view::npos) return std::nullopt;
    }

    if (!validComponent(rest, isPathOrSlash)) return std::nullopt;
    url.m_path = std::string(rest);
    return url;
}

std::optional<Url> Url::make(std::string_view scheme, std::string_view host, std::string_view path,
                             const std::vector<QueryItem>& queryItems, std::optional<uint16_t> port) {
    Url url;
    if (scheme.empty() || !url.setScheme(scheme) || host.empty() || !url.setHost(host)) return std::nullopt;
    url.m_port = port;
    url.setPath(path);
    if (!queryItems.empty()) url.setQueryItems(queryItems);
    return url;
}

std::optional<std::string> Url::user() const { return decodedOptional(m_user); }
std::optional<std::string> Url::password() const { return decodedOptional(m_password); }

std::optional<std::string> Url::host() const {
    if (!m_host) return std::nullopt;
    if (!m_host->empty() && m_host->front() == '[') return m_host->substr(1, m_host->size() - 2);
    return decoded(std::string_view(*m_host));
}

std::string Url::path() const { return decoded(std::string_view(m_path)); }

std::optional<std::vector<Url::QueryItem>> Url::queryItems() const {
    if (!m_query) return std::nullopt;
    std::vector<QueryItem> items;
    if (m_query->empty()) return items;
    std::string_view rest = *m_query;
    for (;;) {
        const size_t amp = rest.find('&');
        const std::string_view item = rest.substr(0, amp);
        const size_t eq = item.find('=');
        QueryItem q{decoded(item.substr(0, eq)), std::nullopt};
        if (eq != std::string_view::npos) q.value = decoded(item.substr(eq + 1));
        items.push_back(std::move(q));
        if (amp == std::string_view::npos) break;
        rest.remove_prefix(amp + 1);
    }
    return items;
}

std::optional<std::string> Url::fragment() const { return decodedOptional(m_fragment); }

std::string Url::lastPathComponent() const {
    std::string_view p = m_path;
    while (!p.empty() && p.back() == '/') p.remove_suffix(1);
    const size_t slash = p.rfind('/');
    return decoded(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

bool Url::hasSchemeAndHost() const { return !m_scheme.empty() && m_host && !m_host->empty(); }

std::string Url::string() const {
    std::string out;
    if (!m_scheme.empty()) out += m_scheme + ":";
    if (m_host) {
        out += "//";
        if (m_user || m_password) {
            out += m_user.value_or("");
            if (m_password) out += ":" + *m_password;
            out += "@";
        }
        out += *m_host;
        if (m_port) out += ":" + std::to_string(*m_port);
        if (!m_path.empty() && m_path.front() != '/') out += "/";
    } else if (m_path.substr(0, 2) == "//") {
        out += "/.";  // keeps an empty first segment from reading as an authority
    } else if (m_scheme.empty() && m_path.substr(0, m_path.find('/')).find(':') != std::string::npos) {
        out += "./";  // keeps a first segment like "javascript:x" from reading as a scheme
    }
    out += m_path;
    if (m_query) out += "?" + *m_query;
    if (m_fragment) out += "#" + *m_fragment;
    return out;
}

bool Url::setScheme(std::string_view scheme) {
    if (!scheme.empty() && !validScheme(scheme)) return false;
    m_scheme = std::string(scheme);
    return true;
}

bool Url::setHost(std::optional<std::string_view> host) {
    if (!host) {
        m_host.reset();
        return true;
    }
    if (host->find(':') != std::string_view::npos) {
        std::string_view inner = *host;
        if (inner.size() >= 2 && inner.front() == '[' && inner.back() == ']') inner = inner.substr(1, inner.size() - 2);
        if (!validIpLiteral(inner)) return false;
        m_host = "[" + std::string(inner) + "]";
        return true;
    }
    m_host = PercentEncoding::encodeHost(*host);
    return true;
}

void Url::setUser(std::optional<std::string_view> user) {
    if (user) m_user = PercentEncoding::encodeUserInfo(*user);
    else m_user.reset();
}

void Url::setPassword(std::optional<std::string_view> password) {
    if (password) m_password = PercentEncoding::encodeUserInfo(*password);
    else m_password.reset();
}

void Url::setPath(std::string_view path) { m_path = PercentEncoding::encodePath(path); }

bool Url::setPercentEncodedPath(std::string_view path) {
    if (!validComponent(path, isPathOrSlash)) return false;
    m_path = std::string(path);
    return true;
}

void Url::setQueryItems(const std::optional<std::vector<QueryItem>>& items) {
    if (!items) {
        m_query.reset();
        return;
    }
    std::string query;
    for (size_t i = 0; i < items->size(); ++i) {
        if (i > 0) query += '&';
        query += PercentEncoding::encodeFormComponent((*items)[i].name);
        if ((*items)[i].value) query += "=" + PercentEncoding::encodeFormComponent(*(*items)[i].value);
    }
    m_query = std::move(query);
}

bool Url::setPercentEncodedQuery(std::optional<std::string_view> query) {
    if (!query) {
        m_query.reset();
        return true;
    }
    if (!validComponent(*query, isQueryChar)) return false;
    m_query = std::string(*query);
    return true;
}

void Url::setFragment(std::optional<std::string_view> fragment) {
    if (fragment) m_fragment = PercentEncoding::encodeFragment(*fragment);
    else m_fragment.reset();
}

Url Url::withOrigin(const Url& origin) const {
    Url out = *this;
    out.m_scheme = origin.m_scheme;
    out.m_host = origin.m_host;
    out.m_port = origin.m_port;
    if (!out.m_path.empty() && out.m_path.front() != '/') out.m_path.insert(out.m_path.begin(), '/');
    return out;
}

}  // namespace platform
