// Database components: name rules, opening and closing, attached datasets,
// temporary databases and KeepConnection, lent directories (HandleShared and
// attached handles), transactions through a real table, stored forms.
#include "component_fixture.h"

namespace tarn::component_testing {
namespace {

class DatabaseTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    session_ = &NewSession("Work");
    MakeTable(*session_, "CREATE TABLE t (a INTEGER)", {"INSERT INTO t VALUES (1)"});
  }
  // A database component of the test's session on the test's directory.
  std::unique_ptr<TTarnDatabase> NewDatabase(const std::string& name, TComponent* owner = nullptr) {
    auto database = std::make_unique<TTarnDatabase>(owner != nullptr ? owner : session_);
    database->SetDatabaseName(name);
    database->SetDirectory(data_.Path());
    return database;
  }
  // How many directories the session's data session has open.
  std::size_t OpenDirectories() const { return session_->DataSession()->Directories().size(); }

  TTarnSession* session_ = nullptr;
};

TEST_F(DatabaseTest, ConstructionPicksTheSession) {
  TTarnDatabase inSession(session_);
  EXPECT_EQ(&inSession.Session(), session_);
  EXPECT_EQ(inSession.SessionName(), "Work");
  EXPECT_TRUE(inSession.KeepConnection());
  EXPECT_EQ(inSession.EngineVersion(), "3.08");
  TComponent& module = NewOwner("Module");
  TTarnDatabase elsewhere(&module);
  EXPECT_EQ(&elsewhere.Session(), &Session());
  EXPECT_EQ(elsewhere.SessionName(), "Default");
  EXPECT_EQ(session_->DatabaseCount(), 1);
}

TEST_F(DatabaseTest, NameRules) {
  struct Case {
    std::string name;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"Data", true},      {"d2", true},        {"\xca\xfd\xbe\xdd", true},  // GBK characters
      {"1abc", false},     {"C:\\Data", false}, {"a:b", false},
      {"dir\\sub", false}, {"/tmp/x", false},   {"_x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTarnDatabase database(session_);
    const std::string error = ErrorOf([&] { database.SetDatabaseName(c.name); });
    EXPECT_EQ(error, c.valid ? "" : "Database name " + c.name + " is not valid.");
    EXPECT_EQ(database.DatabaseName(), c.valid ? c.name : "");
  }
  // A GBK trail byte that equals '\' is part of its character, not a path.
  EXPECT_FALSE(DatabaseNameLooksLikePath("\x95\x5c"));
  EXPECT_TRUE(DatabaseNameLooksLikePath(""));
}

TEST_F(DatabaseTest, OpenFailures) {
  TTarnDatabase unnamed(session_);
  EXPECT_EQ(ErrorOf([&] { unnamed.Open(); }), "Database name is missing.");
  auto lost = NewDatabase("Lost");
  lost->SetSessionName("Nowhere");
  EXPECT_EQ(&lost->Session(), session_);  // no such session: it stays
  EXPECT_EQ(ErrorOf([&] { lost->Open(); }), "Session name Nowhere is not valid.");
  EXPECT_FALSE(lost->Connected());

  // Two components of one session with one name (in any letter case): the
  // one opening loses its name.
  auto first = NewDatabase("Data");
  auto second = NewDatabase("DATA");
  EXPECT_EQ(ErrorOf([&] { second->Open(); }), "Database name DATA already exists.");
  EXPECT_EQ(second->DatabaseName(), "");  // cleared by the failed check
  EXPECT_FALSE(second->Connected());
  first->Open();
  EXPECT_TRUE(first->Connected());
}

TEST_F(DatabaseTest, ChangesThatNeedAClosedDatabase) {
  auto database = NewDatabase("Data");
  database->Open();
  const std::string open = "Cannot perform this operation on an open database.";
  EXPECT_EQ(ErrorOf([&] { database->SetDatabaseName("Other"); }), open);
  EXPECT_EQ(ErrorOf([&] { database->SetDirectory("/elsewhere/"); }), open);
  EXPECT_EQ(ErrorOf([&] { database->SetRemoteDatabase("r"); }), open);
  EXPECT_EQ(ErrorOf([&] { database->SetSessionName("Default"); }), open);
  EXPECT_EQ(ErrorOf([&] { database->SetHandleShared(true); }), open);
  database->Open();  // already open: nothing
  database->Close();
  database->Close();
  database->SetSessionName("Default");
  EXPECT_EQ(&database->Session(), &Session());
  EXPECT_EQ(session_->DatabaseCount(), 0);
}

