// Shared pieces of the session and database tests: temporary directories, a
// small dataset stand-in that attaches to databases, SQL run on a directory,
// and a fixture that leaves the engine stopped after each test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/component.h"
#include "components/tarn_database.h"
#include "components/tarn_session.h"
#include "components/tarn_session_list.h"
#include "core/errors.h"
#include "engine/data_directory.h"
#include "engine/engine_state.h"
#include "sql/query_statement.h"
#include "sql/sql_fixture.h"
#include "support/temp_dir.h"

namespace tarn::component_testing {

using sql_testing::TextRow;

// A directory made with mkdtemp and removed with everything in it.
class TempDir : public testing_support::TTempDir {
 public:
  TempDir() : TTempDir("tarn-components") {}
};

// Runs one statement on a directory and answers its result rows; table
// passwords are asked of the session.
inline std::vector<TextRow> RunSql(TDataDirectory& directory, const std::string& sql, TTarnSession* session = nullptr) {
  TQueryStatement statement(directory);
  if (session != nullptr) statement.SetPasswordCallback(session, &TTarnSession::StatementPasswordCallback);
  statement.PrepareStatement(sql);
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  return result == nullptr ? std::vector<TextRow>{} : sql_testing::SqlDatabase::ReadRows(*result);
}

// A dataset as far as the database sees it: it opens its database by name
// through its session, attaches, runs statements on the database's directory,
// and on Disconnect closes (detaching itself).
class TestDataSet : public TComponent, public TDatabaseDataSet {
 public:
  TestDataSet(TComponent* owner, std::string databaseName, std::string sessionName = {})
      : TComponent(owner), databaseName_(std::move(databaseName)), sessionName_(std::move(sessionName)) {}
  ~TestDataSet() override {
    BeginDestroying();
    Close();
  }

  void Open() {
    if (database_ != nullptr) return;
    session_ = &Sessions().GetSessionByName(sessionName_);
    database_ = &session_->OpenDatabase(databaseName_, this);
    database_->AttachDataSet(*this);
  }
  void Close() {
    if (database_ == nullptr) return;
    TTarnDatabase* database = database_;
    database_ = nullptr;
    database->DetachDataSet(*this);
    session_->CloseDatabase(*database);
  }
  bool Active() const { return database_ != nullptr; }
  TTarnDatabase* Database() const { return database_; }

  std::vector<TextRow> Query(const std::string& sql) { return RunSql(*database_->Handle(), sql, session_); }

  void Disconnect() override {
    if (OnDisconnect) OnDisconnect(*this);
    Close();
  }
  std::function<void(TestDataSet&)> OnDisconnect;

  bool UsesSessionName() const override { return true; }
  std::string AssignedSessionName() const override { return sessionName_; }
  void AssignSessionName(const std::string& name) override { sessionName_ = name; }

 private:
  std::string databaseName_;
  std::string sessionName_;
  TTarnSession* session_ = nullptr;
  TTarnDatabase* database_ = nullptr;
};

// The message of the database error the call raises ("" when none).
inline std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ETarnEngineError& error) {
    return std::string("engine: ") + error.Message();
  } catch (const EDatabaseError& error) {
    return error.Message();
  }
  return {};
}

// Code of the engine error the call raises (0 when none).
inline TarnErrorCode EngineCodeOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ETarnEngineError& error) {
    return error.ErrorCode();
  }
  return 0;
}

// Each test starts and ends with the engine stopped: sessions a test makes
// are destroyed before the default session stops.
class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(Session().Active()) << "an earlier test left the default session running"; }
  void TearDown() override {
    sessions_.clear();
    owners_.clear();
    Session().Close();
    EXPECT_FALSE(TarnStarted());
    EXPECT_EQ(Sessions().Count(), 1) << "a session outlived its test";
  }

  // A session without an owner, named, with its private directory in the
  // test's temporary directory.
  TTarnSession& NewSession(const std::string& name, TComponent* owner = nullptr) {
    sessions_.push_back(std::make_unique<TTarnSession>(owner));
    TTarnSession& session = *sessions_.back();
    if (!name.empty()) session.SetSessionName(name);
    session.SetPrivateDir(private_.Path());
    return session;
  }
  TComponent& NewOwner(const std::string& name) {
    owners_.push_back(std::make_unique<TComponent>(nullptr));
    owners_.back()->SetName(name);
    return *owners_.back();
  }
  // A table made and filled with SQL through a session's own directory.
  void MakeTable(TTarnSession& session, const std::string& createSql, const std::vector<std::string>& inserts = {}) {
    TDataDirectory& directory = session.Handle().OpenDataDirectory("", data_.Path());
    for (const std::string& sql : std::vector<std::string>{createSql}) RunSql(directory, sql, &session);
    for (const std::string& sql : inserts) RunSql(directory, sql, &session);
    session.Handle().CloseDataDirectory(directory);
  }

  TempDir data_;
  TempDir private_;
  // Owners go after the sessions and databases they list.
  std::vector<std::unique_ptr<TComponent>> owners_;
  std::vector<std::unique_ptr<TTarnSession>> sessions_;
};

}  // namespace tarn::component_testing
