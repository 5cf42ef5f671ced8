// Error codes, message templates, the error-information record and the
// engine exception.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cerrno>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/error_table.h"
#include "core/errors.h"

namespace tarn {
namespace {

struct TContexts {
  std::string remote, user, database, table, field, index, text;
};

ETarnEngineError Raised(TarnErrorCode code, const TContexts& c) {
  try {
    RaiseError(code, c.remote, c.user, c.database, c.table, c.field, c.index, c.text);
  } catch (const ETarnEngineError& e) {
    return e;
  }
  ADD_FAILURE() << "RaiseError returned";
  return ETarnEngineError(0);
}

TEST(ErrorTable, SortedUniqueAndConsistent) {
  auto table = ErrorTable();
  ASSERT_FALSE(table.empty());
  std::set<std::string> names;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const auto& e = table[i];
    if (i > 0) {
      EXPECT_LT(table[i - 1].code, e.code);
    }
    EXPECT_TRUE(names.insert(e.constantName).second) << e.constantName;
    EXPECT_EQ(std::string(e.constantName).rfind("TARN_", 0), 0u);
    EXPECT_EQ(FindErrorEntry(e.code), &e);
    if (e.messageTemplate == nullptr) {
      EXPECT_EQ(e.code, TARN_REMOTECALLBACK);
      continue;
    }
    std::string_view t = e.messageTemplate;
    int placeholders = 0;
    for (auto p = t.find("%s"); p != std::string_view::npos; p = t.find("%s", p + 2)) ++placeholders;
    EXPECT_EQ(placeholders, e.slotCount) << e.constantName;
    for (int s = 0; s < e.slotCount; ++s) {
      EXPECT_GE(e.slots[s], esRemote);
      EXPECT_LE(e.slots[s], esText);
    }
  }
}

struct TFillCase {
  TarnErrorCode code;
  TContexts contexts;
  const char* expected;  // the filled template
};

class TemplateFill : public ::testing::TestWithParam<TFillCase> {};

TEST_P(TemplateFill, FillsSlotsInTemplateOrder) {
  const auto& c = GetParam();
  const auto e = Raised(c.code, c.contexts);
  EXPECT_EQ(e.ErrorCode(), c.code);
  EXPECT_EQ(e.Message(), "Tarn Engine Error # " + std::to_string(c.code) + " " + c.expected);
  EXPECT_EQ(GetErrorString(c.code), c.expected);
  EXPECT_STREQ(e.what(), e.Message().c_str());
}

const TContexts kAll{"srv", "usr", "db", "tbl", "fld", "idx", "txt"};

INSTANTIATE_TEST_SUITE_P(
    Codes, TemplateFill,
    ::testing::Values(
        TFillCase{TARN_KEYVIOL, {"", "", "", "customer", "", "ByName", ""},
                  "Duplicate key found in the index 'ByName' of the table 'customer'"},
        TFillCase{TARN_EOF, kAll, "End of table 'tbl' unexpectedly encountered"},
        TFillCase{TARN_INVALIDIDXDESC, kAll, "Invalid field number 'fld' specified in the index 'idx' for the table 'tbl'"},
        TFillCase{TARN_SEARCHCOLREQD, kAll, "Invalid field 'fld' specified for the index 'idx' in the table 'tbl'"},
        TFillCase{TARN_MINVALERR, kAll,
                  "The value for the field 'fld' in the table 'tbl' is below the minimum allowable value"},
        TFillCase{TARN_INVALIDFILTER, kAll, "Filter error for the table 'tbl' - txt"},
        TFillCase{TARN_REMOTEUNKNOWN, kAll,
                  "An unknown error ('txt') occurred with the connection to the database server at 'srv', please "
                  "check the server log"},
        TFillCase{TARN_REMOTENOTAUTH, kAll,
                  "The user 'usr' is not authorized to perform this operation with the database 'db' on the "
                  "database server at 'srv'"},
        TFillCase{TARN_REMOTENODBUSER, kAll,
                  "The database user 'usr' does not exist for the database 'db' on the database server at 'srv'"},
        TFillCase{TARN_REMOTEINVUSER, kAll, "The user name is either invalid or blank"},
        TFillCase{TARN_OSUNKNOWN, kAll, "An unknown operating system error occurred with the table 'tbl'"},
        TFillCase{TARN_SQLPARSE, kAll, "SQL error - txt"},
        TFillCase{TARN_NOTINITIALIZED, kAll, "The database engine is not initialized"},
        TFillCase{TARN_IMPORTERROR, kAll, "An error occurred during the import into the table 'tbl' - txt"},
        TFillCase{TARN_REMOTECALLBACK, kAll, "An unknown error occurred"},
        TFillCase{12345, kAll, "An unknown error occurred"},
        TFillCase{TARN_NONE, kAll, "An unknown error occurred"},
        // A value holding "%s" is inserted as plain text, not expanded again.
        TFillCase{TARN_KEYVIOL, {"", "", "", "a%sb", "", "%s", ""},
                  "Duplicate key found in the index '%s' of the table 'a%sb'"}));

TEST(RaiseError, ExceptionCopiesEveryContextValue) {
  errno = ENOENT;
  SetLastSocketError(104);
  const auto e = Raised(TARN_KEYVIOL, kAll);
  SetLastSocketError(0);
  EXPECT_STREQ(e.ClassName(), "ETarnEngineError");
  EXPECT_EQ(e.ErrorOSCode(), ENOENT);
  EXPECT_EQ(e.ErrorSocketCode(), 104);
  EXPECT_EQ(e.ErrorRemoteLocation(), "srv");
  EXPECT_EQ(e.ErrorUserName(), "usr");
  EXPECT_EQ(e.ErrorDatabaseName(), "db");
  EXPECT_EQ(e.ErrorTableName(), "tbl");
  EXPECT_EQ(e.ErrorFieldName(), "fld");
  EXPECT_EQ(e.ErrorIndexName(), "idx");
  EXPECT_EQ(e.ErrorText(), "txt");
  EXPECT_EQ(GetLastErrorNumber(), TARN_KEYVIOL);
  EXPECT_EQ(GetErrorContext(esOSCode), std::to_string(ENOENT));
  EXPECT_EQ(GetErrorContext(esSocketCode), "104");
  EXPECT_EQ(GetErrorContext(-1), "");
  EXPECT_EQ(GetErrorContext(9), "");
}

TEST(RaiseError, CaughtAsDatabaseErrorAndException) {
  try {
    RaiseError(TARN_OSENOENT, "", "", "", "missing");
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.ClassName(), "ETarnEngineError");
    EXPECT_EQ(e.Message(), "Tarn Engine Error # 11010 Table 'missing' does not exist");
    EDatabaseError plain("x");
    EXPECT_STREQ(plain.ClassName(), "EDatabaseError");
    return;
  }
  FAIL();
}

