// Value types of the HTTP layer and the service address override.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/net/HttpHeaders.h"
#include "platform/net/HttpResponse.h"
#include "platform/net/ServiceAddress.h"
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
      {"https://api.example.net/x", "ftp://127.0.0.1:21", "https://api.example.net/x"},
      {"https://api.example.net/x", "not a url", "https://api.example.net/x"},
      {"no-scheme/path", "http://127.0.0.1:1", "no-scheme/path"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServiceAddress::replaceOrigin(c.base, c.override), c.expected) << c.base << " " << c.override;
  }
  testkit::ScopedEnvironment environment;
  environment.set("APP_SERVICES_URL", "http://127.0.0.1:8080");
  EXPECT_EQ(ServiceAddress::resolve("https://s.example.net/v2/x"), "http://127.0.0.1:8080/v2/x");
  environment.unset("APP_SERVICES_URL");
  EXPECT_EQ(ServiceAddress::resolve("https://s.example.net/v2/x"), "https://s.example.net/v2/x");
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
