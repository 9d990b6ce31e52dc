// The loopback server's routing, scripts, recording and connection drop,
// driven with plain libcurl so that the kit is checked independently of the
// session layer.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "testing/LoopbackServer.h"

namespace testkit {
namespace {

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
};

Reply call(const std::string& url, const std::string& method = "GET", const std::string& body = "",
           const char* extraHeader = nullptr) {
  Reply reply;
  CURL* h = curl_easy_init();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_TIMEOUT, 20L);
  if (method != "GET") {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  }
  curl_slist* headers = curl_slist_append(nullptr, "X-Test: yes");
  if (extraHeader) headers = curl_slist_append(headers, extraHeader);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, +[](char* p, size_t s, size_t n, void* out) {
    static_cast<std::string*>(out)->append(p, s * n);
    return s * n;
  });
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply.body);
  reply.code = curl_easy_perform(h);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply.status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(h);
  return reply;
}

TEST(LoopbackServerTest, RoutesScriptsAndRecords) {
  LoopbackServer server;
  server.on("GET", "/exact", Answer::text(200, "exact"));
  server.onPrefix("GET", "/p/", Answer::text(200, "short"));
  server.onPrefix("GET", "/p/long/", [](const RecordedRequest& r) { return Answer::text(200, "long:" + r.query); });
  server.script("PUT", "/seq", {Answer::text(503, "one"), Answer::text(200, "two")});

  EXPECT_EQ(call(server.url("/exact")).body, "exact");
  EXPECT_EQ(call(server.url("/p/x")).body, "short");
  EXPECT_EQ(call(server.url("/p/long/y?k=v")).body, "long:k=v");
  EXPECT_EQ(call(server.url("/nothing")).status, 404);
  std::vector<long> statuses;
  for (int i = 0; i < 3; ++i) statuses.push_back(call(server.url("/seq"), "PUT", "b" + std::to_string(i)).status);
  EXPECT_EQ(statuses, (std::vector<long>{503, 200, 200}));

  auto requests = server.requests("/seq");
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].method, "PUT");
  EXPECT_EQ(requests[2].body, "b2");
  EXPECT_EQ(requests[2].header("x-test"), "yes");
  EXPECT_EQ(server.requestCount(), 7u);
}

TEST(LoopbackServerTest, RecordsGzipRequestBodiesDecoded) {
  LoopbackServer server;
  std::string plain(20000, 'q');
  server.on("POST", "/gz", Answer::text(200, "ok"));
  EXPECT_EQ(call(server.url("/gz"), "POST", gzip(plain), "Content-Encoding: gzip").status, 200);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, plain);
  EXPECT_EQ(requests[0].header("Content-Encoding"), "gzip");
}

TEST(LoopbackServerTest, DropsTheConnectionWithoutAnswer) {
  LoopbackServer server;
  server.on("GET", "/drop", Answer::close());
  Reply reply = call(server.url("/drop"));
  EXPECT_EQ(reply.code, CURLE_GOT_NOTHING);
  EXPECT_EQ(reply.status, 0);
  // The server goes on serving.
  server.on("GET", "/ok", Answer::text(200, "ok"));
  EXPECT_EQ(call(server.url("/ok")).body, "ok");
}

}  // namespace
}  // namespace testkit
