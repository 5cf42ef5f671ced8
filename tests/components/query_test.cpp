// The query component end to end: a module with a session, a database
// component and a query, running statements the way the status page does,
// with parameters, ExecSQL, DataSource links, live answers and the database
// flags.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "component_fixture.h"
#include "components/tarn_query.h"

namespace tarn::component_testing {
namespace {

class QueryTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    module_ = &NewOwner("Module");
    session_ = &NewSession("S", module_);
    MakeTable(*session_, "CREATE TABLE \"user\" (\"USER\" CHAR(20), NAME CHAR(20), LIMIT_P INTEGER, FLAG BOOLEAN)",
              {"INSERT INTO \"user\" VALUES ('BOB', 'laser', 100, TRUE)",
               "INSERT INTO \"user\" VALUES ('BOB', NULL, -1, FALSE)",
               "INSERT INTO \"user\" VALUES ('ANN', 'ink', 20, NULL)"});
    database_ = std::make_unique<TTarnDatabase>(module_);
    database_->SetDatabaseName("Vantrel");
    database_->SetDirectory(data_.Path());
    database_->SetSessionName("S");
    query_ = std::make_unique<TTarnQuery>(module_);
    query_->SetDatabaseName("Vantrel");
    query_->SetSessionName("S");
  }
  void TearDown() override {
    extra_.reset();
    query_.reset();
    database_.reset();
    ComponentTest::TearDown();
  }
  void Run(TTarnQuery& query, const std::string& sql) {
    query.Close();
    query.SQL().Clear();
    query.SQL().Add(sql);
    query.Prepare();
    query.Open();
  }
  std::vector<std::string> Column(TTarnQuery& query, const std::string& field) {
    std::vector<std::string> values;
    query.First();
    for (int i = 0; i < query.RecordCount(); ++i) {
      values.push_back(query.FieldByName(field).AsString());
      query.Next();
    }
    return values;
  }

  TComponent* module_ = nullptr;
  TTarnSession* session_ = nullptr;
  std::unique_ptr<TTarnDatabase> database_;
  std::unique_ptr<TTarnQuery> query_;
  std::unique_ptr<TTarnQuery> extra_;
};

TEST_F(QueryTest, StatementsRunTheWayThePageRunsThem) {
  TTarnQuery& q = *query_;
  Run(q, "select * from 'user' where Upper('user'.'user') = 'BOB'");
  EXPECT_TRUE(q.Prepared());
  EXPECT_EQ(q.StatementType(), stSelect);
  ASSERT_EQ(q.RecordCount(), 2);
  q.First();
  EXPECT_EQ(q.FieldByName("USER").AsString(), "BOB");
  EXPECT_EQ(q.FieldByName("limit_p").AsInteger(), 100);
  EXPECT_EQ(q.FieldByName("FLAG").AsString(), "True");
  q.Next();
  EXPECT_EQ(q.FieldByName("NAME").AsString(), "");
  EXPECT_EQ(q.FieldByName("LIMIT_P").AsInteger(), -1);
  q.Next();
  EXPECT_TRUE(q.Eof());

  Run(q, "select * from 'user' where \"USER\" = 'NOBODY'");
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.FieldByName("LIMIT_P").AsInteger(), 0);
  EXPECT_EQ(q.FieldByName("NAME").AsString(), "");

  // The last statement without First: an opened query stands on its first row.
  Run(q, "select NAME, LIMIT_P from \"user\" order by LIMIT_P");
  EXPECT_EQ(q.FieldByName("LIMIT_P").AsInteger(), -1);
  EXPECT_EQ(Column(q, "NAME"), (std::vector<std::string>{"", "ink", "laser"}));

  // Closing the database closes and unprepares the query; a new Prepare makes a new statement.
  database_->SetConnected(false);
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(database_->DataSetCount(), 0);
  q.Prepare();
  q.Open();
  EXPECT_TRUE(database_->Connected());
  EXPECT_EQ(q.RecordCount(), 3);
}