TEST_F(DatabaseTest, OpeningAndClosingTheDirectory) {
  auto database = NewDatabase("Data");
  int before = 0;
  database->BeforeConnect = [&](TTarnDatabase& sender) {
    EXPECT_FALSE(sender.Connected());
    ++before;
  };
  session_->Close();
  database->Open();
  EXPECT_EQ(before, 1);
  EXPECT_TRUE(session_->Active());  // the database starts its session
  ASSERT_NE(database->Handle(), nullptr);
  EXPECT_EQ(database->Handle()->Name(), "Data");
  EXPECT_EQ(database->Handle()->Path(), data_.Path());
  EXPECT_EQ(RunSql(*database->Handle(), "SELECT a FROM t"), (std::vector<TextRow>{{"1"}}));
  std::vector<std::string> tables;
  session_->GetTableNames("Data", tables);
  EXPECT_EQ(tables, (std::vector<std::string>{"t"}));
  database->Close();
  EXPECT_EQ(database->Handle(), nullptr);
  EXPECT_EQ(OpenDirectories(), 0u);
}

TEST_F(DatabaseTest, ClosingDisconnectsEveryDatasetLastFirst) {
  auto database = NewDatabase("Data");
  std::vector<std::string> order;
  TestDataSet one(nullptr, "Data", "Work");
  TestDataSet two(nullptr, "Data", "Work");
  one.OnDisconnect = [&](TestDataSet&) { order.push_back("one"); };
  two.OnDisconnect = [&](TestDataSet& self) {
    order.push_back("two");
    EXPECT_TRUE(self.Active());
  };
  one.Open();
  two.Open();
  EXPECT_EQ(database->DataSetCount(), 2);
  EXPECT_EQ(database->RefCount(), 2);
  EXPECT_EQ(database->DataSets(0), &one);
  database->Close();
  EXPECT_EQ(order, (std::vector<std::string>{"two", "one"}));
  EXPECT_FALSE(one.Active());
  EXPECT_FALSE(two.Active());
  EXPECT_EQ(database->DataSetCount(), 0);
  EXPECT_EQ(database->RefCount(), 0);
}

TEST_F(DatabaseTest, KeepConnectionOfAComponentDatabase) {
  auto database = NewDatabase("Data");
  TestDataSet dataset(nullptr, "Data", "Work");
  dataset.Open();
  dataset.Close();
  EXPECT_TRUE(database->Connected());  // KeepConnection: stays open
  database->SetKeepConnection(false);  // nothing uses it: closes at once
  EXPECT_FALSE(database->Connected());
  dataset.Open();
  EXPECT_TRUE(database->Connected());
  dataset.Close();
  EXPECT_FALSE(database->Connected());
}

TEST_F(DatabaseTest, TemporaryDatabasesForPathsAndMemory) {
  // A dataset naming a directory opens through a temporary database.
  TestDataSet byPath(nullptr, data_.Path(), "Work");
  byPath.Open();
  TTarnDatabase* temporary = byPath.Database();
  EXPECT_TRUE(temporary->Temporary());
  EXPECT_EQ(temporary->DatabaseName(), data_.Path());
  EXPECT_EQ(temporary->Directory(), data_.Path());
  EXPECT_EQ(temporary->Owner(), session_);
  EXPECT_EQ(byPath.Query("SELECT a FROM t"), (std::vector<TextRow>{{"1"}}));
  std::vector<std::string> names;
  session_->GetDatabaseNames(names);
  EXPECT_TRUE(names.empty());  // path-like names are left out

  TestDataSet inMemory(nullptr, "memory", "Work");
  inMemory.Open();
  EXPECT_EQ(inMemory.Database()->Directory(), "");
  EXPECT_TRUE(inMemory.Database()->Handle()->InMemory());
  session_->GetDatabaseNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"memory"}));

  // With KeepConnections the temporary databases stay until dropped.
  byPath.Close();
  inMemory.Close();
  EXPECT_EQ(session_->DatabaseCount(), 2);
  session_->DropConnections();
  EXPECT_EQ(session_->DatabaseCount(), 0);
  EXPECT_EQ(OpenDirectories(), 0u);

  // Without it the last user's close destroys the temporary database.
  session_->SetKeepConnections(false);
  byPath.Open();
  EXPECT_FALSE(byPath.Database()->KeepConnection());
  TestDataSet second(nullptr, data_.Path(), "Work");
  second.Open();
  EXPECT_EQ(second.Database(), byPath.Database());
  byPath.Close();
  EXPECT_EQ(session_->DatabaseCount(), 1);
  second.Close();
  EXPECT_EQ(session_->DatabaseCount(), 0);
  EXPECT_EQ(OpenDirectories(), 0u);
}

