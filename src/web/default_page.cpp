// The query-form page. Chinese texts are GBK bytes; the Unicode text is in the comment.
#include "web/default_page.h"

namespace dovecrest {

const std::vector<std::string_view>& DefaultPageLines() {
  static const std::vector<std::string_view> lines = [] {
    std::vector<std::string_view> l;
    // "<HTML><HEAD><TITLE>Vantrel&nbsp; 使用者查询系统</TITLE>"
    l.push_back("<HTML><HEAD><TITLE>Vantrel&nbsp; \xca\xb9\xd3\xc3\xd5\xdf\xb2\xe9\xd1\xaf\xcf\xb5\xcd\xb3</TITLE>");
    l.push_back("<META content=zh-tw http-equiv=Content-Language>");
    l.push_back("<META content=\"text/html; http-equiv=Content-Type>");
    l.push_back("<META content=\"Microsoft FrontPage 4.0\" name=GENERATOR>");
    l.push_back("<META content=FrontPage.Editor.Document name=ProgId></HEAD>");
    l.push_back("<BODY background=\"images/Dovecrest-1.jpg\">");
    l.push_back("");
    for (int i = 0; i < 14; ++i) l.push_back("<br>");
    l.push_back("");
    l.push_back("<FORM action='Dovecrest.dll/Query' method='post'>");
    l.push_back("<DIV align=center>");
    l.push_back("<TABLE border=0 cellPadding=1 cellSpacing=1>");
    l.push_back("  <TBODY>");
    l.push_back("  <TR>");
    // "    <TD align=right><font face="标楷体" size="4" color="#000000">使用者名称:</font></TD>"
    l.push_back("    <TD align=right><font face=\"\xb1\xea\xbf\xac\xcc\xe5\" size=\"4\" color=\"#000000\">"
                "\xca\xb9\xd3\xc3\xd5\xdf\xc3\xfb\xb3\xc6:</font></TD>");
    l.push_back("    <TD><INPUT name=UNAME size=15></TD>");
    // "... type=submit value=查询></TD>..."
    l.push_back("    <TD align=left><INPUT id=submit1 name=submit1 type=submit value=\xb2\xe9\xd1\xaf></TD>"
                "</TR></TBODY></TABLE></DIV></FORM></BODY></HTML>");
    l.push_back(" ");
    return l;
  }();
  return lines;
}

const std::string& DefaultPageContent() {
  static const std::string content = [] {
    std::string text;
    for (auto line : DefaultPageLines()) {
      text += line;
      text += "\r\n";
    }
    return text;
  }();
  return content;
}

}  // namespace dovecrest
