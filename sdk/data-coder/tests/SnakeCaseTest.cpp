#include <gtest/gtest.h>

#include "sdk/data-coder/Coding.h"

namespace {

struct Conversion {
  const char* from;
  const char* to;
};

TEST(SnakeCaseTest, ToSnakeCase) {
  const Conversion cases[] = {
      {"myProperty", "my_property"},
      {"myURLProperty", "my_url_property"},
      {"myHTMLParser", "my_html_parser"},
      {"myURL", "my_url"},
      {"aB", "a_b"},
      {"version2Name", "version2_name"},
      {"already_snake", "already_snake"},
      {"URLValue", "u_rl_value"},
      {"Name", "name"},
      {"", ""},
      {"größeÄnderung", "größe_änderung"},      // Latin letters beyond ASCII
      {"ΑλφαΒήτα", "αλφα_βήτα"},                // Greek capitals start words too
      {"valueǅx", "value_ǆx"},                  // a title-case letter (Lt) starts a word
      {"日本Name", "日本_name"},                 // letters without case never split
  };
  for (const Conversion& c : cases) EXPECT_EQ(coding::toSnakeCase(c.from), c.to) << c.from;
}

TEST(SnakeCaseTest, FromSnakeCase) {
  const Conversion cases[] = {
      {"first_name", "firstName"},
      {"URL_string", "urlString"},
      {"one_TWO_three", "oneTwoThree"},
      {"_private_value_", "_privateValue_"},
      {"__a__b__", "__aB__"},
      {"alreadyCamel", "alreadyCamel"},
      {"ALLCAPS", "ALLCAPS"},
      {"___", "___"},
      {"", ""},
      {"größe_änderung", "größeÄnderung"},
      {"ΑΛΦΑ_ΒΗΤΑ", "αλφαΒητα"},
  };
  for (const Conversion& c : cases) {
    EXPECT_EQ(coding::KeyedDecodingContainer::convertFromSnakeCase(c.from), c.to) << c.from;
  }
}

}  // namespace
