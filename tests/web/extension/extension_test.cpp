// The extension's request path in-process: the form page byte for byte, response
// framing, routing, the configuration messages and the error page.
#include <gtest/gtest.h>
#include <iconv.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/exception.h"
#include "web/fake_control_block.h"
#include "web/stand_in_data_access.h"
#include "web/web_application.h"

namespace dovecrest {
namespace {

using testing::FakeControlBlock;

// UTF-8 text to code page 936 through the C library, independently of the extension.
std::string ToGbk(const std::string& utf8) {
  iconv_t cd = iconv_open("CP936", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

std::string ExpectedFormPage() {
  std::vector<std::string> lines = {
      "<HTML><HEAD><TITLE>Vantrel&nbsp; 使用者查询系统</TITLE>",
      "<META content=zh-tw http-equiv=Content-Language>",
      "<META content=\"text/html; http-equiv=Content-Type>",
      "<META content=\"Microsoft FrontPage 4.0\" name=GENERATOR>",
      "<META content=FrontPage.Editor.Document name=ProgId></HEAD>",
      "<BODY background=\"images/Dovecrest-1.jpg\">",
      ""};
  for (int i = 0; i < 14; ++i) lines.push_back("<br>");
  for (const char* l : {"", "<FORM action='Dovecrest.dll/Query' method='post'>", "<DIV align=center>",
                        "<TABLE border=0 cellPadding=1 cellSpacing=1>", "  <TBODY>", "  <TR>",
                        "    <TD align=right><font face=\"标楷体\" size=\"4\" color=\"#000000\">使用者名称:</font></TD>",
                        "    <TD><INPUT name=UNAME size=15></TD>",
                        "    <TD align=left><INPUT id=submit1 name=submit1 type=submit value=查询></TD></TR></TBODY></TABLE></DIV></FORM></BODY></HTML>",
                        " "})
    lines.push_back(l);
  std::string page;
  for (const auto& l : lines) page += l + "\r\n";
  return ToGbk(page);
}

// A temporary configuration directory named by $VANTREL_CONFIG_DIR for one test.
class ConfigDir {
 public:
  ConfigDir() {
    char tmpl[] = "/tmp/dovecrest-config-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("VANTREL_CONFIG_DIR", dir_.c_str(), 1);
  }
  ~ConfigDir() {
    unsetenv("VANTREL_CONFIG_DIR");
    std::filesystem::remove_all(dir_);
  }
  void Write(const std::string& text) { std::ofstream(dir_ + "/Vantrel.ini", std::ios::binary) << text; }

 private:
  std::string dir_;
};

ModuleDataAccessFactory StandIn() {
  return [] { return std::make_unique<TStandInDataAccess>(); };
}

// A data access whose steps can be made to fail.
class FailingDataAccess final : public TModuleDataAccess {
 public:
  explicit FailingDataAccess(std::string failOn) : failOn_(std::move(failOn)) {}
  std::string SessionName() const override { return "S"; }
  void SetOnPassword(PasswordHandler) override {}
  void AddPassword(std::string_view) override {}
  void SetSessionActive(bool active) override { Step(active ? "session-on" : "session-off"); }
  bool SessionActive() const override { return false; }
  void SetPrivateDir(std::string_view) override { Step("private-dir"); }
  void SetDatabaseConnected(bool connected) override { Step(connected ? "db-on" : "db-off"); }
  bool DatabaseConnected() const override { return false; }
  void SetDatabaseDirectory(std::string_view) override { Step("directory"); }

 private:
  void Step(const std::string& step) {
    if (step == failOn_) throw tarn::Exception("cannot " + step);
  }
  std::string failOn_;
};

std::string Serve(TWebApplication& app, FakeControlBlock& request, uint32_t expected = HSE_STATUS_SUCCESS) {
  EXPECT_EQ(app.HttpExtensionProc(request.Ecb()), expected);
  return request.written;
}

TEST(FormPage, IsServedByteForByteWithItsHeaderBlock) {
  ConfigDir config;
  config.Write("[Setting]\r\nDBPath=/nonexistent/quota/\r\n");
  TWebApplication app(StandIn());
  const std::string page = ExpectedFormPage();
  for (int i = 0; i < 2; ++i) {  // the same bytes on every request
    FakeControlBlock request("GET", "");
    Serve(app, request);
    EXPECT_EQ(request.status, "200 OK");
    EXPECT_EQ(request.headers, "Content-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
                                   "\r\nContent:\r\n\r\n");
    EXPECT_EQ(request.written, page);
    EXPECT_EQ(request.headerCalls, 1);
  }
  EXPECT_TRUE(page.ends_with("\r\n \r\n"));
}

TEST(FormPage, WithoutServerProtocolOnlyTheContentIsWritten) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app(StandIn());
  FakeControlBlock request("GET", "");
  request.variables.erase("SERVER_PROTOCOL");
  Serve(app, request);
  EXPECT_EQ(request.headerCalls, 0);
  EXPECT_EQ(request.written, ExpectedFormPage());
}

TEST(Routing, PathInfoSelectsTheActionWithoutRegardToCase) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app(StandIn());
  struct Case {
    std::string path;
    bool handled;
  } cases[] = {{"", true}, {"/Query", true}, {"/query", true}, {"/qUERY", true},
               {"/", false}, {"/Query/", false}, {"/Queryx", false}, {"/other", false}};
  for (const auto& c : cases) {
    FakeControlBlock request("POST", c.path);
    request.SetBody("UNAME=", 6);
    uint32_t answer = app.HttpExtensionProc(request.Ecb());
    EXPECT_EQ(answer, c.handled ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR) << c.path;
    EXPECT_EQ(request.Wire().empty(), !c.handled) << c.path;
  }
}

TEST(QueryAction, EmptyUserNameAnswersTheNoNameText) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app(StandIn());
  for (const char* body : {"", "UNAME=", "submit1=x"}) {
    FakeControlBlock request("POST", "/Query");
    request.SetBody(body, 100);
    Serve(app, request);
    EXPECT_EQ(request.written, ToGbk("未输入任何使用者名称")) << body;
  }
}

TEST(QueryAction, BodyIsCompletedByReadsAndAShortBodyEndsTheReading) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app(StandIn());
  // The bad escape lies in the part that only arrives through ReadClient.
  FakeControlBlock request("POST", "/Query");
  request.SetBody("UNAME=bob&X=%zz", 4);
  Serve(app, request, HSE_STATUS_ERROR);
  EXPECT_EQ(request.status, "500 '$zz' is not a valid integer value");
  EXPECT_GE(request.readCalls, 1);

