#include "report/status_document.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/code_page_text.h"

namespace zrt::report {
namespace {

// Control characters other than tab, line feed and carriage return may not
// appear in an XML 1.0 document, not even escaped.
bool IsForbiddenInXml(char c) {
  return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Characters Windows does not allow in a file name become "_".
char FileNameCharacter(char c) {
  const bool forbidden = static_cast<unsigned char>(c) < 0x20 ||
                         std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
  return forbidden ? '_' : c;
}

}  // namespace

std::string EscapeXmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (IsForbiddenInXml(c)) c = '?';
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string EscapeCdata(std::string_view text) {
  // "]]>" would close the section: close it after "]]" and reopen before ">".
  std::string out;
  std::size_t start = 0;
  for (std::size_t hit; (hit = text.find("]]>", start)) != std::string_view::npos;
       start = hit + 2) {
    out.append(text.substr(start, hit + 2 - start));
    out += "]]><![CDATA[";
  }
  out.append(text.substr(start));
  std::replace_if(out.begin(), out.end(), IsForbiddenInXml, '?');
  return out;
}

std::string BuildStatusDocument(const StatusFields& f) {
  const bool failed = f.outcome == "0";
  std::string doc = "<wpdcmscriptjobinstancestatus>\n\t<batchid>0</batchid>\n";
  doc += "\t<regid>" + EscapeXmlText(f.regid) + "</regid>\n";
  doc += "\t<inid>" + EscapeXmlText(f.scriptJobId) + "</inid>\n";
  doc += "\t<inisrealtime>" + EscapeXmlText(f.isRealTime) + "</inisrealtime> \n";
  doc += "\t<scriptid>" + EscapeXmlText(f.scriptId) + "</scriptid> \n";
  doc += "\t<jobid>" + EscapeXmlText(f.jobId) + "</jobid>\n";
  doc += "\t<instanceid>" + EscapeXmlText(f.instanceId) + "</instanceid> \n";
  doc += std::string("\t<status>") + (failed ? "Fail" : "Success") + "</status> \n";
  doc += "\t<desc><![CDATA[" + (failed ? EscapeCdata(f.failureMessage) : std::string()) +
         "]]></desc> \n";
  doc += "\t<inexecstatusdate>" + EscapeXmlText(f.executionTime) + "</inexecstatusdate> \n";
  doc += "\t<inmenuid>0</inmenuid> \n\t<intemplateid>0</intemplateid> \n";
  doc += "\t</wpdcmscriptjobinstancestatus>";
  return doc;
}

std::string XmlEncodingName(std::uint32_t codePage) {
  switch (codePage) {
    case 932:
      return "shift_jis";
    case 936:
      return "gbk";
    case 949:
      return "ks_c_5601-1987";
    case 950:
      return "big5";
    case 65001:
      return "utf-8";
    default:  // 874 and 1250 to 1258
      return "windows-" + std::to_string(codePage);
  }
}

std::string StatusFileText(std::string_view document, std::uint32_t codePage) {
  std::string text = "<?xml version=\"1.0\" encoding=\"" + XmlEncodingName(codePage) + "\"?>\n";
  return text.append(document);
}

std::string BuildStatusUrl(std::string_view base, std::string_view memberId,
                           std::string_view siteId, std::string_view regid, std::string_view type) {
  std::string url(base);
  url += "/tfr_wpdcmscriptjobinstancestatus.asp?mmid=";
  url.append(memberId).append("&sid=").append(siteId).append("&rid=").append(regid);
  url.append("&rty=").append(type);
  return url;
}

std::string FallbackFileName(std::string_view regid, const port::SystemTime& t,
                             const LeadByteTest& isLeadByte) {
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d%03d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.milliseconds);
  return MapSingleByteCharacters(
      "wpdcmscriptjobinstancestatus.asp_N_" + std::string(regid) + "_PER_" + stamp, isLeadByte,
      FileNameCharacter);
}

port::SystemTime NextMillisecond(port::SystemTime t) {
  auto daysIn = [](int month, int year) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return (month == 2 && leap) ? 29 : kDays[(month >= 1 && month <= 12) ? month - 1 : 0];
  };
  if (++t.milliseconds < 1000) return t;
  t.milliseconds = 0;
  if (++t.second < 60) return t;
  t.second = 0;
  if (++t.minute < 60) return t;
  t.minute = 0;
  if (++t.hour < 24) return t;
  t.hour = 0;
  t.dayOfWeek = static_cast<std::uint16_t>((t.dayOfWeek + 1) % 7);
  if (++t.day <= daysIn(t.month, t.year)) return t;
  t.day = 1;
  if (++t.month <= 12) return t;
  t.month = 1;
  ++t.year;
  return t;
}

}  // namespace zrt::report
