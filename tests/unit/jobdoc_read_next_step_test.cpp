#include <string>
#include <vector>

#include "support/job_document_fixture.h"

namespace zrt {
namespace {

using jobdoc::Field;
using jobdoc::PowerRequest;

class ReadNextStepTest : public test::JobDocumentFixture {
 protected:
  // Loads `xml` and reads its first step into request_.
  bool ReadFirst(const std::string& xml) {
    document_ = Open(xml);
    return document_->ReadNextStep(request_, error_);
  }

  std::unique_ptr<jobdoc::JobDocument> document_;
  PowerRequest request_;
};

TEST_F(ReadNextStepTest, FirstAttributeValueAndNamesIgnoringCase) {
  document_ = Open(R"(<job>
      <step value="x"><SCHEMENAME>Office</SCHEMENAME><Action>Create Scheme</Action>
        <SchemeDesc>For the office</SchemeDesc></step>
      <step Value="y" value="z"><schemename>B</schemename></step></job>)");
  ASSERT_TRUE(document_->ReadNextStep(request_, error_));
  EXPECT_EQ(request_.value, "x");
  EXPECT_EQ(request_.schemename, "Office");
  EXPECT_EQ(request_.action, "Create Scheme");
  EXPECT_EQ(request_.schemeDesc, "For the office");

  ASSERT_TRUE(document_->ReadNextStep(request_, error_));
  EXPECT_TRUE(request_.value.empty());  // "Value" is not "value"; only the first counts
  EXPECT_EQ(request_.schemename, "B");
  EXPECT_TRUE(request_.action.empty());  // cleared between steps
}

TEST_F(ReadNextStepTest, ChildrenThatFillNothingOrOverwrite) {
  ASSERT_TRUE(ReadFirst(R"(<job><step value="v">
      <schemename>first</schemename><promptasstandby>Yes</promptasstandby>
      <!-- sysstandpi -->text<?sysstandpi 5?><value>child</value><bogus>b</bogus>
      <group><tohdpi>7</tohdpi></group><sysstandpi>10</sysstandpi>
      <schemename>second</schemename><?tohdpi 9?></step></job>)"));
  EXPECT_EQ(request_.schemename, "second");  // the later element wins
  EXPECT_EQ(request_.promptasstandby, "Yes");
  EXPECT_EQ(request_.sysstandpi, "10");
  EXPECT_EQ(request_.value, "v");        // an element named "value" fills nothing
  EXPECT_TRUE(request_.tohdpi.empty());  // only the step's own element children count
}

TEST_F(ReadNextStepTest, StepWithoutAttributesIsNamedNotToldWithAStaleError) {
  document_ = Open("<job><step><action>Delete Scheme</action></step><step value='2'/></job>");
  system_.SetLastError(87);  // left by an earlier call: not what went wrong here
  EXPECT_FALSE(document_->ReadNextStep(request_, error_));
  EXPECT_EQ(error_, "Zero Attributes:- Node-step");
  EXPECT_TRUE(request_.action.empty());
  error_.Assign("");
  EXPECT_FALSE(document_->ReadNextStep(request_, error_));  // the walk does not move on
  EXPECT_FALSE(error_.empty());
}

TEST_F(ReadNextStepTest, WalkEndsWithoutErrorText) {
  document_ = Open("<job><a><step value='1'><tohdpi>3</tohdpi></step></a><step value='2'/></job>");
  ASSERT_TRUE(document_->ReadNextStep(request_, error_));
  EXPECT_EQ(request_.value, "1");
  EXPECT_EQ(request_.tohdpi, "3");
  ASSERT_TRUE(document_->ReadNextStep(request_, error_));
  EXPECT_EQ(request_.value, "2");
  EXPECT_TRUE(request_.tohdpi.empty());
  EXPECT_FALSE(document_->ReadNextStep(request_, error_));
  EXPECT_TRUE(error_.empty());
  EXPECT_TRUE(request_.value.empty());  // the request is cleared even then
}

TEST_F(ReadNextStepTest, ValuesAreConvertedAndCutToTheirFieldsAndSaySo) {
  const std::string tooLongThenWhole = "<critbatlevel>" + std::string(60, 'c') +
                                       "</critbatlevel><critbatlevel>\xC3\x89" +
                                       std::string(48, 'c') + "</critbatlevel>";
  ASSERT_TRUE(ReadFirst("<job><step value='1'><schemename>" + std::string(60, 'n') +
                        "</schemename><schemeDesc>" + std::string(3000, 'd') +
                        "</schemeDesc><overwriteifexst>" + std::string(30, 'o') +
                        "</overwriteifexst><modifyoption>" + std::string(200, 'm') +
                        "</modifyoption><lowbatlev>\xC3\x89nergie \xE2\x82\xAC</lowbatlev>" +
                        tooLongThenWhole + "</step></job>"));
  EXPECT_EQ(request_.schemename.view(), std::string(49, 'n'));
  EXPECT_EQ(request_.schemeDesc.view(), std::string(2047, 'd'));
  EXPECT_EQ(request_.overwriteifexst.view(), std::string(20, 'o'));
  EXPECT_EQ(request_.modifyoption.view(), std::string(123, 'm'));
  EXPECT_EQ(request_.lowbatlev, "\xC9nergie ?");  // in the ANSI code page

  using jobdoc::ValueFit;
  EXPECT_EQ(request_.Fit(Field::schemename), ValueFit::TooLong);
  EXPECT_EQ(request_.Fit(Field::lowbatlev), ValueFit::Lossy);
  EXPECT_EQ(request_.Fit(Field::critbatlevel), ValueFit::Whole);  // the later element's fit
  EXPECT_EQ(request_.Fit(Field::tohdpi), ValueFit::Whole);        // no element
  ASSERT_FALSE(document_->ReadNextStep(request_, error_));
  EXPECT_EQ(request_.Fit(Field::schemename), ValueFit::Whole);  // cleared with the request
}

}  // namespace
}  // namespace zrt