  // CONTENT_LENGTH promises more than the client sends: reading stops at the first empty read.
  FakeControlBlock shortBody("POST", "/Query");
  shortBody.SetBody("UNAME=", 6, "100000");
  Serve(app, shortBody);
  EXPECT_EQ(shortBody.written, ToGbk("未输入任何使用者名称"));

  // A CONTENT_LENGTH that is not a number counts as no body.
  FakeControlBlock badLength("POST", "/Query");
  badLength.SetBody("UNAME=%zz", 9, "12abc");
  Serve(app, badLength);
  EXPECT_EQ(badLength.readCalls, 0);
  EXPECT_EQ(badLength.written, ToGbk("未输入任何使用者名称"));
}

TEST(ErrorPage, MalformedEscapeGivesTheConvertErrorPage) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app(StandIn());
  FakeControlBlock request("POST", "/Query");
  request.SetBody("UNAME=ab%", 9);
  Serve(app, request, HSE_STATUS_ERROR);
  const std::string page =
      "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: EConvertError<br>\r\nMessage: &#39;$&#39; is not a valid integer value<br></html>\r\n";
  EXPECT_EQ(request.Ecb().dwHttpStatusCode, 500u);
  EXPECT_EQ(request.status, "500 '$' is not a valid integer value");
  EXPECT_EQ(request.headers, "Content-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
                                 "\r\nContent:\r\n\r\n");
  EXPECT_EQ(request.written, page);
}

