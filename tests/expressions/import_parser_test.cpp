// The delimited-line tokenizer of table import.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "expressions/import_parser.h"

namespace tarn {
namespace {

std::vector<std::pair<int, std::string>> Split(TImportParser& parser, std::string_view line) {
  parser.SetLine(line);
  std::vector<std::pair<int, std::string>> tokens;
  for (int kind = parser.NextToken(); kind != TImportParser::kEndOfLine; kind = parser.NextToken())
    tokens.emplace_back(kind, parser.TokenAsString());
  return tokens;
}

TEST(ImportParser, SplitsFieldsQuotesAndDelimiters) {
  TImportParser parser(",\r\n", "import file");
  using T = std::vector<std::pair<int, std::string>>;
  EXPECT_EQ(Split(parser, "1, 'it''s' ,abc def,\"x\"\"y\""),
            (T{{1, "1"}, {',', ","}, {3, "it's"}, {',', ","}, {1, "abc def"}, {',', ","}, {3, "x\"y"}}));
  EXPECT_EQ(Split(parser, ",,"), (T{{',', ","}, {',', ","}}));
  // A double-byte character whose trail byte is the delimiter stays whole.
  TImportParser pipe("|", "import file");
  EXPECT_EQ(Split(pipe, "\x81|a|b"), (T{{1, "\x81|a"}, {'|', "|"}, {1, "b"}}));
  parser.SetLine("TRUE,'Yes'");
  parser.NextToken();
  EXPECT_TRUE(parser.CheckTokenSymbol("true"));
  parser.NextToken();
  parser.NextToken();
  EXPECT_TRUE(parser.CheckTokenString("YES"));
}

TEST(ImportParser, MissingQuoteIsAnError) {
  TImportParser parser(",", "import file", TARN_IMPORTERROR, "customer");
  parser.SetLine("1,'abc");
  parser.NextToken();
  parser.NextToken();
  try {
    parser.NextToken();
    ADD_FAILURE();
  } catch (const ETarnEngineError& error) {
    EXPECT_EQ(error.ErrorCode(), TARN_IMPORTERROR);
    EXPECT_EQ(error.ErrorText(), "Missing single quote after 'abc' in import file");
  }
}

}  // namespace
}  // namespace tarn
