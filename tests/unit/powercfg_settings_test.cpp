// The failure of each Powercfg.exe command of the settings, one at a time:
// a creation, and a modification, whose every setting runs a command, with
// the machine told that one command cannot be started (error 5). Each row
// gives the failure message and the lines after the failed start, written
// out here: creation reports each row in its own style, modification every
// row in the system-error style.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "power/scheme_creation.h"
#include "power/scheme_modification.h"
#include "support/power_run.h"

namespace zrt::test {
namespace {

using Fields = RequestFields;

struct FailureRow {
  Fields fields;  // changes to the base request
  std::string command;
  std::string message;
  std::vector<std::string> lines;
};

const std::string kHint = "Kindly check by fireing the command:- ";
const std::string kNoSupport = "Might be System Does Not Support The Option";
const std::string kDenied = "Access is denied.\r";

// Fixed-text style: the state word, the message, might-be and hint.
FailureRow Fixed(Fields fields, const std::string& command, const std::string& label,
                 const std::string& word, const std::string& message, bool noAction = false) {
  return {std::move(fields),
          command,
          message,
          {"FAILED|" + label + "|" + (noAction ? "" : "Action") + "|" + word,
           "FAILED|" + label + "|" + kNoSupport + "|" + kHint + command}};
}

// System-error style: the state word, then the error's number and text.
FailureRow System(Fields fields, const std::string& command, const std::string& label,
                  const std::string& word, const std::string& prefix, bool noAction = false,
                  const std::string& finalLabel = "", const std::string& action = "Action") {
  return {std::move(fields),
          command,
          prefix + "Access is denied.\r\n",
          {"FAILED|" + label + "|" + (noAction ? "" : action) + "|" + word,
           "FAILED|" + (finalLabel.empty() ? label : finalLabel) + "|5|" + kDenied}};
}

FailureRow Flag(Fields fields, const std::string& command, const std::string& option,
                const std::string& word, const std::string& prefix) {
  return System(std::move(fields), command, option, word, prefix);
}

const std::vector<FailureRow>& Rows() {
  static const std::vector<FailureRow> rows = {
      {{},
       "POWERCFG \"-SETACTIVE\" \"Field Work\"",
       "Failed to Set power scheme as active : Scheme Not Found",
       {"FAILED|SetActivePwrScheme|Might be System does not Found Specified Scheme|" + kHint +
        "Powercfg.exe /LIST"}},
      {{},
       "Powercfg.exe -Change \"Field Work\" -processor-throttle-ac ADAPTIVE",
       "Failed to Set Processor Throttle AC : Scheme Not Found /Or Does Not Support The Option",
       {"FAILED|Processor Throttle AC|Might be Scheme Not Found /Or Does Not Support The Option|" +
        kHint + "Powercfg.exe /LIST"}},
      {{},
       "Powercfg.exe -Change \"Field Work\" -processor-throttle-dc NONE",
       "Failed to Set Processor Throttle DC : Scheme Not Found /Or Does Not Support The Option",
       {"FAILED|Processor Throttle DC|Might be Scheme Not Found /Or Does Not Support The Option|" +
        kHint + "Powercfg.exe /LIST"}},

      Fixed({}, "Powercfg.exe -B LOW -activate on", "Low Battery Alarm Active", "On",
            "Failed to Set Low Battery Alarm as Active : System Does Not Support The Option"),
      Fixed({{"lowbatactivate", "0"}}, "Powercfg.exe -B LOW -activate off",
            "Low Battery Alarm Active", "off",
            "Failed to Off Low Battery Alarm : System Does Not Support The Option"),
      {{},
       "Powercfg.exe -B LOW -level 10",
       "Failed to Set Low Battery Level : Check Lowest Level Of Battery /Or Does Not Support The "
       "Option",
       {"FAILED|Low Battery Level||10",
        "FAILED|Low Battery Level||Check Lowest Level Of Battery /Or Does Not Support The Option"}},
      Fixed({}, "Powercfg.exe -B LOW -sound on", "Low Battery Sound Alarm", "On",
            "Failed to On Low Battery Sound Alarm : System Does Not Support The Option"),
      Fixed({{"lowbatsound", "0"}}, "Powercfg.exe -B LOW -sound off", "Low Battery Sound Alarm",
            "off", "Failed to Off Low Battery Sound Alarm : System Does Not Support The Option"),
      Fixed({}, "Powercfg.exe -B LOW -text on", "Low Battery Display Message", "On",
            "Failed to On Low Battery Display Message : System Does Not Support The Option"),
      Fixed({{"lowbatmsg", "no"}}, "Powercfg.exe -B LOW -text off", "Low Battery Display Message",
            "off", "Failed to Off Low Battery Display Message : System Does Not Support The Option",
            true),
      Fixed({}, "Powercfg.exe -B LOW -action standby", "Low Battery Alarm Action", "Standby",
            "Failed to set Low Battery Alarm Action : System Does Not Support The Option"),
      Fixed({{"lowbataction", "4"}}, "Powercfg.exe -B LOW -action hibernate",
            "Low Battery Alarm Action", "Hibernate",
            "Failed to set Low Battery Alarm Action : System Does Not Support The Option"),
      Fixed({{"lowbataction", "5"}}, "Powercfg.exe -B LOW -action shutdown",
            "Low Battery Alarm Action", "Shut down",
            "Failed to set Low Battery Alarm Action : System Does Not Support The Option"),
      Fixed({}, "Powercfg.exe -B LOW -forceaction on", "Low Battery force Action", "On",
            "Failed to On Low Battery force Action : System Does Not Support The Option"),
      Fixed({{"lowbatforce", ""}}, "Powercfg.exe -B LOW -forceaction off",
            "Low Battery force Action", "off",
            "Failed to Off Low Battery force Action : System Does Not Support The Option"),
      Fixed({}, "Powercfg.exe -B LOW -program on", "Low Battery active Run Program", "On",
            "Failed to set Low Battery Run Program as Active : System Does Not Support The Option"),
      Fixed({{"lowbatrunprog", "0"}}, "Powercfg.exe -B LOW -program off",
            "Low Battery active Run Program", "off",
            "Failed to off Low Battery Run Program : System Does Not Support The Option"),

      Fixed({}, "Powercfg.exe -B CRITICAL -activate on", "CRITICAL Battery Alarm Active", "On",
            "Failed to On CRITICAL Battery Alarm : System Does Not Support The Option"),
      Fixed({{"critbatactivate", "0"}}, "Powercfg.exe -B CRITICAL -activate off",
            "CRITICAL Battery Alarm Active", "off",
            "Failed to Off CRITICAL Battery Alarm : System Does Not Support The Option"),
      {{},
       "Powercfg.exe -B CRITICAL -level 5",
       "Failed to Set CRITICAL Battery Level : Check The Level Value /Or System Does Not Support "
       "The Option",
       {"FAILED|CRITICAL Battery Level|Action|5", "FAILED|CRITICAL Battery Level|" + kNoSupport +
                                                      "|" + kHint +
                                                      "Powercfg.exe -B CRITICAL -level <value>"}},
      System({}, "Powercfg.exe -B CRITICAL -sound on", "CRITICAL Battery Sound Alarm", "On",
             "Failed to On CRITICAL Battery Sound Alarm : "),
      System({{"critbatsound", "0"}}, "Powercfg.exe -B CRITICAL -sound off",
             "CRITICAL Battery Sound Alarm", "off",
             "Failed to Off CRITICAL Battery Sound Alarm : ", true),
      System({}, "Powercfg.exe -B CRITICAL -text on", "CRITICAL Battery Display Message", "On",
             "Failed to On CRITICAL Battery Display Message : "),
      System({{"critbatmsg", "0"}}, "Powercfg.exe -B CRITICAL -text off",
             "CRITICAL Battery Display Message", "off",
             "Failed to Off CRITICAL Battery Display Message : "),
      System({}, "Powercfg.exe -B CRITICAL -action standby", "CRITICAL Battery Alarm Action",
             "Standby", "Failed to Set CRITICAL Battery Alarm Action : "),
      System({{"critbataction", "4"}}, "Powercfg.exe -B CRITICAL -action hibernate",
             "CRITICAL Battery Alarm Action", "Hibernate",
             "Failed to Set CRITICAL Battery Alarm Action : "),
      System({{"critbataction", "5"}}, "Powercfg.exe -B CRITICAL -action shutdown",
             "CRITICAL Battery Alarm Action", "Shut down",
             "Failed to Set CRITICAL Battery Alarm Action : "),
      System({{"critbataction", "1"}}, "Powercfg.exe -B CRITICAL -forceaction on",
             "CRITICAL Battery force Action", "On", "Failed to On CRITICAL Battery Force Action : ",
             false, "CRITICAL Battery Force Action"),
      System({{"critbatforce", "0"}}, "Powercfg.exe -B CRITICAL -forceaction off",
             "CRITICAL Battery force Action", "off",
             "Failed to Off CRITICAL Battery Force Action : ", false,
             "CRITICAL Battery Force Action"),
      System({}, "Powercfg.exe -B CRITICAL -program on", "CRITICAL Battery active Run Program",
             "On", "Failed to On CRITICAL Battery Run Program : "),
      System({{"critbatrunprog", "0"}}, "Powercfg.exe -B CRITICAL -program off",
             "CRITICAL Battery active Run Program", "off",
             "Failed to Off CRITICAL Battery Run Program : "),

      Flag({{"dimvideo", "no"}}, "Powercfg.exe -GLOBALPOWERFLAG off -OPTION VIDEODIM", "VIDEODIM",
           "Off", "Failed to Turn off support for dimming video display on battery power : "),
      Flag({}, "Powercfg.exe -GLOBALPOWERFLAG on -OPTION VIDEODIM", "VIDEODIM", "On",
           "Failed to Turn on support for dimming video display on battery power : "),
      Flag({{"ring", "No"}}, "Powercfg.exe -GLOBALPOWERFLAG off -OPTION WAKEONRING", "WAKEONRING",
           "Off", "Failed to Turn off wake on ring support. : "),
      Flag({}, "Powercfg.exe -GLOBALPOWERFLAG on -OPTION WAKEONRING", "WAKEONRING", "On",
           "Failed to Turn on wake on ring support. : "),
      Flag({{"promptasstandby", "No"}}, "Powercfg.exe -GLOBALPOWERFLAG off -OPTION RESUMEPASSWORD",
           "RESUMEPASSWORD", "Off",
           "Failed to Turn off Prompt for password on resuming the system. : "),
      Flag({}, "Powercfg.exe -GLOBALPOWERFLAG on -OPTION RESUMEPASSWORD", "RESUMEPASSWORD", "On",
           "Failed to Turn on Prompt for password on resuming the system. : "),
      Flag({{"multib", "No"}}, "Powercfg.exe -GLOBALPOWERFLAG off -OPTION MULTIBATTERY",
           "MULTIBATTERY", "Off",
           "Failed to Turns off multiple battery display in system Power Meter. : "),
      Flag({}, "Powercfg.exe -GLOBALPOWERFLAG on -OPTION MULTIBATTERY", "MULTIBATTERY", "On",
           "Failed to Turns on multiple battery display in system Power Meter. : "),
      Flag({{"taskb", "No"}}, "Powercfg.exe -GLOBALPOWERFLAG off -OPTION BATTERYICON",
           "BATTERYICON", "Off",
           "Failed to Turn off the battery meter icon in the system tray. : "),
      Flag({}, "Powercfg.exe -GLOBALPOWERFLAG on -OPTION BATTERYICON", "BATTERYICON", "On",
           "Failed to Turn on the battery meter icon in the system tray. : "),
  };
  return rows;
}

// Modification's rows: the prefix and the error text, no might-be or hint.
const std::vector<FailureRow>& ModificationRows() {
  static const std::vector<FailureRow> rows = {
      {{},
       "POWERCFG \"-SETACTIVE\" \"Night Shift\"",
       "Failed to Set power scheme as active : Access is denied.\r\n",
       {"FAILED|SetActivePwrScheme|5|" + kDenied}},
      System({}, "Powercfg.exe -Change \"Night Shift\" -processor-throttle-ac ADAPTIVE",
             "Processor Throttle AC", "ADAPTIVE", "Failed to Set Processor Throttle AC : "),
      System({}, "Powercfg.exe -Change \"Night Shift\" -processor-throttle-dc NONE",
             "Processor Throttle DC", "NONE", "Failed to Set Processor Throttle DC : "),
      System({}, "Powercfg.exe -B LOW -activate on", "Low Battery Alarm Active", "On",
             "Failed to Set Low Battery Alarm as Active : "),
      System({{"lowbatactivate", "0"}}, "Powercfg.exe -B LOW -activate off",
             "Low Battery Alarm Active", "off", "Failed to Off Low Battery Alarm : "),
      System({}, "Powercfg.exe -B LOW -level 10", "Low Battery Level", "10",
             "Failed to Set Low Battery Level : ", true),
      System({}, "Powercfg.exe -B LOW -sound on", "Low Battery Sound Alarm", "On",
             "Failed to On Low Battery Sound Alarm : "),
      System({{"lowbatsound", "0"}}, "Powercfg.exe -B LOW -sound off", "Low Battery Sound Alarm",
             "off", "Failed to Off Low Battery Sound Alarm : "),
      System({}, "Powercfg.exe -B LOW -text on", "Low Battery Display Message", "On",
             "Failed to On Low Battery Display Message : "),
      System({{"lowbatmsg", "0"}}, "Powercfg.exe -B LOW -text off", "Low Battery Display Message",
             "off", "Failed to Off Low Battery Display Message : ", true),
      System({}, "Powercfg.exe -B LOW -action standby", "Low Battery Alarm Action", "Standby",
             "Failed to set Low Battery Alarm Action : "),
      System({{"lowbataction", "4"}}, "Powercfg.exe -B LOW -action hibernate",
             "Low Battery Alarm Action", "Hibernate", "Failed to set Low Battery Alarm Action : "),
      System({{"lowbataction", "5"}}, "Powercfg.exe -B LOW -action shutdown",
             "Low Battery Alarm Action", "Shut down", "Failed to set Low Battery Alarm Action : "),
      System({}, "Powercfg.exe -B LOW -forceaction on", "Low Battery force Action", "On",
             "Failed to On Low Battery force Action : "),
      System({{"lowbatforce", "0"}}, "Powercfg.exe -B LOW -forceaction off",
             "Low Battery force Action", "off", "Failed to Off Low Battery force Action : "),
      System({}, "Powercfg.exe -B LOW -program on", "Low Battery active Run Program", "On",
             "Failed to set Low Battery Run Program as Active : "),
      System({{"lowbatrunprog", "0"}}, "Powercfg.exe -B LOW -program off",
             "Low Battery active Run Program", "off", "Failed to off Low Battery Run Program : "),
      System({}, "Powercfg.exe -B CRITICAL -activate on", "CRITICAL Battery Alarm Active", "On",
             "Failed to On CRITICAL Battery Alarm : "),
      System({{"critbatactivate", "0"}}, "Powercfg.exe -B CRITICAL -activate off",
             "CRITICAL Battery Alarm Active", "off", "Failed to Off CRITICAL Battery Alarm : "),
      System({}, "Powercfg.exe -B CRITICAL -level 5", "CRITICAL Battery Level", "5",
             "Failed to Set CRITICAL Battery Level : "),
      System({{"critbatsound", "0"}}, "Powercfg.exe -B CRITICAL -sound off",
             "CRITICAL Battery Sound Alarm", "off",
             "Failed to Off CRITICAL Battery Sound Alarm : ", true),
      System({}, "Powercfg.exe -B CRITICAL -text on", "CRITICAL Battery Display Message", "On",
             "Failed to On CRITICAL Battery Display Message : "),
      System({{"critbataction", "5"}}, "Powercfg.exe -B CRITICAL -action shutdown",
             "CRITICAL Battery Alarm Action", "Shut down",
             "Failed to Set CRITICAL Battery Alarm Action : "),
      System({{"critbatforce", "0"}}, "Powercfg.exe -B CRITICAL -forceaction off",
             "CRITICAL Battery force Action", "off",
             "Failed to Off CRITICAL Battery Force Action : ", false,
             "CRITICAL Battery Force Action"),
      System({}, "Powercfg.exe -B CRITICAL -program on", "CRITICAL Battery active Run Program",
             "On", "Failed to On CRITICAL Battery Run Program : "),
      Flag({{"taskb", "No"}}, "Powercfg.exe -GLOBALPOWERFLAG off -OPTION BATTERYICON",
           "BATTERYICON", "Off",
           "Failed to Turn off the battery meter icon in the system tray. : "),
  };
  return rows;
}

// Every setting runs a command: the scheme is made active, both throttles
// set, both alarms on with an action, forced, and a program, all flags on.
jobdoc::PowerRequest BaseRequest(const Fields& changes, const char* schemeName = "Field Work") {
  Fields fields = {{"schemename", schemeName}, {"overwriteifexst", "1"}, {"actpowesch", "1"},
                   {"procthrotac", "4"},       {"procthrotdc", "1"},     {"lowbatactivate", "1"},
                   {"lowbatlev", "10"},        {"lowbatsound", "1"},     {"lowbatmsg", "1"},
                   {"lowbataction", "3"},      {"lowbatforce", "1"},     {"lowbatrunprog", "1"},
                   {"critbatactivate", "1"},   {"critbatlevel", "5"},    {"critbatsound", "1"},
                   {"critbatmsg", "1"},        {"critbataction", "3"},   {"critbatforce", "1"},
                   {"critbatrunprog", "1"},    {"dimvideo", "Yes"},      {"ring", "yes"},
                   {"promptasstandby", "YES"}, {"multib", "Yes"},        {"taskb", "Yes"}};
  fields.insert(fields.end(), changes.begin(), changes.end());  // a later field wins
  return MakeRequest(fields);
}

class PowercfgSettingsTest : public PowerRunTest {
 protected:
  using Operation = bool (*)(run::Run&, jobdoc::PowerRequest, power::HandOver);

