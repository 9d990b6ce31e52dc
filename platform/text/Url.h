// Url: a strict RFC 3986 URI reference parser and builder.
//
// parse() accepts exactly the RFC 3986 grammar (absolute URIs and relative
// references): text with spaces, non-ASCII characters, stray "%", "[", "]",
// "#" in the wrong place or a port that is not a number up to 65535 is not
// an address. Empty text is not an address either. IPv6 literals
// ("[::1]") are checked with inet_pton. An address in the usual sense is one
// with hasSchemeAndHost().
//
// Components are kept as written (percent-encoded); the plain accessors
// return them percent-decoded (bytes, not re-validated as UTF-8), the
// percentEncoded* ones return them as written. host() of an IPv6 literal is
// the address without brackets. queryItems() splits the query at "&" and each
// item at its first "=": an item without "=" has no value.
//
// Building: make() and the setters take plain (decoded) text and encode it
// with the RFC 3986 set of each component; query item names and values are
// encoded with PercentEncoding::encodeFormComponent, so "&", "=" and "+"
// inside them cannot split or change an item. string() gives the text form.
//
// A Url is a plain value: safe to copy and to read from several threads,
// not to modify while another thread reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Url {
public:
    struct QueryItem {
        std::string name;
        std::optional<std::string> value;
        bool operator==(const QueryItem&) const = default;
    };

    static std::optional<Url> parse(std::string_view text);
    // scheme://host[:port]/path?items. None when the scheme or host is empty
    // or not valid for its component.
    static std::optional<Url> make(std::string_view scheme, std::string_view host, std::string_view path = {},
                                   const std::vector<QueryItem>& queryItems = {},
                                   std::optional<uint16_t> port = std::nullopt);

    const std::string& scheme() const { return m_scheme; }
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    std::optional<std::string> host() const;
    std::optional<uint16_t> port() const { return m_port; }
    std::string path() const;
    std::optional<std::vector<QueryItem>> queryItems() const;
    std::optional<std::string> fragment() const;
    // Last non-empty path segment, decoded; empty when the path has none.
    std::string lastPathComponent() const;

    const std::optional<std::string>& percentEncodedHost() const { return m_host; }
    const std::string& percentEncodedPath() const { return m_path; }
    const std::optional<std::string>& percentEncodedQuery() const { return m_query; }
    const std::optional<std::string>& percentEncodedFragment() const { return m_fragment; }

    bool hasSchemeAndHost() const;
    std::string string() const;

    // Setters validate; a false return leaves the Url unchanged.
    bool setScheme(std::string_view scheme);
    bool setHost(std::optional<std::string_view> host);
    void setPort(std::optional<uint16_t> port) { m_port = port; }
    void setUser(std::optional<std::string_view> user);
    void setPassword(std::optional<std::string_view> password);
    void setPath(std::string_view path);
    bool setPercentEncodedPath(std::string_view path);
    void setQueryItems(const std::optional<std::vector<QueryItem>>& items);
    bool setPercentEncodedQuery(std::optional<std::string_view> query);
    void setFragment(std::optional<std::string_view> fragment);

    // A copy with the scheme, host and port of `origin` and everything else
    // (user, path, query, fragment) of this one: redirects a service address
    // to another server while keeping the service's own path.
    Url withOrigin(const Url& origin) const;

    bool operator==(const Url&) const = default;

private:
    std::string m_scheme;
    std::optional<std::string> m_user;
    std::optional<std::string> m_password;
    std::optional<std::string> m_host;  // IPv6 literals keep their brackets
    std::optional<uint16_t> m_port;
    std::string m_path;
    std::optional<std::string> m_query;
    std::optional<std::string> m_fragment;
};

}  // namespace platform
