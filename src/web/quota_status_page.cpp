// The quota status page. Fixed texts are GBK bytes (the Unicode text is in the
// comment beside each); texts from the request and the tables are HTML-escaped.
#include "web/quota_status_page.h"

#include <charconv>
#include <initializer_list>
#include <limits>

#include "components/tarn_query.h"
#include "core/errors.h"
#include "platform/code_page.h"
#include "web/html_escape.h"

namespace dovecrest {
namespace {

// The remaining amount that stands for "no limit found".
constexpr std::int64_t kNoMinimum = std::numeric_limits<std::int32_t>::max();
// A limit of -1 means no limit.
constexpr std::int32_t kUnlimited = -1;

constexpr std::string_view kUnLimit = "UnLimit";
// "页"
constexpr std::string_view kPages = "\xd2\xb3";
// " 全部打印机"
constexpr std::string_view kAllPrinters = " \xc8\xab\xb2\xbf\xb4\xf2\xd3\xa1\xbb\xfa";
// " 单一打印机"
constexpr std::string_view kOnePrinter = " \xb5\xa5\xd2\xbb\xb4\xf2\xd3\xa1\xbb\xfa";
// "打印机内定值"
constexpr std::string_view kPrinterDefault = "\xb4\xf2\xd3\xa1\xbb\xfa\xc4\xda\xb6\xa8\xd6\xb5";

constexpr std::string_view kSectionStart = "<td bgcolor='#0000CA' colspan='6'> <font color='#FFFF00'><b>";
constexpr std::string_view kCell = "<td bgcolor='#C8EDFF'>";

void Append(std::string& out, std::initializer_list<std::string_view> fragments) {
  for (std::string_view fragment : fragments) out += fragment;
}

std::string Decimal(std::int64_t value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, end);
}

// Closes the query, makes the statement its only SQL line, prepares and opens it.
void RunStatement(tarn::TTarnQuery& Query, const std::string& statement) {
  Query.Close();
  Query.SQL().Clear();
  Query.SQL().Add(statement);
  Query.Prepare();
  Query.Open();
}

std::string Text(tarn::TTarnQuery& Query, const char* field) { return Query.FieldByName(field).AsString(); }
std::string HtmlText(tarn::TTarnQuery& Query, const char* field) { return HtmlEscape(Text(Query, field)); }
std::int32_t Integer(tarn::TTarnQuery& Query, const char* field) { return Query.FieldByName(field).AsInteger(); }

void AppendTableHeader(std::string& table) {
  Append(table, {"<table border='0' width='750'>", "<tr>\n",
                 // "限制对象"
                 "<td width='320' colspan='2' bgcolor='#000080'><b><font color='#FFFFFF'>"
                 "\xcf\xde\xd6\xc6\xb6\xd4\xcf\xf3</font></b></td>\n",
                 // "限制量"
                 "<td width='70' bgcolor='#000080'><b><font color='#FFFFFF'>\xcf\xde\xd6\xc6\xc1\xbf</font></b></td>\n",
                 // "已使用量"
                 "<td width='70' bgcolor='#000080'><b><font color='#FFFFFF'>"
                 "\xd2\xd1\xca\xb9\xd3\xc3\xc1\xbf</font></b></td>\n",
                 // "剩余量"
                 "<td width='70' bgcolor='#000080'><b><font color='#FFFFFF'>\xca\xa3\xd3\xe0\xc1\xbf</font></b></td>\n",
                 // "OnLimit 时如何处理"
                 "<td bgcolor='#000080'><font color='#FFFFFF'><b>OnLimit "
                 "\xca\xb1\xc8\xe7\xba\xce\xb4\xa6\xc0\xed</b></font></td>\n",
                 "</tr>\n"});
}

// Section (1): the user's own limits. Lowers `minimum` to the smallest remaining amount.
void AppendUserSection(tarn::TTarnQuery& Query, std::string_view userName, std::string& table, std::int64_t& minimum) {
  RunStatement(Query,
               "select * from 'user' where Upper('user'.'user') = " + SqlStringLiteral(tarn::AnsiUpperCase(userName)));
  Query.First();
  for (int i = 0; i < Query.RecordCount(); ++i) {
    if (i == 0)
      // "(1)使用者限制条件"
      Append(table, {"<tr>\n", kSectionStart,
                     "(1)\xca\xb9\xd3\xc3\xd5\xdf\xcf\xde\xd6\xc6\xcc\xf5\xbc\xfe</b> </font> </td>", "</tr>\n"});
    Append(table, {"<tr>\n", "<td bgcolor='#C8EDFF' width='120'>", HtmlText(Query, "USER"), "</td>"});
    const std::string printer = HtmlText(Query, "NAME");
    Append(table, {"<td bgcolor='#C8EDFF' width='200'>", printer.empty() ? kAllPrinters : printer, "</td>\n"});
    Append(table, {kCell, HtmlText(Query, "LIMIT_P"), "</td>\n", kCell, HtmlText(Query, "USED_P"), "</td>\n", kCell});
    const std::int32_t limit = Integer(Query, "LIMIT_P");
    if (limit == kUnlimited) {
      table += kUnLimit;
    } else {
      // In 64 bits: a limit minus a negative use cannot overflow.
      const std::int64_t remaining = std::int64_t{limit} - Integer(Query, "USED_P");
      table += Decimal(remaining);
      if (remaining < minimum) minimum = remaining;
    }
    Append(table, {"</td>\n", "<td bgcolor='#66CCFF'>", HowToDoText(Integer(Query, "HOWTODO")), "</td>\n", "</tr>\n"});
    Query.Next();
  }
}

// Section (3): the per-printer limits.
void AppendPrinterSection(tarn::TTarnQuery& Query, std::string& table) {
  RunStatement(Query, "select * from 'printer'");
  Query.First();
  for (int i = 0; i < Query.RecordCount(); ++i) {
    if (i == 0)
      // "(3)打印机限制条件(内定使用者限制量)"
      Append(table, {"<tr>\n", kSectionStart,
                     "(3)\xb4\xf2\xd3\xa1\xbb\xfa\xcf\xde\xd6\xc6\xcc\xf5\xbc\xfe(\xc4\xda\xb6\xa8\xca\xb9\xd3\xc3"
                     "\xd5\xdf\xcf\xde\xd6\xc6\xc1\xbf)</b> </font> </td>",
                     "</tr>\n"});
    Append(table, {"<tr>\n", "<td bgcolor='#C8EDFF' colspan='2' >", HtmlText(Query, "NAME"), "(",
                   HtmlText(Query, "D_LIMIT"), ")", "</td>"});
    Append(table, {kCell, HtmlText(Query, "TOTALP_LIMIT"), kPages, "</td>\n", kCell, HtmlText(Query, "TOTALP_USE"),
                   kPages, "</td>\n", kCell});
    const std::int32_t limit = Integer(Query, "TOTALP_LIMIT");
    if (limit == kUnlimited)
      table += kUnLimit;
    else
      Append(table, {Decimal(std::int64_t{limit} - Integer(Query, "TOTALP_USE")), kPages});
    Append(table, {"</td>\n", kCell, HowToDoText(Integer(Query, "HOWTODO")), "</td>\n", "</tr>\n"});
    Query.Next();
  }
}

// Section (4): the fallback setting, read from the row the opened query stands on.
void AppendSettingSection(tarn::TTarnQuery& Query, std::string_view userName, std::string& table) {
  RunStatement(Query, "select * from 'setting'");
  // "(4)未在上列限制条件则使用下列条件"
  Append(table, {"<tr>\n", kSectionStart,
                 "(4)\xce\xb4\xd4\xda\xc9\xcf\xc1\xd0\xcf\xde\xd6\xc6\xcc\xf5\xbc\xfe\xd4\xf2\xca\xb9\xd3\xc3\xcf\xc2"
                 "\xc1\xd0\xcc\xf5\xbc\xfe</b> </font> </td>",
                 "</tr>\n"});
  Append(table, {"<tr>\n", "<td bgcolor='#C8EDFF' width='120'>", HtmlEscape(userName), "</td>",
                 "<td bgcolor='#C8EDFF' width='200'>"});
  Append(table, {Text(Query, "L_SCOPE") == "2" ? kAllPrinters : kOnePrinter, "</td>\n", kCell});
  const std::string valueType = Text(Query, "L_VALTYPE");
  if (valueType == "1")
    table += HtmlText(Query, "FIX_VAL");
  else if (valueType == "2")
    table += kPrinterDefault;
  else
    table += "0";
  Append(table, {"</td>\n", kCell, "0", "</td>\n", kCell, "UnKnow", "</td>\n", kCell,
                 HowToDoText(Integer(Query, "HOWTODO")), "</td>\n", "</tr>\n", "</table>\n"});
}

}  // namespace

