// The status document, URL and fallback file name, byte for byte, and the
// escaping that lets any XML reader recover the original texts.
#include "report/status_document.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

namespace zrt::report {
namespace {

StatusFields SampleFields(std::string_view outcome, std::string_view failure = "") {
  return {
      "R-1001", "4411", "0", "5012", "JOB-77", "88231", outcome, failure, "12/07/2026 10:30:00"};
}

TEST(StatusDocument, SuccessDocumentMatchesTheServerFormatExactly) {
  EXPECT_EQ(BuildStatusDocument(SampleFields("1", "ignored on success")),
            "<wpdcmscriptjobinstancestatus>\n"
            "\t<batchid>0</batchid>\n"
            "\t<regid>R-1001</regid>\n"
            "\t<inid>4411</inid>\n"
            "\t<inisrealtime>0</inisrealtime> \n"
            "\t<scriptid>5012</scriptid> \n"
            "\t<jobid>JOB-77</jobid>\n"
            "\t<instanceid>88231</instanceid> \n"
            "\t<status>Success</status> \n"
            "\t<desc><![CDATA[]]></desc> \n"
            "\t<inexecstatusdate>12/07/2026 10:30:00</inexecstatusdate> \n"
            "\t<inmenuid>0</inmenuid> \n"
            "\t<intemplateid>0</intemplateid> \n"
            "\t</wpdcmscriptjobinstancestatus>");
}

TEST(StatusDocument, FailureCarriesTheMessageInTheDescription) {
  const std::string doc =
      BuildStatusDocument(SampleFields("0", "Scheme Is Currently Active hence not Deleted."));
  EXPECT_NE(doc.find("\t<status>Fail</status> \n"), std::string::npos);
  EXPECT_NE(doc.find("<desc><![CDATA[Scheme Is Currently Active hence not Deleted.]]></desc>"),
            std::string::npos);
}

TEST(StatusDocument, AnyOutcomeOtherThanZeroIsSuccess) {
  EXPECT_NE(BuildStatusDocument(SampleFields("00", "x")).find("<status>Success</status>"),
            std::string::npos);
}

TEST(StatusDocument, MarkupInValuesSurvivesAnXmlReaderUnchanged) {
  StatusFields fields = SampleFields("0", "a ]]> b ]]]]> c <&> ]]");
  fields.jobId = "J&1<2>";
  fields.executionTime = "]]>&amp;";
  const std::string doc = BuildStatusDocument(fields);

  pugi::xml_document parsed;
  ASSERT_TRUE(parsed.load_string(doc.c_str())) << doc;
  const pugi::xml_node root = parsed.child("wpdcmscriptjobinstancestatus");
  EXPECT_STREQ(root.child("jobid").text().get(), "J&1<2>");
  EXPECT_STREQ(root.child("inexecstatusdate").text().get(), "]]>&amp;");
  std::string desc;
  for (const pugi::xml_node part : root.child("desc").children()) desc += part.value();
  EXPECT_EQ(desc, "a ]]> b ]]]]> c <&> ]]");
}

TEST(StatusDocument, ControlCharactersBecomeQuestionMarksAndNamesLoseWhatWindowsForbids) {
  StatusFields fields = SampleFields("0", "a\x01]]>\x1F\tb\r\n");
  fields.jobId = "J\x02-77";
  fields.regid = "R/1";
  const std::string doc = BuildStatusDocument(fields);
  EXPECT_NE(doc.find("<regid>R/1</regid>"), std::string::npos);
  EXPECT_NE(doc.find("<jobid>J?-77</jobid>"), std::string::npos);
  EXPECT_NE(doc.find("<desc><![CDATA[a?]]]]><![CDATA[>?\tb\r\n]]></desc>"), std::string::npos);

  EXPECT_EQ(FallbackFileName("R\\/:*?\"<>|\x7F\x01-1", {2026, 12, 1, 7, 9, 5, 3, 7}),
            "wpdcmscriptjobinstancestatus.asp_N_R_________\x7F_-1_PER_20261207090503007");
}

TEST(StatusUrl, InsertsTheFieldsInOrderAndKeepsAnEmptyBase) {
  EXPECT_EQ(
      BuildStatusUrl("https://status.example", "M1", "S2", "R3", "T4"),
      "https://status.example/tfr_wpdcmscriptjobinstancestatus.asp?mmid=M1&sid=S2&rid=R3&rty=T4");
  EXPECT_EQ(BuildStatusUrl("", "M", "S", "R", "T"),
            "/tfr_wpdcmscriptjobinstancestatus.asp?mmid=M&sid=S&rid=R&rty=T");
}

TEST(StatusUrl, LongValuesAreNeverCut) {
  const std::string base(600, 'b');
  const std::string url = BuildStatusUrl(base, "M", "S", "R", "T");
  EXPECT_EQ(url.substr(0, 600), base);
  EXPECT_EQ(url.substr(url.size() - 6), "&rty=T");
}

TEST(FallbackName, HasTheSeventeenDigitLocalTime) {
  port::SystemTime t{2026, 12, 1, 7, 9, 5, 3, 7};
  EXPECT_EQ(FallbackFileName("R-1001", t),
            "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207090503007");
}

TEST(FallbackName, NextMillisecondCarriesThroughEveryUnit) {
  auto next = [](port::SystemTime t) { return FallbackFileName("R", NextMillisecond(t)); };
  EXPECT_EQ(next({2026, 12, 1, 7, 9, 5, 3, 7}),
            FallbackFileName("R", {2026, 12, 1, 7, 9, 5, 3, 8}));
  EXPECT_EQ(next({2026, 12, 4, 31, 23, 59, 59, 999}),
            "wpdcmscriptjobinstancestatus.asp_N_R_PER_20270101000000000");
  EXPECT_EQ(next({2028, 2, 2, 28, 23, 59, 59, 999}),
            "wpdcmscriptjobinstancestatus.asp_N_R_PER_20280229000000000");
  EXPECT_EQ(next({2026, 2, 2, 28, 23, 59, 59, 999}),
            "wpdcmscriptjobinstancestatus.asp_N_R_PER_20260301000000000");
  EXPECT_EQ(next({2026, 4, 2, 30, 23, 59, 59, 999}),
            "wpdcmscriptjobinstancestatus.asp_N_R_PER_20260501000000000");
}

}  // namespace
}  // namespace zrt::report
