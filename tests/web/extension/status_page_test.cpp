// The quota status page end to end in-process: the whole page byte for byte for a
// fixture of users, printers and a setting row made through the engine, every branch
// of the page, Chinese names, escaping, and names that try to break out of the SQL.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/os_process.h"
#include "web/fake_control_block.h"
#include "web/web_application.h"
#include "web/web_test_support.h"

namespace dovecrest {
namespace {

using testing::ConfigDir;
using testing::FakeControlBlock;
using testing::FormField;
using testing::QuotaDatabase;
using testing::ToGbk;

// "乤並": both characters have an ASCII letter as their second byte (0x81 0x61 and
// 0x81 0x4B); upper-casing must leave those bytes alone.
const std::string kLetterTrailName = "\x81\x61\x81\x4b";
const std::string kZhangWei = "\xd5\xc5\xce\xb0";  // "张伟"

class StatusPage : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.CreateTables();
    for (const char* row :
         {"'ALICE', '', 10, 5, 1", "'ALICE', 'Laser<2F>', 20, 23, 2", "'alice', 'P&Q', -1, 7, 3",
          "'ALICE', 'Color', 100, 0, 4", "'ALICE', 'Mono', 8, 8, 0", "'ALICE', 'Wide', 9, 1, 5", "'BOB', '', -1, 42, 4",
          "'CAROL', '', 2147483647, 0, 1", "'DAVE', '', 2147483647, -5, 1", "'DAVE', 'Q', -2147483648, 1, 1"})
      db_.Exec(std::string("INSERT INTO \"user\" VALUES (") + row + ")");
    db_.Exec("INSERT INTO \"user\" VALUES ('" + kZhangWei + "', '', 300, 310, 2)");
    db_.Exec("INSERT INTO \"user\" VALUES ('" + kLetterTrailName + "', 'Color', 100, 99, 4)");
    for (const char* row : {"'Laser<2F>', 300, 100, 30, 1", "'Color', 50, -1, 800, 2", "'', 100, 5000, 100, 0"})
      db_.Exec(std::string("INSERT INTO printer VALUES (") + row + ")");
    db_.Exec("INSERT INTO setting VALUES (2, 1, 150, 3)");
    config_.Write("[Setting]\nDBPath=" + db_.Path() + "\n");
  }

  std::string Page(const std::string& userName) {
    FakeControlBlock request("POST", "/Query");
    const std::string body = FormField("UNAME", userName);
    request.SetBody(body, body.size());
    EXPECT_EQ(app_.HttpExtensionProc(request.Ecb()), static_cast<uint32_t>(HSE_STATUS_SUCCESS));
    return request.written;
  }

  QuotaDatabase db_;
  ConfigDir config_;
  TWebApplication app_;
};

// The page as the handler frames it around the user's rows.
std::string PageAround(const std::string& shownName, const std::string& minimum, const std::string& userRows,
                       const std::string& printerRows, const std::string& settingRows) {
  return ToGbk(
      "<html><body bgcolor='#26D0D9' background='..\\images/Dovecrest-2.jpg'><BR>"
      "<center><font size='4' face='Arial' color='#FF0000'>" +
      shownName + "</font><b><font color='#FF0000'> 剩余Quota量为" + minimum +
      "(不包含第(3)(4)项限制条件)</font></b><BR><BR><BR>"
      "<table border='0' width='750'><tr>\n"
      "<td width='320' colspan='2' bgcolor='#000080'><b><font color='#FFFFFF'>限制对象</font></b></td>\n"
      "<td width='70' bgcolor='#000080'><b><font color='#FFFFFF'>限制量</font></b></td>\n"
      "<td width='70' bgcolor='#000080'><b><font color='#FFFFFF'>已使用量</font></b></td>\n"
      "<td width='70' bgcolor='#000080'><b><font color='#FFFFFF'>剩余量</font></b></td>\n"
      "<td bgcolor='#000080'><font color='#FFFFFF'><b>OnLimit 时如何处理</b></font></td>\n"
      "</tr>\n" +
      userRows + printerRows + settingRows +
      "</table>\n<hr><a href='../Dovecrest.dll'>返回查询</a></center></center></html>");
}