TEST(RaiseError, OSUnknownShowsOnlyTheTableButKeepsTheOSCode) {
  errno = EIO;
  const auto e = Raised(TARN_OSUNKNOWN, {"", "", "", "t", "", "", ""});
  EXPECT_EQ(e.Message(), "Tarn Engine Error # 11047 An unknown operating system error occurred with the table 't'");
  EXPECT_EQ(e.ErrorOSCode(), EIO);
}

TEST(Check, ZeroPassesAndNonZeroUsesTheLastContext) {
  EXPECT_EQ(Check(0), 0);
  (void)Raised(TARN_KEYVIOL, {"", "", "", "orders", "", "ByDate", ""});
  try {
    Check(TARN_EOF);
    FAIL();
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.Message(), "Tarn Engine Error # 8706 End of table 'orders' unexpectedly encountered");
    EXPECT_EQ(e.ErrorIndexName(), "ByDate");
    // DbiError leaves the record as it was.
    EXPECT_EQ(GetLastErrorNumber(), TARN_KEYVIOL);
  }
}

TEST(ErrorContexts, AssignAndClear) {
  AssignErrorContexts(TARN_LOCKED, -5, 7, "r", "u", "d", "t", "f", "i", "x");
  const char* expected[] = {"r", "u", "d", "t", "f", "i", "x", "-5", "7"};
  for (int slot = 0; slot < 9; ++slot) EXPECT_EQ(GetErrorContext(slot), expected[slot]) << slot;
  EXPECT_EQ(GetLastErrorNumber(), TARN_LOCKED);
  ClearErrorContexts();
  for (int slot = 0; slot < 7; ++slot) EXPECT_EQ(GetErrorContext(slot), "") << slot;
  EXPECT_EQ(GetErrorContext(esOSCode), "0");
  EXPECT_EQ(GetLastErrorNumber(), 0);
}

struct TCutCase {
  std::string input;
  std::size_t expectedLength;
};

class ContextCut : public ::testing::TestWithParam<TCutCase> {};