TEST_F(QueryTest, SqlChangesUnprepareAndErrorsLeaveTheQueryUnprepared) {
  TTarnQuery& q = *query_;
  q.SQL().Add("select * from \"user\"");
  q.Prepare();
  EXPECT_TRUE(q.Prepared());
  q.SQL().SetText("update \"user\" set LIMIT_P = 5 where \"USER\" = 'ANN'");
  EXPECT_FALSE(q.Prepared());
  q.Prepare();
  EXPECT_EQ(q.StatementType(), stUpdate);
  EXPECT_EQ(ErrorOf([&] { q.Open(); }), "Error creating table handle.");
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);

  q.SQL().SetText("select from where");
  EXPECT_NE(ErrorOf([&] { q.Prepare(); }), "");
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(database_->DataSetCount(), 0);

  q.SQL().Clear();
  EXPECT_EQ(ErrorOf([&] { q.Open(); }), "No SQL statement available");
  EXPECT_EQ(ErrorOf([&] { q.Prepare(); }), "No SQL statement available");
  EXPECT_FALSE(q.Prepared());
  q.SQL().Add("x");
  EXPECT_EQ(ErrorOf([&] { q.Prepare(); }), "No SQL statement available");

  Run(q, "select * from \"user\"");
  EXPECT_EQ(ErrorOf([&] { q.SetDatabaseName("Other"); }), "Cannot perform this operation on an open database.");
  EXPECT_EQ(ErrorOf([&] { q.ExecSQL(); }), "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorOf([&] { q.FieldByName("MISSING"); }), "Field 'MISSING' not found");
  q.Close();
  EXPECT_TRUE(q.Prepared());
  q.SetDatabaseName("Other");
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(database_->DataSetCount(), 0);
}

TEST_F(QueryTest, ParametersReachTheStatement) {
  TTarnQuery& q = *query_;
  q.SQL().Add("select \"USER\", LIMIT_P from \"user\" where LIMIT_P > :low and \"USER\" = :who order by LIMIT_P");
  q.ParamByName("low").SetAsInteger(0);
  q.ParamByName("who").SetAsString("BOB");
  q.Open();
  EXPECT_EQ(Column(q, "LIMIT_P"), (std::vector<std::string>{"100"}));
  q.Close();
  q.ParamByName("low").SetAsFloat(-2.5);
  EXPECT_TRUE(q.Prepared());
  q.Open();
  EXPECT_EQ(Column(q, "LIMIT_P"), (std::vector<std::string>{"-1", "100"}));
  q.Close();
  q.ParamByName("who").SetAsString("ANN");
  q.ParamByName("low").SetAsLargeInt(30);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 0);
  q.Close();

  // A long text goes as a BLOB value; a null parameter stores NULL.
  q.SQL().SetText("create table notes (ID INTEGER, TXT BLOB(0, 1), N INTEGER)");
  q.ExecSQL();
  q.SQL().SetText("insert into notes values (:id, :txt, :n)");
  q.ParamByName("id").SetAsInteger(1);
  const std::string longText(400, 'z');
  q.ParamByName("txt").SetAsString(longText);
  q.ParamByName("n").SetDataType(ftInteger);
  q.ParamByName("n").Clear();
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);
  Run(q, "select * from notes");
  EXPECT_EQ(q.FieldByName("TXT").AsString(), longText);
  EXPECT_TRUE(q.FieldByName("N").IsNull());

  q.Close();
  q.SQL().SetText("select * from \"user\" where \"USER\" = :nothing");
  EXPECT_EQ(ErrorOf([&] { q.Open(); }), "No value for parameter 'nothing'");
  EXPECT_FALSE(q.Active());
}

