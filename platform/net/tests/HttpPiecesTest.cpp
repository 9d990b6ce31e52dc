// Value types of the HTTP layer and the service address override.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/net/HttpHeaders.h"
#include "platform/net/HttpResponse.h"
#include "platform/net/ServiceAddress.h"
#include "platform/net/internal/ResponseHead.h"
#include "platform/net/URLError.h"
#include "testing/ScopedEnvironment.h"

namespace platform {
namespace {

TEST(HttpHeadersTest, SetReplacesEveryCaseAndKeepsOrderAndStripsLineBreaks) {
  HttpHeaders h{{"Accept", "a"}, {"X-Id", "1"}, {"x-id", "2"}, {"Z", "z"}};
  h.set("X-ID", "3");
  ASSERT_EQ(h.size(), 3u);
  EXPECT_EQ(h.fields()[1], (HttpHeaders::Field{"X-ID", "3"}));
  EXPECT_EQ(h.value("x-id").value_or(""), "3");
  h.add("Injected", "v\r\nEvil: yes");
  EXPECT_EQ(h.value("injected").value_or(""), "vEvil: yes");
  EXPECT_TRUE(h.remove("ACCEPT"));
  EXPECT_FALSE(h.contains("Accept"));
}

TEST(HttpHeadersTest, TravelsUnchangedOnlyWithoutWhatTheWireDropsOrTrims) {
  using namespace std::string_literals;
  for (const std::string& value : {""s, "RIS_v2 abc.DEF-123_~"s, "a\tb"s, "caf\xC3\xA9"s}) {
    EXPECT_TRUE(HttpHeaders::travelsUnchanged(value)) << value;
  }
  for (const std::string& value : {"a\0b"s, "a\rb"s, "a\nb"s, "a\x01"s, "a\x7f"s, " a"s, "a "s, "a\t"s}) {
    EXPECT_FALSE(HttpHeaders::travelsUnchanged(value)) << testing::PrintToString(value);
  }
}

TEST(ResponseHeadTest, LinesMakeOneFinalHead) {
  using net_internal::ResponseHead;
  struct Case {
    std::vector<std::string> lines;
    bool complete;
    int status;
    HttpHeaders headers;
    bool redirect;
  };
  const std::vector<Case> cases = {
      {{"HTTP/1.1 200 OK\r\n", "Content-Type:  text/plain \t\r\n", "X-Empty:\r\n", "\r\n"},
       true, 200, {{"Content-Type", "text/plain"}, {"X-Empty", ""}}, false},
      // An interim head is dropped with its headers; the final one counts.
      {{"HTTP/1.1 100 Continue", "X-Interim: 1", "", "HTTP/2 303", "Location: /x", ""}, true, 303,
       {{"Location", "/x"}}, true},
      {{"HTTP/1.1 302 Found", ""}, true, 302, {}, false},  // no Location: no redirect
      // Odd status lines: no three digits after the blank.
      {{"HTTP/1.1 -12 Bad", ""}, true, 0, {}, false},
      {{"HTTP/1.1", "A: b", ""}, true, 0, {{"A", "b"}}, false},
      {{"HTTP/1.1 2x0", ""}, true, 0, {}, false},
      // Lines without a colon are ignored; the head waits for its blank line.
      {{"HTTP/1.1 204 No Content", "garbage", ": no name"}, false, 204, {{"", "no name"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.lines));
    ResponseHead head;
    for (const std::string& line : c.lines) EXPECT_NE(head.addLine(line), ResponseHead::Step::Refused);
    EXPECT_EQ(head.complete(), c.complete);
    EXPECT_EQ(head.status(), c.status);
    EXPECT_EQ(head.headers().fields(), c.headers.fields());
    EXPECT_EQ(head.isRedirect(), c.redirect);
  }
  // Trailers after the head change nothing.
  ResponseHead head;
  for (const char* line : {"HTTP/1.1 200 OK", ""}) head.addLine(line);
  EXPECT_EQ(head.addLine("X-Trailer: 1"), ResponseHead::Step::Complete);
  EXPECT_TRUE(head.headers().empty());
  // A head beyond its bound is refused for good.
  ResponseHead huge;
  huge.addLine("HTTP/1.1 200 OK");
  const std::string pad = "X-Pad: " + std::string(1000, 'p');
  ResponseHead::Step step = ResponseHead::Step::More;
  for (size_t bytes = 0; bytes <= ResponseHead::kMaximumBytes && step == ResponseHead::Step::More; bytes += pad.size()) {
    step = huge.addLine(pad);
  }
  EXPECT_EQ(step, ResponseHead::Step::Refused);
  EXPECT_EQ(huge.addLine(""), ResponseHead::Step::Refused);
  EXPECT_FALSE(huge.complete());
}

TEST(HttpResponseTest, DerivedFacts) {
  struct Case {
    HttpHeaders headers;
    std::string url;
    std::string mime, charset, name;
    int64_t length;
  };
  std::vector<Case> cases = {
      {{{"Content-Type", "Text/HTML; Charset=\"UTF-8\""}, {"Content-Length", "12"}},
       "http://h/a/b/index.html?x=1#f", "text/html", "utf-8", "index.html", 12},
      {{{"content-disposition", "inline; filename=\"a;b.txt\""}, {"Content-Length", "-4"}},
       "http://h/x", "", "", "a;b.txt", -1},
      {{{"Content-Disposition", "attachment; filename=.."}, {"Content-Length", "12abc"}},
       "http://h/dir/file%20name.bin/", "", "", "file name.bin", -1},
      {{}, "http://h", "", "", "Unknown", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    HttpResponse r(200, c.headers, c.url);
    EXPECT_EQ(r.mimeType(), c.mime);
    EXPECT_EQ(r.textEncodingName(), c.charset);
    EXPECT_EQ(r.suggestedFilename(), c.name);
    EXPECT_EQ(r.expectedContentLength(), c.length);
  }
}

TEST(ServiceAddressTest, OverrideReplacesOriginAndKeepsPath) {
  struct Case {
    std::string base, override, expected;
  };
  std::vector<Case> cases = {
      {"https://api.example.net/v1/projects", "http://127.0.0.1:8080", "http://127.0.0.1:8080/v1/projects"},
      {"https://api.example.net:8443/a?b=c#d", "http://127.0.0.1:9/", "http://127.0.0.1:9/a?b=c#d"},
      {"https://api.example.net", "http://localhost:1", "http://localhost:1"},
      // An unusable override never leaves the real origin in place.
      {"https://api.example.net/x", "ftp://127.0.0.1:21", "http://app-services-url.invalid/x"},
      {"https://api.example.net/x?k=1", "not a url", "http://app-services-url.invalid/x?k=1"},
      {"https://api.example.net", "http://", "http://app-services-url.invalid"},
      {"no-scheme/path", "http://127.0.0.1:1", "no-scheme/path"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServiceAddress::replaceOrigin(c.base, c.override), c.expected) << c.base << " " << c.override;
  }
  testkit::ScopedEnvironment environment;
  environment.set("APP_SERVICES_URL", "http://127.0.0.1:8080");
  EXPECT_EQ(ServiceAddress::resolve("https://s.example.net/v2/x"), "http://127.0.0.1:8080/v2/x");
  environment.set("APP_SERVICES_URL", "");
  EXPECT_EQ(ServiceAddress::resolve("https://s.example.net/v2/x"), "https://s.example.net/v2/x");
  environment.unset("APP_SERVICES_URL");
  EXPECT_EQ(ServiceAddress::resolve("https://s.example.net/v2/x"), "https://s.example.net/v2/x");

  for (const std::string url : {"http://app-services-url.invalid", "http://app-services-url.invalid/v2?x#y"}) {
    EXPECT_TRUE(ServiceAddress::isRefused(url)) << url;
  }
  for (const std::string url : {"http://app-services-url.invalidated/x", "https://app-services-url.invalid/x",
                                "http://127.0.0.1/app-services-url.invalid"}) {
    EXPECT_FALSE(ServiceAddress::isRefused(url)) << url;
  }
}

TEST(URLErrorTest, CarriesDomainCodeDescriptionAndURL) {
  Error e = URLError::make(URLError::kTimedOut, "http://127.0.0.1/x", "Operation timed out after 1000 ms");
  EXPECT_EQ(e.domain, "NSURLErrorDomain");
  EXPECT_EQ(e.code, -1001);
  EXPECT_EQ(e.localizedDescription(), "The request timed out.");
  ASSERT_TRUE(e.userInfo.get(URLError::kFailingURLStringKey).asString());
  EXPECT_EQ(*e.userInfo.get(URLError::kFailingURLStringKey).asString(), "http://127.0.0.1/x");
  EXPECT_FALSE(URLError::isCancelled(e));
  EXPECT_TRUE(URLError::isCancelled(URLError::make(-999)));
}

}  // namespace
}  // namespace platform
