// The shared cache's pieces: how BRELIX_CACHE_URL is read, where an entry
// lives, and that a failing server is asked once and named without its
// credentials.

#include "src/bundle/shared_cache.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace brelix::testing {
namespace {

TEST(SharedCache, TheUrlLosesItsUserInfoAndKeepsTheRest) {
  struct Case {
    const char* text;
    const char* shown;  // nullptr: not a URL the cache takes
    const char* host;
    const char* user;
    const char* password;
  };
  const Case cases[] = {
      {"http://cache.example:8080/brelix", "http://cache.example:8080/brelix", "cache.example", "",
       ""},
      {"HTTPS://ci:p%40ss:word@h/x/{key}", "https://h/x/{key}", "h", "ci", "p@ss:word"},
      {"http://tok@[::1]:81", "http://[::1]:81", "[::1]", "tok", ""},
      {"http://a@b@host/p?q=1", "http://host/p?q=1", "host", "a@b", ""},
      {"ftp://host/x", nullptr, "", "", ""},
      {"http://user:pw@/x", nullptr, "", "", ""},
      {"/srv/cache", nullptr, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<SharedCacheUrl> url = parse_shared_cache_url(c.text);
    ASSERT_EQ(url.has_value(), c.shown != nullptr);
    if (!url) continue;
    EXPECT_EQ(url->shown, c.shown);
    EXPECT_EQ(url->host, c.host);
    EXPECT_EQ(url->user, c.user);
    EXPECT_EQ(url->password, c.password);
  }
}

TEST(SharedCache, AnEntryLivesUnderItsFirstTwoDigitsOrWhereKeySays) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://h/c", "http://h/c/ab/abcdef"},
      {"http://h/c//", "http://h/c/ab/abcdef"},
      {"http://h/ac/{key}", "http://h/ac/abcdef"},
      {"http://h/{key}/{key}.e", "http://h/abcdef/abcdef.e"},
  };
  for (const auto& [url, expected] : cases) EXPECT_EQ(shared_entry_url(url, "abcdef"), expected);
}

// Answers every request as told and counts them; the environment is the
// test's alone.
class ServerEnv : public platform::EnvWrapper {
 public:
  ServerEnv() : EnvWrapper(platform::default_env()) {}
  std::map<std::string, std::string, std::less<>> variables;
  Result<platform::HttpResponse> answer;
  int requests = 0;
  std::string err;

  platform::EnvValue environment_variable(std::string_view name) override {
    const auto found = variables.find(name);
    if (found == variables.end()) return {};
    return {platform::EnvValue::State::present, found->second, ""};
  }
  bool write(platform::Stream, std::string_view text) override {
    err += text;
    return true;
  }
  Result<platform::HttpResponse> http_request(const platform::HttpRequest&) override {
    ++requests;
    return answer;
  }
};

TEST(SharedCache, AFailingServerIsAskedOnceAndNamedWithoutCredentials) {
  struct Case {
    Result<platform::HttpResponse> answer;
    int requests;  // after two look-ups and two uploads
    const char* err;
  };
  const char* const warning = "Warning: shared cache http://h/c not usable, building without it: ";
  const Case cases[] = {
      {fail("Connection refused"), 1, "Connection refused\n"},
      {platform::HttpResponse{503, "busy"}, 1, "the server answered 503\n"},
      {platform::HttpResponse{401, ""}, 1, "the server answered 401\n"},
      {platform::HttpResponse{404, ""}, 3, "the server answered 404\n"},  // 404 to a PUT
      {platform::HttpResponse{413, ""}, 1, "the server answered 413\n"},  // 413 to a GET
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    reset_shared_cache();
    ServerEnv env;
    env.variables = {{"BRELIX_CACHE_URL", "http://ci:s3cret@h/c"}};
    env.answer = c.answer;
    EXPECT_EQ(shared_cache_fetch(env, "abcd"), std::nullopt);
    EXPECT_EQ(shared_cache_fetch(env, "abcd"), std::nullopt);
    shared_cache_store(env, "abcd", "x");
    shared_cache_store(env, "abcd", "x");
    EXPECT_EQ(env.requests, c.requests);
    EXPECT_EQ(env.err, std::string(warning) + c.err);
  }
  reset_shared_cache();
}

}  // namespace
}  // namespace brelix::testing
