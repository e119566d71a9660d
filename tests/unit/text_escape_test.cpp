// Quoting for the recordings formats, on texts the end-to-end runs cannot produce: chapter
// titles are dates, so the XML and ffmetadata escapes are checked here.
#include "reports/text_escape.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tapestamp {
namespace {

struct escape_case {
  std::string text;
  std::string expected;
};

using append_function = void (*)(std::string&, std::string_view);

void check(append_function append, const std::vector<escape_case>& cases) {
  for (const escape_case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string out = "<";
    append(out, c.text);
    EXPECT_EQ(out, "<" + c.expected);
  }
}

TEST(TextEscape, Xml) {
  check(append_xml_text, {{"", ""},
                          {"2008-05-17 12:30:00", "2008-05-17 12:30:00"},
                          {"a & b < c > d \"e\" 'f'", "a &amp; b &lt; c &gt; d &quot;e&quot; 'f'"},
                          {"&amp;", "&amp;amp;"}});
}

TEST(TextEscape, FfmetadataValue) {
  check(append_ffmetadata_value, {{"2008-05-17 12:30:00", "2008-05-17 12:30:00"},
                                  {"a=b;c#d\\e\nf", "a\\=b\\;c\\#d\\\\e\\\nf"},
                                  {"", ""}});
}

TEST(TextEscape, Csv) {
  check(append_csv_field, {{"plain", "plain"},
                           {"", ""},
                           {"a,b", "\"a,b\""},
                           {"\"", "\"\"\"\""},
                           {"line\r\n", "\"line\r\n\""},
                           {" spaced ", " spaced "}});
}

TEST(TextEscape, Json) {
  check(append_json_string, {{"", "\"\""},
                             {std::string("nul\0byte", 8), "\"nul\\u0000byte\""},
                             {"\b\f\x7f", "\"\\b\\f\x7f\""},
                             {"\xef\xbf\xbf\xf4\x8f\xbf\xbf", "\"\xef\xbf\xbf\xf4\x8f\xbf\xbf\""},
                             {"\xe0\x80\x80\xf5\xff", "\"\\u00e0\\u0080\\u0080\\u00f5\\u00ff\""},
                             {"\xf0\x9f\x8e", "\"\\u00f0\\u009f\\u008e\""}});
}

}  // namespace
}  // namespace tapestamp