TEST_F(QueryTest, DataSourceFillsUnboundParametersAndFollowsTheSource) {
  TTarnQuery& master = *query_;
  Run(master, "select distinct \"USER\" as UNAME from \"user\" order by UNAME");
  extra_ = std::make_unique<TTarnQuery>(module_);
  TTarnQuery& detail = *extra_;
  detail.SetDatabaseName("Vantrel");
  detail.SetSessionName("S");
  detail.SQL().Add("select LIMIT_P from \"user\" where \"USER\" = :UNAME order by LIMIT_P");
  detail.SetDataSource(&master);
  detail.Open();
  EXPECT_EQ(Column(detail, "LIMIT_P"), (std::vector<std::string>{"20"}));
  master.Next();
  EXPECT_TRUE(detail.Active());
  EXPECT_EQ(Column(detail, "LIMIT_P"), (std::vector<std::string>{"-1", "100"}));
  // A value the application binds wins over the source.
  detail.ParamByName("uname").SetAsString("ANN");
  master.First();
  EXPECT_EQ(Column(detail, "LIMIT_P"), (std::vector<std::string>{"20"}));

  EXPECT_EQ(ErrorOf([&] { detail.SetDataSource(&detail); }), "Circular data links are not allowed.");
  EXPECT_EQ(ErrorOf([&] { master.SetDataSource(&detail); }), "Circular data links are not allowed.");
  EXPECT_EQ(master.DataSource(), nullptr);
  // The source going away leaves the link empty.
  query_.reset();
  EXPECT_EQ(detail.DataSource(), nullptr);
}

TEST_F(QueryTest, LiveAnswersCanBeEditedUnlessReadOnly) {
  TTarnQuery& q = *query_;
  q.SetRequestLive(true);
  Run(q, "select * from \"user\" where \"USER\" = 'ANN'");
  ASSERT_TRUE(q.ResultIsLive());
  EXPECT_TRUE(q.CanModify());
  q.Edit();
  q.FieldByName("LIMIT_P").SetAsInteger(77);
  q.Post();
  Run(q, "select LIMIT_P from \"user\" where \"USER\" = 'ANN'");
  EXPECT_EQ(q.FieldByName("LIMIT_P").AsInteger(), 77);
  q.Close();
  q.SetReadOnly(true);
  q.Open();
  EXPECT_FALSE(q.CanModify());
  EXPECT_EQ(ErrorOf([&] { q.Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(ErrorOf([&] { q.SetReadOnly(false); }), "Cannot perform this operation on an open dataset");
  q.Close();
  q.SetRequestLive(false);
  q.SetReadOnly(false);
  Run(q, "select * from \"user\"");
  EXPECT_FALSE(q.ResultIsLive());
  EXPECT_FALSE(q.CanModify());
}

TEST_F(QueryTest, SaveToTableWritesTheAnswer) {
  TTarnQuery& q = *query_;
  std::vector<int> progress;
  q.OnSaveProgress = [&](TTarnQuery&, std::uint16_t percent) { progress.push_back(percent); };
  q.SQL().Add("select \"USER\", LIMIT_P from \"user\" where LIMIT_P > 0");
  q.SaveToTable("copy", "Vantrel");  // not open: nothing happens
  q.Open();
  q.SaveToTable("copy", "Vantrel");
  Run(q, "select * from copy order by LIMIT_P");
  EXPECT_EQ(Column(q, "LIMIT_P"), (std::vector<std::string>{"20", "100"}));
}

TEST_F(QueryTest, DatabaseNamedByPathOpensThroughATemporaryDatabase) {
  TTarnQuery& q = *query_;
  session_->SetKeepConnections(false);
  q.SetDatabaseName(data_.Path());
  Run(q, "select * from \"user\"");
  EXPECT_EQ(q.RecordCount(), 3);
  EXPECT_NE(session_->FindDatabase(data_.Path()), nullptr);
  q.Close();
  q.UnPrepare();
  EXPECT_EQ(session_->FindDatabase(data_.Path()), nullptr);
}

TEST_F(QueryTest, QueryTakesTheNameOfItsOwnersAutoSession) {
  TComponent& owner = NewOwner("Web");
  TTarnSession& auto_session = NewSession("", &owner);
  auto_session.SetName("MySession");
  auto_session.SetAutoSessionName(true);
  extra_ = std::make_unique<TTarnQuery>(&owner);
  EXPECT_EQ(extra_->SessionName(), auto_session.SessionName());
  EXPECT_NE(extra_->SessionName(), "");
  // Automatic numbers are process-wide and outlive their sessions: give it back.
  extra_.reset();
  auto_session.SetAutoSessionName(false);
}

}  // namespace
}  // namespace tarn::component_testing