TEST_P(ContextCut, TextsAreCutTo255BytesOnCharacterBoundaries) {
  const auto& c = GetParam();
  const auto e = Raised(TARN_EOF, {"", "", "", c.input, "", "", c.input});
  EXPECT_EQ(e.ErrorTableName(), c.input.substr(0, c.expectedLength));
  EXPECT_EQ(e.ErrorText().size(), c.expectedLength);
  // The whole message part after "Tarn Engine Error # 8706 " never exceeds 254 bytes.
  const std::string prefix = "Tarn Engine Error # 8706 ";
  ASSERT_EQ(e.Message().rfind(prefix, 0), 0u);
  EXPECT_LE(e.Message().size() - prefix.size(), 254u);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ContextCut,
    ::testing::Values(TCutCase{std::string(300, 'a'), 255}, TCutCase{std::string(255, 'b'), 255},
                      TCutCase{std::string(254, 'c'), 254}, TCutCase{"", 0},
                      // A GBK character across byte 255 is dropped whole.
                      TCutCase{std::string(254, 'd') + "\xD6\xD0" + "e", 254},
                      TCutCase{std::string(253, 'd') + "\xD6\xD0" + "e", 255}));

TEST(MessageCut, FilledTemplateIsCutTo254Bytes) {
  const std::string table(255, 'x');
  const auto e = Raised(TARN_KEYVIOL, {"", "", "", table, "", std::string(255, 'y'), ""});
  const std::string filled = GetErrorString(TARN_KEYVIOL);
  ASSERT_EQ(filled.size(), 254u);
  EXPECT_EQ(filled.substr(0, 34), "Duplicate key found in the index '");
  EXPECT_EQ(e.Message(), "Tarn Engine Error # 9729 " + filled);
  // A double-byte character that would straddle the cut is dropped whole.
  std::string index = std::string(219, 'y') + "\xB1\xED";  // 34 + 219 = 253, the pair would end at 255
  (void)Raised(TARN_KEYVIOL, {"", "", "", "t", "", index, ""});
  EXPECT_EQ(GetErrorString(TARN_KEYVIOL).size(), 253u);
}

struct TConstantCase {
  TarnErrorCode code;
  const char* name;
};

class ConstantNames : public ::testing::TestWithParam<TConstantCase> {};

TEST_P(ConstantNames, Translate) { EXPECT_EQ(TranslateErrorConstant(GetParam().code), GetParam().name); }

INSTANTIATE_TEST_SUITE_P(Codes, ConstantNames,
                         ::testing::Values(TConstantCase{9729, "TARN_KEYVIOL"}, TConstantCase{0, "TARN_NONE"},
                                           TConstantCase{11284, "TARN_REMOTECALLBACK"},
                                           TConstantCase{15878, "TARN_CANNOTLOADLDDRV"},
                                           TConstantCase{11047, "TARN_OSUNKNOWN"}, TConstantCase{12345, ""},
                                           TConstantCase{1, ""}, TConstantCase{65535, ""}));

TEST(ErrorInformationLock, IsRecursive) {
  LockErrorInformation();
  LockErrorInformation();
  EXPECT_EQ(GetErrorString(12345), "An unknown error occurred");  // takes the lock again
  UnlockErrorInformation();
  UnlockErrorInformation();
}

// Threads raising at the same moment each see only their own context.
TEST(ThreadIsolation, ConcurrentRaisesKeepTheirOwnContext) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 2000;
  std::atomic<int> mismatches{0};
  std::barrier sync(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string table = "table" + std::to_string(t);
      const std::string index = "index" + std::to_string(t);
      for (int round = 0; round < kRounds; ++round) {
        if (round % 256 == 0) sync.arrive_and_wait();
        try {
          RaiseError(TARN_KEYVIOL, "", "", "", table, "", index, "");
        } catch (const ETarnEngineError& e) {
          if (e.ErrorTableName() != table || e.ErrorIndexName() != index ||
              e.Message() != "Tarn Engine Error # 9729 Duplicate key found in the index '" + index +
                                 "' of the table '" + table + "'")
            ++mismatches;
        }
        if (GetErrorContext(esTable) != table) ++mismatches;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(ThreadIsolation, ContextRaisedOnAnotherThreadIsNotSeen) {
  ClearErrorContexts();
  std::thread other([] {
    try {
      RaiseError(TARN_EOF, "", "", "", "elsewhere");
    } catch (const ETarnEngineError&) {
    }
  });
  other.join();
  EXPECT_EQ(GetErrorContext(esTable), "");
  EXPECT_EQ(GetLastErrorNumber(), 0);
  try {
    DbiError(TARN_EOF);
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorTableName(), "");
    EXPECT_EQ(e.Message(), "Tarn Engine Error # 8706 End of table '' unexpectedly encountered");
  }
}

}  // namespace
}  // namespace tarn
