// Form-body parsing: URL decoding, field splitting and look-up by name.
#include <gtest/gtest.h>

#include "platform/exception.h"
#include "web/form_fields.h"

namespace dovecrest {
namespace {

struct DecodeCase {
  std::string input;
  std::string expected;
};

TEST(HTTPDecode, DecodesEscapesAndBlanks) {
  const DecodeCase cases[] = {
      {"bob", "bob"},
      {"a+b", "a b"},
      {"%41%62", "Ab"},
      {"%e4%B8", "\xe4\xb8"},
      {"100%%", "100%"},
      {"%%41", "%41"},
      {"%00x", std::string("\0x", 2)},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HTTPDecode(c.input), c.expected) << c.input;
}

TEST(HTTPDecode, MalformedEscapeNamesTheCharactersAfterThePercent) {
  const DecodeCase cases[] = {
      {"%zz", "'$zz' is not a valid integer value"},
      {"ab%4", "'$4' is not a valid integer value"},
      {"ab%", "'$' is not a valid integer value"},
      {"%4g1", "'$4g' is not a valid integer value"},
      {"%-1", "'$-1' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    try {
      HTTPDecode(c.input);
      ADD_FAILURE() << "no error for " << c.input;
    } catch (const tarn::EConvertError& e) {
      EXPECT_EQ(e.Message(), c.expected);
      EXPECT_STREQ(e.ClassName(), "EConvertError");
    }
  }
}

TEST(ParseFormFields, SplitsAtAmpersandCrLfAndDropsEmptyFields) {
  EXPECT_EQ(ParseFormFields("UNAME=bob&submit1=x"), (std::vector<std::string>{"UNAME=bob", "submit1=x"}));
  EXPECT_EQ(ParseFormFields("\r\nA=1&&\r\nB=2\n"), (std::vector<std::string>{"A=1", "B=2"}));
  EXPECT_EQ(ParseFormFields(""), std::vector<std::string>{});
  // A zero byte ends the body: nothing after it is a field, not even a bad escape.
  EXPECT_EQ(ParseFormFields(std::string("A=1\0&B=%zz", 10)), std::vector<std::string>{"A=1"});
  // Decoding is per field, after splitting: an encoded '&' stays inside its field.
  EXPECT_EQ(ParseFormFields("A=x%26y&B=2"), (std::vector<std::string>{"A=x&y", "B=2"}));
}

TEST(FindFormField, FirstMatchIgnoringCase) {
  std::vector<std::string> fields = {"submit1=go", "uname=first", "UNAME=second", "EMPTY", "X=a=b"};
  EXPECT_EQ(FindFormField(fields, "UNAME"), "first");
  EXPECT_EQ(FindFormField(fields, "Submit1"), "go");
  EXPECT_EQ(FindFormField(fields, "X"), "a=b");
  EXPECT_EQ(FindFormField(fields, "EMPTY"), "");
  EXPECT_EQ(FindFormField(fields, "missing"), "");
  EXPECT_EQ(FindFormField(fields, "UNAM"), "");
}

}  // namespace
}  // namespace dovecrest