const std::string kUserHeading =
    "<tr>\n<td bgcolor='#0000CA' colspan='6'> <font color='#FFFF00'><b>(1)使用者限制条件</b> </font> </td></tr>\n";

std::string UserRow(const std::string& user, const std::string& printer, const std::string& limit,
                    const std::string& used, const std::string& remaining, const std::string& action) {
  return "<tr>\n<td bgcolor='#C8EDFF' width='120'>" + user + "</td><td bgcolor='#C8EDFF' width='200'>" + printer +
         "</td>\n<td bgcolor='#C8EDFF'>" + limit + "</td>\n<td bgcolor='#C8EDFF'>" + used +
         "</td>\n<td bgcolor='#C8EDFF'>" + remaining + "</td>\n<td bgcolor='#66CCFF'>" + action + "</td>\n</tr>\n";
}

const std::string kPrinterRows =
    "<tr>\n<td bgcolor='#0000CA' colspan='6'> <font color='#FFFF00'><b>(3)打印机限制条件(内定使用者限制量)</b> "
    "</font> </td></tr>\n"
    "<tr>\n<td bgcolor='#C8EDFF' colspan='2' >Laser&lt;2F&gt;(300)</td><td bgcolor='#C8EDFF'>100页</td>\n"
    "<td bgcolor='#C8EDFF'>30页</td>\n<td bgcolor='#C8EDFF'>70页</td>\n<td bgcolor='#C8EDFF'>暂停伫列</td>\n</tr>\n"
    "<tr>\n<td bgcolor='#C8EDFF' colspan='2' >Color(50)</td><td bgcolor='#C8EDFF'>-1页</td>\n"
    "<td bgcolor='#C8EDFF'>800页</td>\n<td bgcolor='#C8EDFF'>UnLimit</td>\n<td bgcolor='#C8EDFF'>删除伫列</td>\n</tr>\n"
    "<tr>\n<td bgcolor='#C8EDFF' colspan='2' >(100)</td><td bgcolor='#C8EDFF'>5000页</td>\n"
    "<td bgcolor='#C8EDFF'>100页</td>\n<td bgcolor='#C8EDFF'>4900页</td>\n<td bgcolor='#C8EDFF'></td>\n</tr>\n";

std::string SettingRows(const std::string& shownName, const std::string& scope, const std::string& value,
                        const std::string& action) {
  return "<tr>\n<td bgcolor='#0000CA' colspan='6'> <font color='#FFFF00'><b>(4)未在上列限制条件则使用下列条件</b> "
         "</font> </td></tr>\n<tr>\n<td bgcolor='#C8EDFF' width='120'>" +
         shownName + "</td><td bgcolor='#C8EDFF' width='200'>" + scope + "</td>\n<td bgcolor='#C8EDFF'>" + value +
         "</td>\n<td bgcolor='#C8EDFF'>0</td>\n<td bgcolor='#C8EDFF'>UnKnow</td>\n<td bgcolor='#C8EDFF'>" + action +
         "</td>\n</tr>\n";
}

TEST_F(StatusPage, TheWholePageForAUserWithEveryKindOfRow) {
  const std::string userRows = kUserHeading + UserRow("ALICE", " 全部打印机", "10", "5", "5", "暂停伫列") +
                               UserRow("ALICE", "Laser&lt;2F&gt;", "20", "23", "-3", "删除伫列") +
                               UserRow("alice", "P&amp;Q", "-1", "7", "UnLimit", "截页列印") +
                               UserRow("ALICE", "Color", "100", "0", "100", "列印伫列") +
                               UserRow("ALICE", "Mono", "8", "8", "0", "") +
                               UserRow("ALICE", "Wide", "9", "1", "8", "");
  // Entered with blanks around it and in lower case: looked up as ALICE, shown as typed.
  EXPECT_EQ(Page("  alice "),
            PageAround("alice", "-3", userRows, kPrinterRows, SettingRows("alice", " 全部打印机", "150", "截页列印")));
}