TEST_F(DatabaseTest, AnUnusedTemporaryNamesakeGivesWay) {
  TestDataSet dataset(nullptr, "Data", "Work");
  dataset.Open();
  EXPECT_TRUE(dataset.Database()->Temporary());
  dataset.Close();
  auto component = NewDatabase("Data");
  component->Open();
  EXPECT_EQ(session_->DatabaseCount(), 1);
  EXPECT_EQ(session_->FindDatabase("data"), component.get());
  // A used one does not.
  component->Close();
  component->SetDatabaseName("Other");
  dataset.Open();
  component->Close();
  TTarnDatabase* temporary = dataset.Database();
  component.reset();
  auto clash = NewDatabase("Data");
  EXPECT_EQ(ErrorOf([&] { clash->Open(); }), "Database name Data already exists.");
  EXPECT_EQ(dataset.Database(), temporary);
  dataset.Close();
}

TEST_F(DatabaseTest, HandleSharedBorrowsTheOpenDirectory) {
  auto lender = NewDatabase("Data");
  auto borrower = NewDatabase("Data");
  lender->SetHandleShared(true);
  borrower->SetHandleShared(true);
  lender->Open();
  borrower->Open();
  ASSERT_EQ(borrower->Handle(), lender->Handle());
  TDataDirectory* directory = lender->Handle();
  EXPECT_EQ(directory->UseCount(), 1);  // a borrower takes no use
  EXPECT_EQ(OpenDirectories(), 1u);

  // The borrower's close leaves the lender's directory alone.
  borrower->Close();
  EXPECT_EQ(OpenDirectories(), 1u);
  EXPECT_EQ(RunSql(*lender->Handle(), "SELECT a FROM t"), (std::vector<TextRow>{{"1"}}));

  // The lender closing first: the directory stays until the last borrower goes.
  borrower->Open();
  auto third = NewDatabase("Data");
  third->SetHandleShared(true);
  third->Open();
  lender->Close();
  EXPECT_EQ(OpenDirectories(), 1u);
  EXPECT_EQ(RunSql(*borrower->Handle(), "SELECT a FROM t"), (std::vector<TextRow>{{"1"}}));
  borrower->Close();
  EXPECT_EQ(OpenDirectories(), 1u);
  EXPECT_EQ(RunSql(*third->Handle(), "SELECT a FROM t"), (std::vector<TextRow>{{"1"}}));
  third->Close();
  EXPECT_EQ(OpenDirectories(), 0u);

  // The lender reopening while a borrower is left still balances.
  lender->Open();
  borrower->Open();
  lender->Close();
  lender->Open();
  EXPECT_EQ(lender->Handle(), borrower->Handle());
  borrower->Close();
  EXPECT_EQ(OpenDirectories(), 1u);
  lender->Close();
  EXPECT_EQ(OpenDirectories(), 0u);
}

TEST_F(DatabaseTest, DatasetsPreferAHandleSharedDatabaseOfTheirOwner) {
  TComponent& module = NewOwner("Module");
  auto inSession = NewDatabase("Data");
  inSession->SetHandleShared(true);
  auto inModule = std::make_unique<TTarnDatabase>(&module);
  inModule->SetSessionName("Work");
  inModule->SetDatabaseName("Data");
  inModule->SetDirectory(data_.Path());
  inModule->SetHandleShared(true);
  TestDataSet dataset(&module, "Data", "Work");
  dataset.Open();
  EXPECT_EQ(dataset.Database(), inModule.get());
  TestDataSet loose(nullptr, "Data", "Work");
  loose.Open();
  EXPECT_EQ(loose.Database(), inSession.get());
  EXPECT_EQ(loose.Database()->Handle(), dataset.Database()->Handle());
}

TEST_F(DatabaseTest, AttachingAnOpenDirectory) {
  auto owner = NewDatabase("Data");
  owner->Open();
  auto attached = NewDatabase("Attached");
  attached->SetHandle(owner->Handle());
  EXPECT_TRUE(attached->Connected());
  EXPECT_EQ(attached->Handle(), owner->Handle());
  // The attached database does not close the directory; its opener's close
  // waits for it.
  owner->Close();
  EXPECT_EQ(OpenDirectories(), 1u);
  attached->Close();
  EXPECT_EQ(OpenDirectories(), 0u);
  attached->SetHandle(nullptr);
  EXPECT_FALSE(attached->Connected());

  TTarnSession& other = NewSession("Other");
  TDataDirectory& foreign = other.Handle().OpenDataDirectory("", data_.Path());
  EXPECT_EQ(ErrorOf([&] { attached->SetHandle(&foreign); }), "Database handle owned by a different session");
  EXPECT_FALSE(attached->Connected());
  TTarnDatabase unnamed(session_);
  EXPECT_EQ(ErrorOf([&] { unnamed.SetHandle(&foreign); }), "Database name is missing.");
  other.Handle().CloseDataDirectory(foreign);
}

