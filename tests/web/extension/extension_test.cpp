// The extension's request path in-process: the form page byte for byte, response
// framing, routing, the configuration messages and the error page.
#include <gtest/gtest.h>

#include "components/tarn_session.h"
#include "components/tarn_session_list.h"
#include "engine/engine_state.h"
#include "platform/exception.h"
#include "web/fake_control_block.h"
#include "web/web_application.h"
#include "web/web_test_support.h"

namespace dovecrest {
namespace {

using testing::ConfigDir;
using testing::FakeControlBlock;
using testing::ToGbk;

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

std::string Serve(TWebApplication& app, FakeControlBlock& request, uint32_t expected = HSE_STATUS_SUCCESS) {
  EXPECT_EQ(app.HttpExtensionProc(request.Ecb()), expected);
  return request.written;
}

TEST(FormPage, IsServedByteForByteWithItsHeaderBlock) {
  ConfigDir config;
  config.Write("[Setting]\r\nDBPath=/nonexistent/quota/\r\n");
  TWebApplication app;
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
  TWebApplication app;
  FakeControlBlock request("GET", "");
  request.variables.erase("SERVER_PROTOCOL");
  Serve(app, request);
  EXPECT_EQ(request.headerCalls, 0);
  EXPECT_EQ(request.written, ExpectedFormPage());
}

TEST(Routing, PathInfoSelectsTheActionWithoutRegardToCase) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app;
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
  TWebApplication app;
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
  TWebApplication app;
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
  TWebApplication app;
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
  TWebApplication app([](TWebModule1&) { throw tarn::Exception("bad\r\nX-Injected: <1>"); });
  FakeControlBlock request("GET", "");
  Serve(app, request, HSE_STATUS_ERROR);
  EXPECT_EQ(request.status, "500 bad  X-Injected: <1>");
  EXPECT_NE(request.written.find("Message: bad\r\nX-Injected: &lt;1&gt;<br>"), std::string::npos);
  EXPECT_NE(request.written.find("Exception: Exception<br>"), std::string::npos);
}

TEST(Configuration, MissingFileAnswersEveryPageWithTheMessageForTheLifeOfTheExtension) {
  ConfigDir config;  // no Vantrel.ini yet
  TWebApplication app;
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
  TWebModule1 later(app.Config());
  EXPECT_TRUE(app.Config().ConfigFailed());
  EXPECT_EQ(app.Config().ConfigMessage(), "DBPath is't exist at Vantrel.ini");
}

TEST(Configuration, EmptyKeyAndComponentFailuresGiveTheirMessages) {
  ConfigDir config;
  // Component events that fail: connecting the database, or starting the session the
  // first time (while the database connects) or the second time (the restart in the
  // temporary directory).
  auto failConnect = [](TWebModule1& m) {
    m.VantrelDB->BeforeConnect = [](tarn::TTarnDatabase&) { throw tarn::Exception("cannot connect"); };
  };
  auto failStart = [](int which) {
    return [which](TWebModule1& m) {
      m.MySession->OnStartup = [which, n = 0](tarn::TTarnSession&) mutable {
        if (++n == which) throw tarn::Exception("cannot start");
      };
    };
  };
  struct Case {
    std::string ini;
    TModuleSetup setup;
    std::string message;
  } cases[] = {
      {"[Setting]\nDBPath=\n", {}, "DBPath is't exist at Vantrel.ini"},
      {"[Other]\nDBPath=/q/\n", {}, "DBPath is't exist at Vantrel.ini"},
      {"[Setting]\nDBPath=/q/\n", failConnect, "Get database path in Vantrel.ini error(cannot connect)"},
      {"[Setting]\nDBPath=/q/\n", failStart(1), "Get database path in Vantrel.ini error(cannot start)"},
      {"[Setting]\nDBPath=/q/\n", failStart(2), "DataModule init error : cannot start <br>"},
  };
  for (const auto& c : cases) {
    config.Write(c.ini);
    TWebApplication app(c.setup);
    FakeControlBlock request("GET", "");
    Serve(app, request);
    EXPECT_EQ(request.written, c.message) << c.ini;
  }
}

TEST(Module, ConstructionPointsTheDatabaseAndRestartsTheSessionInTheTempDirectory) {
  ConfigDir config;
  config.Write("[setting]\r\n dbpath = \"/data/quota/\" \r\n");
  TConfigState state;
  TWebModule1 module(state);
  EXPECT_FALSE(state.ConfigFailed());
  EXPECT_EQ(module.VantrelDB->Directory(), "/data/quota/");
  EXPECT_TRUE(module.MySession->Active());
  EXPECT_FALSE(module.VantrelDB->Connected());  // restarting the session closed it
  const std::string privateDir = module.MySession->PrivateDir();
  ASSERT_FALSE(privateDir.empty());
  EXPECT_EQ(privateDir.back(), '/');
  EXPECT_EQ(module.MySession->Handle().GetPrivateDirectory(), privateDir);

  bool again = false;
  module.SessionPassword(*module.MySession, again);
  EXPECT_TRUE(again);
  EXPECT_TRUE(module.MySession->Handle().CheckForPassword("KT62WB38"));
}

TEST(Module, ModulesGetConsecutiveAutomaticSessionNamesThatTheirQueryAndDatabaseUse) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TConfigState state;
  TWebModule1 first(state);
  TWebModule1 second(state);
  const std::string a = first.MySession->SessionName(), b = second.MySession->SessionName();
  ASSERT_EQ(a.rfind("MySession_", 0), 0u);
  ASSERT_EQ(b.rfind("MySession_", 0), 0u);
  EXPECT_EQ(std::stoi(b.substr(10)), std::stoi(a.substr(10)) + 1);
  for (TWebModule1* m : {&first, &second}) {
    EXPECT_EQ(m->Query->SessionName(), m->MySession->SessionName());
    EXPECT_EQ(m->VantrelDB->SessionName(), m->MySession->SessionName());
    EXPECT_EQ(&m->VantrelDB->Session(), m->MySession.get());
  }
}

TEST(Unload, DestroysEveryModuleAndStopsTheEngineAndALaterRequestStartsAgain) {
  ConfigDir config;
  config.Write("[Setting]\nDBPath=/q/\n");
  TWebApplication app;
  FakeControlBlock first("GET", "");
  Serve(app, first);
  ASSERT_EQ(app.InactiveModuleCount(), 1u);
  ASSERT_TRUE(tarn::Session().Active());

  app.Unload();
  EXPECT_EQ(app.InactiveModuleCount(), 0u);
  EXPECT_FALSE(tarn::Session().Active());
  EXPECT_FALSE(tarn::TarnStarted());

  FakeControlBlock again("GET", "");
  Serve(app, again);
  EXPECT_EQ(again.written, ExpectedFormPage());
  EXPECT_TRUE(tarn::Session().Active());
}

}  // namespace
}  // namespace dovecrest
