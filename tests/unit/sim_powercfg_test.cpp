// The simulated Powercfg.exe: how a command line is split into arguments,
// and what each command does to the power state, or why it fails and leaves
// the state alone.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/sim/powercfg_tool.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_command_line.h"

namespace zrt::test {
namespace {

using powercfg::State;

TEST(SimCommandLineTest, SplitsAsTheWindowsRuntimeDoes) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {R"(p "a b"  c)", {"a b", "c"}},
      {R"(p a\\"b c" d)", {R"(a\b c)", "d"}},
      {R"(p a\"b)", {R"(a"b)"}},
      {R"(p "a""b" "")", {R"(a"b)", ""}},
      {R"(p a\b\ "c\\")", {R"(a\b\)", R"(c\)"}},
      {"p\t-x\t", {"-x"}},
  };
  for (const auto& [line, arguments] : cases) {
    EXPECT_EQ(sim::SplitCommandLine(line).arguments, arguments) << line;
  }
  const auto quoted = sim::SplitCommandLine(R"("C:\Program Files\p.exe" -a)");
  EXPECT_EQ(quoted.program, R"(C:\Program Files\p.exe)");
  EXPECT_EQ(quoted.arguments, std::vector<std::string>{"-a"});
  // In code page 932 a name ending in the trail byte 0x5C keeps its closing
  // quotation mark; without the lead-byte test it would be an escaped one.
  const std::string name = "\x97\x5C\x92\xE8\x95\x5C";
  const auto lead = [](unsigned char b) { return (b >= 0x81 && b <= 0x9F) || b >= 0xE0; };
  EXPECT_EQ(sim::SplitCommandLine("p \"" + name + "\" -x", lead).arguments,
            (std::vector<std::string>{name, "-x"}));
}

std::string Describe(const State& s) {
  std::ostringstream out;
  out << "hibernation " << s.hibernation << ", active " << s.activeScheme;
  for (const auto& scheme : s.schemes) {
    out << ", " << scheme.name << " " << scheme.throttleAc << "/" << scheme.throttleDc;
  }
  for (const auto* alarm : {&s.low, &s.critical}) {
    out << ", alarm " << alarm->activate << alarm->level << alarm->text << alarm->sound
        << alarm->action << alarm->forceAction << alarm->program;
  }
  for (bool flag : s.globalFlags) out << " " << flag;
  return out.str();
}

TEST(SimPowercfgToolTest, CommandsChangeTheStateOrFailLeavingItAlone) {
  State base;
  base.activeScheme = 1;
  base.schemes = {{0, "Home/Office Desk", 0, 3},
                  {3,
                   "\xC9"
                   "conomie",
                   0, 0}};  // "Économie"
  base.low.level = 10;
  struct Row {
    std::string commandLine;
    int exitCode;
    void (*change)(State&);
  };
  const std::vector<Row> rows = {
      {R"(Powercfg.exe "-HIBERNATE" "on")", 0, [](State& s) { s.hibernation = true; }},
      {"powercfg /hibernate OFF", 0, [](State&) {}},
      {"Powercfg.exe -HIBERNATE", 1, nullptr},
      {"Powercfg.exe -h maybe", 1, nullptr},
      {"POWERCFG \"-SETACTIVE\" \"\xE9"
       "CONOMIE\"",
       0, [](State& s) { s.activeScheme = 3; }},
      {R"(POWERCFG "-SETACTIVE" "Nowhere")", 1, nullptr},
      {"POWERCFG -SETACTIVE Home/Office Desk", 1, nullptr},
      {R"(POWERCFG "-SETACTIVE" "Home/Office Desk" -x "")", 1, nullptr},
      {R"(Powercfg.exe -Change "Home/Office Desk" -processor-throttle-ac ADAPTIVE)", 0,
       [](State& s) { s.schemes[0].throttleAc = 3; }},
      {R"(Powercfg.exe /c "home/office desk" /PROCESSOR-THROTTLE-DC degrade)", 0,
       [](State& s) { s.schemes[0].throttleDc = 2; }},
      {R"(Powercfg.exe -Change "Home/Office Desk" -processor-throttle-ac FAST)", 1, nullptr},
      {R"(Powercfg.exe -Change "Home/Office Desk" -monitor-timeout-ac 5)", 1, nullptr},
      {R"(Powercfg.exe -Change "Nowhere" -processor-throttle-ac NONE)", 1, nullptr},
      {"Powercfg.exe -B LOW -level 12", 0, [](State& s) { s.low.level = 12; }},
      {"Powercfg.exe -B LOW -level ", 1, nullptr},
      {"Powercfg.exe -B LOW -level 101", 1, nullptr},
      {"Powercfg.exe -B LOW -level 1e2", 1, nullptr},
      {"Powercfg.exe -B low -activate on -SOUND On", 0,
       [](State& s) { s.low.activate = s.low.sound = true; }},
      {"Powercfg.exe -B LOW -level 20 -activate bogus", 1, nullptr},
      {"Powercfg.exe -B CRITICAL -action hibernate -forceaction on -text on -program on", 0,
       [](State& s) {
         s.critical.action = "hibernate";
         s.critical.forceAction = s.critical.text = s.critical.program = true;
       }},
      {"Powercfg.exe -B LOW -action sleep", 1, nullptr},
      {"Powercfg.exe -B MEDIUM -activate on", 1, nullptr},
      {"Powercfg.exe -B", 1, nullptr},
      {"Powercfg.exe -GLOBALPOWERFLAG on -OPTION wakeonring", 0,
       [](State& s) { s.globalFlags[3] = true; }},
      {"Powercfg.exe -GLOBALPOWERFLAG on -OPTION TURBO", 1, nullptr},
      {"Powercfg.exe -GLOBALPOWERFLAG on WAKEONRING", 1, nullptr},
      {"Powercfg.exe /LIST", 0, [](State&) {}},
      {"Powercfg.exe -EXPORT x", 1, nullptr},
      {"Powercfg.exe", 1, nullptr},
  };
  const powercfg::SameName sameName = [](const std::string& a, const std::string& b) {
    return sim::Windows1252().EqualNoCase(a, b);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.commandLine);
    State state = base;
    State expected = base;
    if (row.change != nullptr) row.change(expected);
    EXPECT_EQ(powercfg::Run(sim::SplitCommandLine(row.commandLine).arguments, state, sameName),
              row.exitCode);
    EXPECT_EQ(Describe(state), Describe(expected));
  }
}

}  // namespace
}  // namespace zrt::test