  void ExpectEachFailure(const std::vector<FailureRow>& rows, Operation operation,
                         const char* schemeName, const std::string& module) {
    for (const FailureRow& row : rows) {
      SCOPED_TRACE(row.command);
      WritePower(
          sim::Json{{"powercfg", {{"commands", {{row.command, {{"start_error", 5}}}}}}}}.dump());
      Write("commands.jsonl", "");
      std::filesystem::remove(root_ / kLogFile);
      StartRun();
      EXPECT_FALSE(operation(*run_, BaseRequest(row.fields, schemeName), power::HandOver::Allowed));
      EXPECT_EQ(Failure(), row.message);

      const auto lines = LogLines();
      const std::string failedStart = "ExecuteCMD|ERROR|Process as user Failed|5|" + kDenied;
      const auto start = std::find(lines.begin(), lines.end(), failedStart);
      ASSERT_NE(start, lines.end());
      std::vector<std::string> after;
      for (auto it = start + 1; it != lines.end(); ++it) {
        after.push_back(it->rfind(module, 0) == 0 ? it->substr(module.size()) : *it);
      }
      EXPECT_EQ(after, row.lines);  // and nothing ran after the failed command
    }
  }
};

TEST_F(PowercfgSettingsTest, EachFailingCommandEndsCreationWithItsOwnReport) {
  ExpectEachFailure(Rows(), power::CreatePowerScheme, "Field Work", "CreatePowerScheme|");
}

TEST_F(PowercfgSettingsTest, EachFailingCommandEndsModificationWithAnErrorCapture) {
  ExpectEachFailure(ModificationRows(), power::ModifyPowerScheme, "Night Shift",
                    "ModifyPowerScheme|");
}

}  // namespace
}  // namespace zrt::test