TEST_F(DatabaseTest, TransactionsThroughARealTable) {
  auto database = NewDatabase("Data");
  EXPECT_EQ(ErrorOf([&] { database->StartTransaction(); }), "Cannot perform this operation on a closed database.");
  EXPECT_EQ(ErrorOf([&] { database->Commit(false); }), "Cannot perform this operation on a closed database.");
  EXPECT_EQ(ErrorOf([&] { database->Rollback(); }), "Cannot perform this operation on a closed database.");
  database->Open();
  EXPECT_EQ(ErrorOf([&] { database->Commit(false); }), "Database Data has no active transaction.");
  EXPECT_EQ(ErrorOf([&] { database->Rollback(); }), "Database Data has no active transaction.");

  TTarnSession& reader = NewSession("Reader");
  auto seen = [&] {
    TDataDirectory& directory = reader.Handle().OpenDataDirectory("", data_.Path());
    auto rows = RunSql(directory, "SELECT a FROM t ORDER BY a");
    reader.Handle().CloseDataDirectory(directory);
    return rows;
  };

  database->StartTransaction();
  EXPECT_TRUE(database->InTransaction());
  EXPECT_EQ(ErrorOf([&] { database->StartTransaction(); }), "Database Data already has an active transaction.");
  RunSql(*database->Handle(), "INSERT INTO t VALUES (2)");
  EXPECT_EQ(RunSql(*database->Handle(), "SELECT a FROM t ORDER BY a"), (std::vector<TextRow>{{"1"}, {"2"}}));
  database->Rollback();
  EXPECT_FALSE(database->InTransaction());
  EXPECT_EQ(seen(), (std::vector<TextRow>{{"1"}}));

  database->StartTransaction();
  RunSql(*database->Handle(), "INSERT INTO t VALUES (3)");
  database->Commit(true);
  EXPECT_FALSE(database->InTransaction());
  EXPECT_EQ(seen(), (std::vector<TextRow>{{"1"}, {"3"}}));

  // Closing a database in a transaction rolls it back with the directory.
  database->StartTransaction();
  RunSql(*database->Handle(), "INSERT INTO t VALUES (4)");
  database->Close();
  EXPECT_EQ(seen(), (std::vector<TextRow>{{"1"}, {"3"}}));
}

TEST_F(DatabaseTest, StoredFormsOpenOrAttachWhenLoaded) {
  TComponent& module = NewOwner("Module");
  TTarnDatabase connected(&module);
  TTarnDatabase idle(&module);
  module.BeginLoading();
  connected.SetSessionName("Work");
  connected.SetDatabaseName("Data");
  connected.SetDirectory(data_.Path());
  connected.SetConnected(true);
  EXPECT_FALSE(connected.Connected());
  idle.SetSessionName("Later");
  idle.SetDatabaseName("Idle");
  session_->Close();
  module.EndLoading();
  EXPECT_TRUE(connected.Connected());
  EXPECT_EQ(&connected.Session(), session_);
  // The named session did not exist yet: the database waits in the default
  // session until a dataset attaches it.
  EXPECT_EQ(&idle.Session(), &Session());
  TTarnSession& later = NewSession("Later");
  idle.AttachToNamedSession();
  EXPECT_EQ(&idle.Session(), &later);
  EXPECT_TRUE(later.Active());
  EXPECT_FALSE(idle.Connected());

  // A stored name that breaks the rules is refused when the database opens.
  TTarnDatabase bad(&module);
  module.BeginLoading();
  bad.SetDatabaseName("9lives");
  module.EndLoading();
  EXPECT_EQ(ErrorOf([&] { bad.Open(); }), "Database name 9lives is not valid.");
}

TEST_F(DatabaseTest, DatabaseNamesOfTheSession) {
  auto b = NewDatabase("beta");
  auto a = NewDatabase("Alpha");
  auto c = NewDatabase("Gamma");
  TestDataSet byPath(nullptr, data_.Path(), "Work");
  byPath.Open();
  std::vector<std::string> names;
  session_->GetDatabaseNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "Gamma"}));
}

}  // namespace
}  // namespace tarn::component_testing