TEST(ErrorPage, StatusLineNeverCarriesLineBreaksAndTheMessageIsEscaped) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app([]() -> std::unique_ptr<TModuleDataAccess> {
    throw tarn::Exception("bad\r\nX-Injected: <1>");
  });
  FakeControlBlock request("GET", "");
  Serve(app, request, HSE_STATUS_ERROR);
  EXPECT_EQ(request.status, "500 bad  X-Injected: <1>");
  EXPECT_NE(request.written.find("Message: bad\r\nX-Injected: &lt;1&gt;<br>"), std::string::npos);
  EXPECT_NE(request.written.find("Exception: Exception<br>"), std::string::npos);
}

TEST(Configuration, MissingFileAnswersEveryPageWithTheMessageForTheLifeOfTheExtension) {
  ConfigDir config;  // no Vantrel.ini yet
  TWebApplication app(StandIn());
  for (const char* path : {"", "/Query"}) {
    FakeControlBlock request("POST", path);
    request.SetBody("UNAME=bob", 9);
    Serve(app, request);
    EXPECT_EQ(request.written, "DBPath is't exist at Vantrel.ini") << path;
  }
  config.Write("[Setting]\nDBPath=/q/\n");
  FakeControlBlock again("GET", "");
  Serve(app, again);
  EXPECT_EQ(again.written, "DBPath is't exist at Vantrel.ini");
  // A module constructed after the file exists still finds the state failed.
  TWebModule1 later(app.Config(), StandIn());
  EXPECT_TRUE(app.Config().ConfigFailed());
  EXPECT_EQ(app.Config().ConfigMessage(), "DBPath is't exist at Vantrel.ini");
}

TEST(Configuration, EmptyKeyAndComponentFailuresGiveTheirMessages) {
  ConfigDir config;
  struct Case {
    std::string ini;
    std::string failOn;
    std::string message;
  } cases[] = {
      {"[Setting]\nDBPath=\n", "", "DBPath is't exist at Vantrel.ini"},
      {"[Other]\nDBPath=/q/\n", "", "DBPath is't exist at Vantrel.ini"},
      {"[Setting]\nDBPath=/q/\n", "db-on", "Get database path in Vantrel.ini error(cannot db-on)"},
      {"[Setting]\nDBPath=/q/\n", "directory", "Get database path in Vantrel.ini error(cannot directory)"},
      {"[Setting]\nDBPath=/q/\n", "private-dir", "DataModule init error : cannot private-dir <br>"},
      {"[Setting]\nDBPath=/q/\n", "session-on", "DataModule init error : cannot session-on <br>"},
  };
  for (const auto& c : cases) {
    config.Write(c.ini);
    TWebApplication app([&c] { return std::make_unique<FailingDataAccess>(c.failOn); });
    FakeControlBlock request("GET", "");
    Serve(app, request);
    EXPECT_EQ(request.written, c.message) << c.ini << c.failOn;
  }
}

TEST(Module, ConstructionPointsTheDatabaseAndRestartsTheSessionInTheTempDirectory) {
  ConfigDir config;
  config.Write("[setting]\r\n dbpath = \"/data/quota/\" \r\n");
  TConfigState state;
  TWebModule1 module(state, StandIn());
  auto& data = static_cast<TStandInDataAccess&>(module.Data());
  EXPECT_FALSE(state.ConfigFailed());
  EXPECT_EQ(data.Directory(), "/data/quota/");
  EXPECT_TRUE(data.SessionActive());
  EXPECT_FALSE(data.DatabaseConnected());  // restarting the session closed it
  EXPECT_FALSE(data.PrivateDir().empty());
  EXPECT_EQ(data.PrivateDir().back(), '/');

  bool again = false;
  module.SessionPassword(again);
  EXPECT_TRUE(again);
  EXPECT_EQ(data.Passwords(), std::vector<std::string>{"KT62WB38"});
}

TEST(Module, ModulesGetConsecutiveAutomaticSessionNames) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TConfigState state;
  TWebModule1 first(state, StandIn());
  TWebModule1 second(state, StandIn());
  const std::string a = first.Data().SessionName(), b = second.Data().SessionName();
  ASSERT_EQ(a.rfind("MySession_", 0), 0u);
  ASSERT_EQ(b.rfind("MySession_", 0), 0u);
  EXPECT_EQ(std::stoi(b.substr(10)), std::stoi(a.substr(10)) + 1);
}

}  // namespace
}  // namespace dovecrest