TEST_F(StatusPage, HeadingMinimumCases) {
  struct Case {
    std::string name;
    std::string minimum;
    std::string rows;
  } cases[] = {
      {"bob", "UnLimit", UserRow("BOB", " 全部打印机", "-1", "42", "UnLimit", "列印伫列")},
      // A remaining amount of exactly the largest integer reads as no limit.
      {"carol", "UnLimit", UserRow("CAROL", " 全部打印机", "2147483647", "0", "2147483647", "暂停伫列")},
      // Remaining amounts beyond 32 bits are shown as they are, not wrapped.
      {"dave", "-2147483649",
       UserRow("DAVE", " 全部打印机", "2147483647", "-5", "2147483652", "暂停伫列") +
           UserRow("DAVE", "Q", "-2147483648", "1", "-2147483649", "暂停伫列")},
      {"nobody", "UnLimit", ""},
  };
  for (const auto& c : cases) {
    const std::string rows = c.rows.empty() ? "" : kUserHeading + c.rows;
    EXPECT_EQ(Page(c.name),
              PageAround(c.name, c.minimum, rows, kPrinterRows, SettingRows(c.name, " 全部打印机", "150", "截页列印")))
        << c.name;
  }
  // Only blanks pass the empty test and are trimmed to nothing: no user has an empty name.
  EXPECT_EQ(Page("   "),
            PageAround("", "UnLimit", "", kPrinterRows, SettingRows("", " 全部打印机", "150", "截页列印")));
}

TEST_F(StatusPage, ChineseNamesAreFound) {
  const std::string zhang = Page(kZhangWei);
  EXPECT_NE(zhang.find(ToGbk(UserRow("张伟", " 全部打印机", "300", "310", "-10", "删除伫列"))), std::string::npos);
  EXPECT_NE(zhang.find(ToGbk("剩余Quota量为-10(")), std::string::npos);
  const std::string letters = Page(kLetterTrailName);
  EXPECT_NE(letters.find(ToGbk(UserRow("乤並", "Color", "100", "99", "1", "列印伫列"))), std::string::npos);
}

TEST_F(StatusPage, SettingValuesAndEmptyTables) {
  struct Case {
    std::string statement;
    std::string scope, value, action;
  } cases[] = {
      {"UPDATE setting SET L_SCOPE = 1, L_VALTYPE = 2, HOWTODO = 1", " 单一打印机", "打印机内定值", "暂停伫列"},
      {"UPDATE setting SET L_SCOPE = 3, L_VALTYPE = 3, HOWTODO = 2", " 单一打印机", "0", "删除伫列"},
      {"UPDATE setting SET L_SCOPE = 2, L_VALTYPE = 1, FIX_VAL = -7, HOWTODO = 4", " 全部打印机", "-7", "列印伫列"},
      // No setting row: every text empty and every integer 0.
      {"DELETE FROM setting", " 单一打印机", "0", ""},
  };
  for (const auto& c : cases) {
    db_.Exec(c.statement);
    EXPECT_EQ(Page("nobody"),
              PageAround("nobody", "UnLimit", "", kPrinterRows, SettingRows("nobody", c.scope, c.value, c.action)))
        << c.statement;
  }
  db_.Exec("DELETE FROM printer");
  EXPECT_EQ(Page("nobody"), PageAround("nobody", "UnLimit", "", "", SettingRows("nobody", " 单一打印机", "0", "")));
}

TEST_F(StatusPage, AMissingTableMakesThePageTheEngineMessage) {
  db_.Exec("DROP TABLE printer");
  const std::string page = Page("alice");
  EXPECT_EQ(page.rfind("Tarn Engine Error # ", 0), 0u) << page;
  EXPECT_NE(page.find("printer"), std::string::npos) << page;
  EXPECT_EQ(page.find("<table"), std::string::npos);
}

