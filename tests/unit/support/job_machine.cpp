#include "support/job_machine.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/run_sequence.h"

namespace zrt::test {
namespace {
const char* const kDefaultSchemes = R"([
  {"index": 0, "name": "Home/Office Desk", "description": "Desk"},
  {"index": 1, "name": "Portable/Laptop", "description": "Laptop"},
  {"index": 2, "name": "Presentation", "description": "Slides"},
  {"index": 6, "name": "Night Shift", "description": "Custom"}
])";

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, '\t')) parts.push_back(part);
  if (!line.empty() && line.back() == '\t') parts.emplace_back();
  return parts;
}
}  // namespace

JobMachineTest::JobMachineTest() {
  Write("machine.json", R"({
    "version": {"major": 5, "minor": 1, "build": 2600},
    "windows_folder": "C:\\WINDOWS",
    "common_app_data": "C:\\Documents and Settings\\All Users\\Application Data",
    "drives": {"C": "drive_c"},
    "folders": ["C:\\WINDOWS", "C:\\Jobs"],
    "local_time": "2026-12-07 14:05:09.123",
    "program_path": "\"C:\\Program Files\\Merqel\\zReTessalyXP.exe\""
  })");
  Write("processes.json", R"({
    "agent_account": "SYSTEM",
    "processes": [
      {"pid": 4, "name": "System"},
      {"pid": 612, "name": "winlogon.exe"},
      {"pid": 1480, "name": "explorer.exe", "user": "jsmith"}
    ]
  })");
  WriteRegistry();
  WriteSchemes(kDefaultSchemes);
  Write("drive_c/Program Files/Merqel/Configuration/zLocator.ini",
        "[wpdcmscriptjobinstancestatus]\r\nURL=https://status.example.test\r\n");
  WritePostLibrary(R"([{"result": "1"}])");
  WriteJob(
      "<step value=\"1\"><action>Delete Scheme</action><schemename>Night "
      "Shift</schemename></step>");
}

void JobMachineTest::WriteRegistry(const std::string& key, const std::string& missingValue) {
  nlohmann::json values = {
      {"REGID", {{"type", "REG_SZ"}, {"data", "R-1001"}}},
      {"InstallationPath", {{"type", "REG_SZ"}, {"data", "C:\\Program Files\\Merqel"}}},
      {"MEMBERID", {{"type", "REG_SZ"}, {"data", "M-77"}}},
      {"TYPE", {{"type", "REG_SZ"}, {"data", "WKS"}}},
      {"SITEID", {{"type", "REG_SZ"}, {"data", "S-5"}}},
  };
  if (!missingValue.empty()) values.erase(missingValue);
  nlohmann::json registry = {{"keys", {{key, {{"values", values}}}}}};
  Write("registry.json", registry.dump(2));
}

void JobMachineTest::WriteSchemes(const std::string& schemesJson, int active,
                                  const std::string& extra) {
  Write("power.json", "{\"schemes\": " + schemesJson + ", \"active_scheme\": " +
                          std::to_string(active) + (extra.empty() ? "" : ", " + extra) + "}");
}

void JobMachineTest::WriteJob(const std::string& steps, const std::string& fncname,
                              const std::string& scriptid) {
  Write("drive_c/Jobs/job.xml",
        "<?xml version=\"1.0\"?>\n<job><scriptinstance scriptid=\"" + scriptid +
            "\" scriptver=\"1.0\" category=\"Power\" fncname=\"" + fncname +
            "\" logonuser=\"jsmith\">" + steps + "</scriptinstance></job>\n");
}

void JobMachineTest::WritePostLibrary(const std::string& answersJson) {
  Write("drive_c/Program Files/Merqel/zCourier.dll", "{\"answers\": " + answersJson + "}");
}

std::string JobMachineTest::JobArgument(const std::string& xmlPath) {
  return "OD@#@5012@#@" + xmlPath + "@#@JOB-77@#@jsmith@#@12/07/2026 10:30:00@#@88231@#@0@#@4411";
}

int JobMachineTest::RunProgram(const std::string& jobArgument) {
  port::Platform& platform = Open(jobArgument);
  return app::RunJob(platform, jobArgument.c_str());
}

std::vector<LogRecord> JobMachineTest::LogRecords() const {
  std::vector<LogRecord> records;
  std::istringstream in(Read(kLogFile));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto p = SplitTabs(line);
    if (p.size() < 7) continue;  // a continuation of a value with a line break
    records.push_back({p[0], p[1], p[2], p[3], p[4], p[5], p[6]});
  }
  return records;
}

std::vector<std::string> JobMachineTest::LogLines() const {
  std::vector<std::string> lines;
  for (const auto& r : LogRecords()) {
    lines.push_back(r.module + "|" + r.type + "|" + r.val1 + "|" + r.val2 + "|" + r.val3);
  }
  return lines;
}

std::vector<std::string> JobMachineTest::SchemeNames() const {
  std::vector<std::string> names;
  const auto power = nlohmann::json::parse(Read("power.json"));
  for (const auto& scheme : power["schemes"]) {
    names.push_back(scheme["name"].get<std::string>());
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> JobMachineTest::Posts() const {
  std::vector<std::pair<std::string, std::string>> posts;
  std::istringstream in(Read("posts.jsonl"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const auto record = nlohmann::json::parse(line);
    posts.emplace_back(record["texts"][0].get<std::string>(),
                       record["texts"][1].get<std::string>());
  }
  return posts;
}

std::vector<std::string> JobMachineTest::FallbackFiles() const {
  std::vector<std::string> files;
  const auto folder =
      root_ / "drive_c/Documents and Settings/All Users/Application Data/Merqel/QTVPostLogs";
  if (!std::filesystem::exists(folder)) return files;
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  for (const auto& path : paths) {
    files.push_back(path.filename().string() + "\n" +
                    Read(std::filesystem::relative(path, root_).string()));
  }
  return files;
}

}  // namespace zrt::test
