// The expression layer installs its verifier of default, minimum and maximum
// texts whenever the engine starts in a program that contains the layer, so
// opening a table whose header holds an invalid default is refused without
// anyone installing the verifier by hand.
#include <gtest/gtest.h>

#include "engine/engine_state.h"
#include "expressions/expression_layer.h"
#include "storage/formats/check_header.h"
#include "storage/tables/quota_table.h"

namespace tarn {
namespace {

using testing::QuotaDefinition;
using testing::SessionOn;
using testing::TempDirectory;

// Creates the quota table with the given default text on ID and maximum on USED.
void CreateTable(const std::string& path, const std::string& name, std::string_view idDefault,
                 std::string_view usedMaximum) {
  TTableDefinition definition = QuotaDefinition();
  definition.Fields[0].DefaultValue.Assign(idDefault);
  definition.Fields[2].MaxValue.Assign(usedMaximum);
  SessionOn s(path);
  TDataTable* table = nullptr;
  ASSERT_EQ(s.directory->CreateDataTable(name, definition, table), 0);
}

// Opens the table; its first user checks its headers.
TarnErrorCode OpenCode(const std::string& path, const std::string& name) {
  try {
    SessionOn s(path);
    s.Open(name);
  } catch (const ETarnEngineError& error) {
    return error.ErrorCode();
  }
  return 0;
}

TEST(ExpressionLayer, EngineStartInstallsTheHeaderVerifier) {
  // As in a fresh process: engine stopped, no verifier installed.
  ExitTarn();
  SetExpressionVerifier(nullptr);
  TempDirectory dir;
  CreateTable(dir.Path(), "good", "12", "500");
  CreateTable(dir.Path(), "baddefault", "12x", "");
  CreateTable(dir.Path(), "badmaximum", "", "2147483648");
  // Stored texts are not judged until the expression layer's verifier is in.
  EXPECT_EQ(OpenCode(dir.Path(), "baddefault"), 0);

  InitializeTarn();
  EXPECT_EQ(OpenCode(dir.Path(), "good"), 0);
  EXPECT_EQ(OpenCode(dir.Path(), "baddefault"), TARN_HEADERCORRUPT);
  EXPECT_EQ(OpenCode(dir.Path(), "badmaximum"), TARN_HEADERCORRUPT);

  // Registering again (another part of the program) changes nothing.
  EXPECT_TRUE(RegisterExpressionLayer());
  EXPECT_EQ(OpenCode(dir.Path(), "baddefault"), TARN_HEADERCORRUPT);

  // Every start installs it again.
  ExitTarn();
  SetExpressionVerifier(nullptr);
  InitializeTarn();
  EXPECT_EQ(OpenCode(dir.Path(), "baddefault"), TARN_HEADERCORRUPT);
  ExitTarn();
}

}  // namespace
}  // namespace tarn
