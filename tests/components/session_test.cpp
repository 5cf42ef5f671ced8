// Session components and the session list: the default session and the
// engine, names (set and automatic), start and stop, settings, the session
// lock, passwords and the password handler, stored forms, and sessions used
// on several threads at once.
#include <atomic>
#include <charconv>
#include <mutex>
#include <thread>

#include "component_fixture.h"

namespace tarn::component_testing {
namespace {

using SessionTest = ComponentTest;

TEST_F(SessionTest, StartingAnySessionStartsTheDefaultSessionAndTheEngine) {
  EXPECT_EQ(Session().SessionName(), "Default");
  EXPECT_TRUE(Session().IsDefault());
  EXPECT_FALSE(TarnStarted());
  EXPECT_EQ(Sessions().FindSession(""), &Session());

  TTarnSession& s = NewSession("Work");
  EXPECT_FALSE(s.IsDefault());
  s.Open();
  EXPECT_TRUE(Session().Active());
  EXPECT_TRUE(TarnStarted());
  EXPECT_NE(s.DataSession(), Session().DataSession());
  EXPECT_EQ(Sessions().FindSession("wORK"), &s);

  s.MakeCurrent();
  EXPECT_EQ(Sessions().CurrentSession(), &s);
  // Stopping a session makes the default session's data session current.
  s.Close();
  EXPECT_FALSE(s.Active());
  EXPECT_EQ(Sessions().CurrentSession(), &Session());
  EXPECT_TRUE(TarnStarted());
  // The engine stops with the default session.
  Session().Close();
  EXPECT_FALSE(TarnStarted());
}

TEST_F(SessionTest, OnStartupIsCalledAtEachStart) {
  TTarnSession& s = NewSession("Work");
  int starts = 0;
  s.OnStartup = [&](TTarnSession& sender) {
    EXPECT_EQ(&sender, &s);
    ++starts;
  };
  s.Open();
  s.Open();
  s.Close();
  s.Open();
  EXPECT_EQ(starts, 2);
}

TEST_F(SessionTest, SessionListLookUps) {
  TTarnSession& a = NewSession("Alpha");
  std::vector<std::string> names;
  Sessions().GetSessionNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Default", "Alpha"}));
  EXPECT_EQ(Sessions().Count(), 2);
  EXPECT_EQ(Sessions().Sessions(1), &a);
  EXPECT_EQ(Sessions().Sessions(2), nullptr);
  EXPECT_EQ(&Sessions().GetSessionByName("ALPHA"), &a);
  EXPECT_EQ(ErrorOf([] { Sessions().GetSessionByName("Nope"); }), "Session name Nope is not valid.");

  // OpenSession finds a session or makes one, and starts it.
  EXPECT_EQ(&Sessions().OpenSession("alpha"), &a);
  EXPECT_TRUE(a.Active());
  TTarnSession& made = Sessions().OpenSession("Made");
  EXPECT_TRUE(made.Active());
  EXPECT_EQ(made.Owner(), nullptr);
  Sessions().SetCurrentSession(made);
  EXPECT_EQ(Sessions().CurrentSession(), &made);
  a.MakeCurrent();
  EXPECT_EQ(Sessions().CurrentSession(), &a);

  // CloseAll destroys the sessions the list made, the default one included;
  // a new default session takes its place when next asked for.
  sessions_.clear();
  Sessions().CloseAll();
  EXPECT_FALSE(TarnStarted());
  EXPECT_EQ(Sessions().FindSession("Made"), nullptr);
  EXPECT_EQ(Session().SessionName(), "Default");
  EXPECT_TRUE(Session().IsDefault());
  EXPECT_EQ(Sessions().Count(), 1);
}

TEST_F(SessionTest, SessionNameRules) {
  TTarnSession& a = NewSession("Alpha");
  TTarnSession& b = NewSession("");
  EXPECT_EQ(ErrorOf([&] { b.SetSessionName("ALPHA"); }), "Session name ALPHA already exists.");
  EXPECT_EQ(ErrorOf([&] { b.SetSessionName("default"); }), "Session name default already exists.");
  // A session without a name cannot start, and stays inactive.
  EXPECT_EQ(ErrorOf([&] { b.Open(); }), "Session name is missing.");
  EXPECT_FALSE(b.Active());
  b.SetSessionName("Beta");
  a.Open();
  EXPECT_EQ(ErrorOf([&] { a.SetSessionName("Other"); }), "Cannot perform this operation on an active session.");
  EXPECT_EQ(a.SessionName(), "Alpha");
}

TEST_F(SessionTest, AutomaticNamesTakeTheLowestFreeNumber) {
  // Two modules with one auto-named session each, then a third after the
  // first gave its number back.
  TComponent& m1 = NewOwner("Module1");
  TComponent& m2 = NewOwner("Module2");
  TComponent& m3 = NewOwner("Module3");
  TTarnSession& s1 = NewSession("", &m1);
  s1.SetName("MySession");
  s1.SetAutoSessionName(true);
  TTarnSession& s2 = NewSession("", &m2);
  s2.SetName("MySession");
  s2.SetAutoSessionName(true);
  EXPECT_EQ(s1.SessionName(), "MySession_1");
  EXPECT_EQ(s2.SessionName(), "MySession_2");

  s1.SetAutoSessionName(false);
  EXPECT_EQ(s1.SessionName(), "MySession_1");  // the name stays, the number is free
  s1.SetSessionName("Manual");
  TTarnSession& s3 = NewSession("", &m3);
  s3.SetName("MySession");
  s3.SetAutoSessionName(true);
  EXPECT_EQ(s3.SessionName(), "MySession_1");

  // Renaming the component renames the session.
  s3.SetName("Renamed");
  EXPECT_EQ(s3.SessionName(), "Renamed_1");
  s2.SetAutoSessionName(false);
  s3.SetAutoSessionName(false);
}

TEST_F(SessionTest, DestroyingAnAutoNamedSessionKeepsItsNumber) {
  TComponent& m1 = NewOwner("Module1");
  auto going = std::make_unique<TTarnSession>(&m1);
  going->SetName("Kept");
  going->SetAutoSessionName(true);
  const std::string kept = going->SessionName();
  going.reset();
  TTarnSession& next = NewSession("", &m1);
  next.SetName("Kept");
  next.SetAutoSessionName(true);
  EXPECT_NE(next.SessionName(), kept);
  next.SetAutoSessionName(false);
  // Give the kept number back so later tests count from 1 again.
  int number = 0;
  const std::string digits = kept.substr(kept.rfind('_') + 1);
  std::from_chars(digits.data(), digits.data() + digits.size(), number);
  ASSERT_GT(number, 0);
  Sessions().ReleaseAutoSessionNumber(number);
}

TEST_F(SessionTest, AutomaticNameRules) {
  TComponent& module = NewOwner("Module");
  TTarnSession& s = NewSession("", &module);
  s.SetName("MySession");
  s.SetAutoSessionName(true);
  EXPECT_EQ(ErrorOf([&] { s.SetSessionName("Other"); }), "Cannot perform this operation on the active auto-session.");
  // A second session on an owner with an auto-named session is refused.
  EXPECT_EQ(ErrorOf([&] { TTarnSession second(&module); }), "This auto-session already exists.");
  EXPECT_EQ(module.ComponentCount(), 1);
  s.SetAutoSessionName(false);

  // Auto-naming needs the only session of its owner, and an inactive one.
  TTarnSession& sibling = NewSession("Sibling", &module);
  EXPECT_EQ(ErrorOf([&] { s.SetAutoSessionName(true); }), "The active auto-session can be the only active session.");
  EXPECT_FALSE(s.AutoSessionName());
  TComponent& other = NewOwner("Other");
  TTarnSession& active = NewSession("Active", &other);
  active.Open();
  EXPECT_EQ(ErrorOf([&] { active.SetAutoSessionName(true); }), "Cannot perform this operation on an active session.");
  (void)sibling;
}

TEST_F(SessionTest, AutomaticNamesReachTheOwnersDatabasesAndDatasets) {
  TComponent& module = NewOwner("Module");
  TTarnSession& s = NewSession("", &module);
  TTarnDatabase before(&module);
  TestDataSet dataset(&module, "DB");
  s.SetName("MySession");
  s.SetAutoSessionName(true);
  const std::string name = s.SessionName();
  EXPECT_EQ(before.SessionName(), name);
  EXPECT_EQ(&before.Session(), &s);
  EXPECT_EQ(dataset.AssignedSessionName(), name);

  // A database made later in the same owner finds the session itself.
  TTarnDatabase after(&module);
  EXPECT_EQ(after.SessionName(), name);
  EXPECT_EQ(&after.Session(), &s);
  // Components moved into the owner are told.
  TComponent& elsewhere = NewOwner("Elsewhere");
  TTarnDatabase moved(&elsewhere);
  TestDataSet movedSet(&elsewhere, "DB", "Default");
  moved.ChangeOwner(&module);
  movedSet.ChangeOwner(&module);
  EXPECT_EQ(&moved.Session(), &s);
  EXPECT_EQ(moved.SessionName(), name);
  EXPECT_EQ(movedSet.AssignedSessionName(), name);
  s.SetAutoSessionName(false);
}

TEST_F(SessionTest, StoredFormStartsTheSessionWhenLoaded) {
  TComponent& module = NewOwner("Module");
  TTarnSession& s = NewSession("", &module);
  TTarnDatabase database(&module);
  TestDataSet dataset(&module, "DB");
  module.BeginLoading();
  s.SetName("Stored");
  s.SetAutoSessionName(true);
  s.SetActive(true);
  EXPECT_FALSE(s.Active());  // only stored while the form is read
  module.EndLoading();
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(s.SessionName().rfind("Stored_", 0), 0u);
  EXPECT_EQ(database.SessionName(), s.SessionName());
  EXPECT_EQ(dataset.AssignedSessionName(), s.SessionName());
  s.Close();
  s.SetAutoSessionName(false);
}

TEST_F(SessionTest, SettingsReachTheDataSessionInOrderAndOnChange) {
  TTarnSession& s = NewSession("Work");
  // Constructor defaults.
  EXPECT_EQ(s.LockRetryCount(), 15);
  EXPECT_EQ(s.LockWaitTime(), 100);
  EXPECT_EQ(s.ProgressSteps(), 20);
  EXPECT_EQ(s.LockProtocol(), lpPessimistic);
  EXPECT_TRUE(s.KeepConnections());
  EXPECT_FALSE(s.ForceBufferFlush());
  EXPECT_FALSE(s.StrictChangeDetection());
  EXPECT_EQ(s.SessionType(), stLocal);
  EXPECT_EQ(s.EngineVersion(), "3.08");

  s.SetLockRetryCount(3);
  s.SetLockWaitTime(7);
  s.SetLockProtocol(lpOptimistic);
  s.SetProgressSteps(40);
  s.SetForceBufferFlush(true);
  s.SetStrictChangeDetection(true);
  s.Open();
  TDataSession& handle = *s.DataSession();
  EXPECT_EQ(handle.LockRetries(), 3);
  EXPECT_EQ(handle.LockWait(), 7);
  EXPECT_EQ(handle.LockProtocol(), lpOptimistic);
  EXPECT_EQ(handle.ProgressSteps(), 40);
  EXPECT_TRUE(handle.ForceBufferFlush());
  EXPECT_TRUE(handle.StrictChangeDetection());
  EXPECT_EQ(handle.GetPrivateDirectory(), private_.Path());

  // Changes on an active session are passed on.
  s.SetLockRetryCount(9);
  s.SetLockWaitTime(11);
  s.SetLockProtocol(lpPessimistic);
  s.SetProgressSteps(100);
  s.SetForceBufferFlush(false);
  s.SetStrictChangeDetection(false);
  TempDir otherPrivate;
  s.SetPrivateDir(otherPrivate.Path());
  EXPECT_EQ(handle.LockRetries(), 9);
  EXPECT_EQ(handle.LockWait(), 11);
  EXPECT_EQ(handle.LockProtocol(), lpPessimistic);
  EXPECT_EQ(handle.ProgressSteps(), 100);
  EXPECT_FALSE(handle.ForceBufferFlush());
  EXPECT_FALSE(handle.StrictChangeDetection());
  EXPECT_EQ(handle.GetPrivateDirectory(), otherPrivate.Path());

  // Above 100 progress steps are ignored, active or not.
  s.SetProgressSteps(150);
  EXPECT_EQ(s.ProgressSteps(), 100);
  EXPECT_EQ(handle.ProgressSteps(), 100);
  s.Close();
  s.SetProgressSteps(150);
  EXPECT_EQ(s.ProgressSteps(), 100);
}

TEST_F(SessionTest, SessionTypeOnlyWhileInactiveAndRemoteIsRefused) {
  TTarnSession& s = NewSession("Work");
  s.Open();
  EXPECT_EQ(ErrorOf([&] { s.SetSessionType(stRemote); }), "Cannot perform this operation on an active session.");
  s.Close();
  s.SetSessionType(stRemote);
  EXPECT_EQ(ErrorOf([&] { s.Open(); }), "Remote sessions are not supported: set SessionType to stLocal.");
  EXPECT_FALSE(s.Active());
  s.SetSessionType(stLocal);
  s.Open();
  EXPECT_TRUE(s.Active());
}

TEST_F(SessionTest, LockSessionCountsDepthAndHoldsTheProcessLock) {
  TTarnSession& s = NewSession("Work");
  auto lockIsFree = [] {
    bool free = false;
    std::thread probe([&] {
      free = Sessions().SessionLock().try_lock();
      if (free) Sessions().SessionLock().unlock();
    });
    probe.join();
    return free;
  };
  s.LockSession();  // starts the session and makes it current
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(Sessions().CurrentSession(), &s);
  s.LockSession();
  Session().MakeCurrent();
  s.UnlockSession();
  EXPECT_FALSE(lockIsFree());
  s.UnlockSession();
  EXPECT_TRUE(lockIsFree());
  s.UnlockSession();  // unbalanced: nothing
  EXPECT_TRUE(lockIsFree());

  // A failure making the session current leaves the lock and the count.
  TTarnSession& unnamed = NewSession("");
  EXPECT_EQ(ErrorOf([&] { unnamed.LockSession(); }), "Session name is missing.");
  EXPECT_TRUE(lockIsFree());
  unnamed.SetSessionName("Named");
  {
    TSessionLockGuard guard(unnamed);
    EXPECT_EQ(Sessions().CurrentSession(), &unnamed);
    EXPECT_FALSE(lockIsFree());
  }
  EXPECT_TRUE(lockIsFree());
}

TEST_F(SessionTest, PasswordsGoToTheDataSession) {
  TTarnSession& s = NewSession("Work");
  s.AddPassword("one");  // starts the session
  s.AddPassword("Two");
  s.AddPassword("one");
  s.AddPassword("");
  EXPECT_EQ(s.DataSession()->Passwords(), (std::vector<std::string>{"one", "Two"}));
  s.RemovePassword("two");  // exact comparison: nothing removed
  EXPECT_EQ(s.DataSession()->Passwords().size(), 2u);
  s.RemovePassword("Two");
  EXPECT_EQ(s.DataSession()->Passwords(), (std::vector<std::string>{"one"}));
  s.RemoveAllPasswords();
  EXPECT_TRUE(s.DataSession()->Passwords().empty());
}

// A table with a password, read by a session that lacks it: the handler is
// asked once per attempt, and a handler that asks to try again without a new
// password ends the attempts.
TEST_F(SessionTest, PasswordHandler) {
  TTarnSession& maker = NewSession("Maker");
  maker.AddPassword("pw1");
  MakeTable(maker, "CREATE TABLE secret (a INTEGER ENCRYPTED WITH 'pw1')", {"INSERT INTO secret VALUES (7)"});
  maker.Close();

  struct Case {
    const char* name;
    std::vector<std::string> supplied;  // per call: the password added ("" none)
    std::vector<bool> answers;          // per call: Continue
    bool opens;
    int calls;
  };
  const std::vector<Case> cases = {
      {"declines", {""}, {false}, false, 1},
      {"supplies", {"pw1"}, {true}, true, 1},
      {"retries without a password", {""}, {true}, false, 1},
      {"wrong then right", {"bad", "pw1"}, {true, true}, true, 2},
      {"wrong then gives up", {"bad", ""}, {true, false}, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTarnSession& s = NewSession(std::string("Reader") + std::to_string(&c - cases.data()));
    int calls = 0;
    s.OnPassword = [&](TTarnSession& sender, bool& again) {
      EXPECT_FALSE(again);  // preset to false
      const auto i = static_cast<std::size_t>(calls++);
      ASSERT_LT(i, c.supplied.size());
      if (!c.supplied[i].empty()) sender.AddPassword(c.supplied[i]);
      again = c.answers[i];
    };
    TTarnDatabase database(&s);
    database.SetDatabaseName("Data");
    database.SetDirectory(data_.Path());
    database.Open();
    if (c.opens) {
      EXPECT_EQ(RunSql(*database.Handle(), "SELECT a FROM secret", &s), (std::vector<TextRow>{{"7"}}));
    } else {
      EXPECT_EQ(EngineCodeOf([&] { RunSql(*database.Handle(), "SELECT a FROM secret", &s); }), TARN_NOTSUFFTABLERIGHTS);
    }
    EXPECT_EQ(calls, c.calls);
  }
  // Without a handler nobody is asked and the table stays closed.
  TTarnSession& plain = NewSession("Plain");
  EXPECT_FALSE(plain.GetPasswordCallback());
  // Asked directly: "again" counts only when the passwords changed.
  std::string supply;
  plain.OnPassword = [&](TTarnSession& sender, bool& again) {
    if (!supply.empty()) sender.AddPassword(supply);
    again = true;
  };
  plain.Open();
  EXPECT_FALSE(plain.GetPasswordCallback());
  supply = "new";
  EXPECT_TRUE(plain.GetPasswordCallback());
  EXPECT_FALSE(plain.GetPasswordCallback());  // already known: nothing changed
}

TEST_F(SessionTest, StoppingASessionClosesItsDatabasesLastFirst) {
  TTarnSession& s = NewSession("Work");
  TTarnDatabase first(&s);
  first.SetDatabaseName("First");
  first.SetDirectory(data_.Path());
  TTarnDatabase second(&s);
  second.SetDatabaseName("Second");
  second.SetDirectory(data_.Path());
  first.Open();
  second.Open();
  TTarnDatabase& temporary = s.OpenDatabase(data_.Path());
  (void)temporary;
  EXPECT_EQ(s.DatabaseCount(), 3);
  std::vector<std::string> events;
  s.OnDBNotify = [&](TTarnDatabaseEvent event, TTarnDatabase& database) {
    const char* kinds[] = {"open ", "close ", "add ", "remove "};
    events.push_back(kinds[event] + (database.Temporary() ? std::string("temporary") : database.DatabaseName()));
  };
  s.Close();
  EXPECT_EQ(events, (std::vector<std::string>{"close temporary", "remove temporary", "close Second", "close First"}));
  EXPECT_FALSE(first.Connected());
  EXPECT_FALSE(second.Connected());
  EXPECT_EQ(s.DatabaseCount(), 2);
  s.OnDBNotify = nullptr;
}

// Two sessions read the same table; one stops, the other goes on reading.
TEST_F(SessionTest, StoppingOneSessionLeavesAnotherSessionsTablesAlone) {
  TTarnSession& maker = NewSession("Maker");
  MakeTable(maker, "CREATE TABLE t (a INTEGER)", {"INSERT INTO t VALUES (1)", "INSERT INTO t VALUES (2)"});
  TTarnSession& a = NewSession("A");
  TTarnSession& b = NewSession("B");
  TDataDirectory& dirA = a.Handle().OpenDataDirectory("", data_.Path());
  TDataDirectory& dirB = b.Handle().OpenDataDirectory("", data_.Path());
  TDataCursor cursorA(dirA);
  cursorA.SetTableName("t");
  cursorA.OpenCursor();
  TDataCursor cursorB(dirB);
  cursorB.SetTableName("t");
  cursorB.OpenCursor();
  cursorA.CloseCursor();
  a.Close();
  EXPECT_EQ(cursorB.GetRecordCount(), 2);
  EXPECT_EQ(sql_testing::SqlDatabase::ReadRows(cursorB), (std::vector<TextRow>{{"1"}, {"2"}}));

  // The default session (and with it the engine) stops while B still reads.
  maker.Close();
  Session().Close();
  EXPECT_EQ(sql_testing::SqlDatabase::ReadRows(cursorB), (std::vector<TextRow>{{"1"}, {"2"}}));
  cursorB.CloseCursor();
}

TEST_F(SessionTest, RemovingASessionComponentSendsItsDatabasesToTheDefaultSession) {
  TComponent& module = NewOwner("Module");
  auto s = std::make_unique<TTarnSession>(&module);
  s->SetSessionName("Work");
  TTarnDatabase database(&module);
  database.SetSessionName("Work");
  database.SetDatabaseName("Data");
  database.SetDirectory(data_.Path());
  database.Open();
  EXPECT_EQ(&database.Session(), s.get());
  s.reset();
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.SessionName(), "");
  EXPECT_EQ(&database.Session(), &Session());
  database.Open();  // in the default session now
  EXPECT_EQ(&database.Handle()->Session(), Session().DataSession());
}

// Four threads, each with its own session, open the same directory and read
// the same table through a statement, over and over.
TEST_F(SessionTest, SessionsOnSeveralThreads) {
  TTarnSession& maker = NewSession("Maker");
  MakeTable(
      maker, "CREATE TABLE t (a INTEGER, b CHAR(10))",
      {"INSERT INTO t VALUES (1, 'one')", "INSERT INTO t VALUES (2, 'two')", "INSERT INTO t VALUES (3, 'three')"});
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  std::vector<TTarnSession*> sessions;
  for (int i = 0; i < kThreads; ++i) sessions.push_back(&NewSession("Thread" + std::to_string(i)));
  std::atomic<int> good{0};
  std::mutex failuresLock;
  std::vector<std::string> failures;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      TTarnSession& s = *sessions[static_cast<std::size_t>(i)];
      try {
        TTarnDatabase database(&s);
        database.SetDatabaseName("Data");
        database.SetDirectory(data_.Path());
        for (int round = 0; round < kRounds; ++round) {
          s.Open();
          TestDataSet dataset(nullptr, "Data", s.SessionName());
          dataset.Open();
          const auto rows = dataset.Query("SELECT a, b FROM t WHERE a >= 2 ORDER BY a");
          {
            TSessionLockGuard guard(s);
            if (Sessions().CurrentSession() != &s) throw std::runtime_error("another session is current");
          }
          dataset.Close();
          if (round % 5 == 4) s.Close();
          if (rows == std::vector<TextRow>{{"2", "two"}, {"3", "three"}}) ++good;
        }
        s.Close();
      } catch (const std::exception& error) {
        std::lock_guard lock(failuresLock);
        failures.push_back(error.what());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_EQ(good.load(), kThreads * kRounds);
}

}  // namespace
}  // namespace tarn::component_testing