std::string_view HowToDoText(std::int32_t code) {
  switch (code) {
    case 1:
      return "\xd4\xdd\xcd\xa3\xd8\xf9\xc1\xd0";  // "暂停伫列"
    case 2:
      return "\xc9\xbe\xb3\xfd\xd8\xf9\xc1\xd0";  // "删除伫列"
    case 3:
      return "\xbd\xd8\xd2\xb3\xc1\xd0\xd3\xa1";  // "截页列印"
    case 4:
      return "\xc1\xd0\xd3\xa1\xd8\xf9\xc1\xd0";  // "列印伫列"
    default:
      return {};
  }
}

std::string_view TrimUserName(std::string_view value) {
  std::size_t begin = 0;
  std::size_t end = value.size();
  while (begin < end && static_cast<unsigned char>(value[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(value[end - 1]) <= 0x20) --end;
  return value.substr(begin, end - begin);
}

std::string SqlStringLiteral(std::string_view text) {
  std::string literal = "'";
  for (char c : text) {
    if (c == '\0') throw tarn::EDatabaseError("The user name holds a zero byte.");
    literal += c;
    if (c == '\'') literal += '\'';
  }
  literal += '\'';
  return literal;
}

std::string BuildQuotaStatusPage(tarn::TTarnQuery& Query, std::string_view userName) {
  std::string table;
  AppendTableHeader(table);
  std::int64_t minimum = kNoMinimum;
  AppendUserSection(Query, userName, table, minimum);
  AppendPrinterSection(Query, table);
  AppendSettingSection(Query, userName, table);

  std::string page;
  Append(page, {"<html><body bgcolor='#26D0D9' background='..\\images/Dovecrest-2.jpg'><BR>",
                "<center><font size='4' face='Arial' color='#FF0000'>", HtmlEscape(userName), "</font>",
                // " 剩余Quota量为"
                "<b><font color='#FF0000'> \xca\xa3\xd3\xe0Quota\xc1\xbf\xce\xaa"});
  page += minimum == kNoMinimum ? std::string(kUnLimit) : Decimal(minimum);
  // "(不包含第(3)(4)项限制条件)"
  Append(
      page,
      {"(\xb2\xbb\xb0\xfc\xba\xac\xb5\xda(3)(4)\xcf\xee\xcf\xde\xd6\xc6\xcc\xf5\xbc\xfe)</font></b><BR><BR><BR>", table,
       // "返回查询": back to the query form.
       "<hr><a href='../Dovecrest.dll'>\xb7\xb5\xbb\xd8\xb2\xe9\xd1\xaf</a>", "</center>", "</center></html>"});
  return page;
}

}  // namespace dovecrest