TEST_F(StatusPage, NamesThatTryToBreakOutOfTheLiteralFindNothingAndChangeNothing) {
  const int users = db_.Count("\"user\"");
  const int printers = db_.Count("printer");
  const std::string noUser = "(不包含第(3)(4)项限制条件)</font></b><BR><BR><BR><table border='0' width='750'>";
  for (const std::string name : {"x' OR '1'='1", "alice' OR 'a'='a", "'; DELETE FROM printer; --", "alice'--",
                                 "ALICE'' OR ''1''=''1", "' UNION SELECT * FROM \"user\" WHERE ''='", "\x81'",
                                 "\x81' OR 'a'='a", "\\' OR 1=1 --", "a\x81", "alice\x81"}) {
    const std::string page = Page(name);
    // Either no user rows at all or an engine message; never another user's rows.
    EXPECT_EQ(page.find("(1)"), std::string::npos) << name;
    EXPECT_EQ(page.find("width='120'>ALICE</td>"), std::string::npos) << name;
    EXPECT_EQ(page.find("width='120'>BOB</td>"), std::string::npos) << name;
    if (page.rfind("Tarn Engine Error", 0) != 0) {
      EXPECT_NE(page.find(ToGbk(noUser)), std::string::npos) << name;
    }
  }
  // A zero byte cannot reach the statement text.
  const std::string zero = Page(std::string("alice\0' OR 'a'='a", 17));
  EXPECT_EQ(zero, "The user name holds a zero byte.");
  EXPECT_EQ(db_.Count("\"user\""), users);
  EXPECT_EQ(db_.Count("printer"), printers);
}

TEST_F(StatusPage, EscapedTextsOfTheNameReachThePage) {
  const std::string page = Page("<b>\"&'");
  EXPECT_NE(page.find("color='#FF0000'>&lt;b&gt;&quot;&amp;&#39;</font>"), std::string::npos) << page;
  EXPECT_EQ(page.find("<b>\""), std::string::npos);
}

TEST_F(StatusPage, EachRequestLeavesNoResultTablesBehind) {
  for (int i = 0; i < 3; ++i) Page("alice");
  // The modules work in the process's private directory: the answers of the three
  // statements are gone once the database is disconnected at the end of a request.
  std::string privateDir;
  ASSERT_EQ(tarn::OSProcessPrivateDirectory(privateDir), 0);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(privateDir))
    left.push_back(entry.path().filename().string());
  EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(StatusPage, ConcurrentRequestsWhileTheServiceUpdatesTheUserTable) {
  std::atomic<bool> done{false};
  std::atomic<int> updates{0};
  std::thread service([&] {
    while (!done) {
      db_.Exec("UPDATE \"user\" SET USED_P = USED_P + 1 WHERE \"USER\" = 'BOB'");
      ++updates;
    }
  });
  std::atomic<int> complete{0}, messages{0}, broken{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t)
    clients.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        const std::string page = Page("bob");
        if (page.ends_with("</center></html>") && page.find(ToGbk(kPrinterRows)) != std::string::npos)
          ++complete;
        else if (page.rfind("Tarn Engine Error # ", 0) == 0)
          ++messages;
        else
          ++broken;
      }
    });
  for (auto& client : clients) client.join();
  done = true;
  service.join();
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(complete + messages, 80);
  EXPECT_GT(complete, 0);
  EXPECT_GT(updates, 0);
}

// Construction really starts the session and connects the database: a DBPath that
// names no directory, and a session without its password handler, end in the
// engine's own messages on the status page.
TEST(StatusPageEngineMessages, MissingDirectoryAndMissingPasswordHandler) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/nonexistent/quota/\n");
  {
    TWebApplication app;
    FakeControlBlock form("GET", "");
    EXPECT_EQ(app.HttpExtensionProc(form.Ecb()), static_cast<uint32_t>(HSE_STATUS_SUCCESS));
    EXPECT_EQ(form.status, "200 OK");
    FakeControlBlock query("POST", "/Query");
    query.SetBody("UNAME=bob", 9);
    EXPECT_EQ(app.HttpExtensionProc(query.Ecb()), static_cast<uint32_t>(HSE_STATUS_SUCCESS));
    EXPECT_EQ(query.written.rfind("Tarn Engine Error # 11010 ", 0), 0u) << query.written;
    EXPECT_NE(query.written.find("user"), std::string::npos) << query.written;
  }
  QuotaDatabase db;
  db.CreateTables();
  config.Write("[Setting]\nDBPath=" + db.Path() + "\n");
  TWebApplication app([](TWebModule1& module) { module.MySession->OnPassword = nullptr; });
  FakeControlBlock query("POST", "/Query");
  query.SetBody("UNAME=bob", 9);
  EXPECT_EQ(app.HttpExtensionProc(query.Ecb()), static_cast<uint32_t>(HSE_STATUS_SUCCESS));
  EXPECT_EQ(query.written.rfind("Tarn Engine Error # 10498 ", 0), 0u) << query.written;
}

}  // namespace
}  // namespace dovecrest
