// Opening a simulated machine: what makes a folder unusable, what opening
// prepares, and the facts of the bundled example machines.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/sim_powercfg.h"
#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

namespace fs = std::filesystem;

TEST(SimMachineOpenTest, UnusableFoldersAreRefusedWithTheReason) {
  ScratchFolder scratch;
  EXPECT_THROW(sim::SimMachine(scratch.PathOf("missing")), sim::MachineError);
  EXPECT_THROW(sim::SimMachine(scratch.PathOf("")), sim::MachineError) << "no machine.json";

  scratch.Write("machine.json", "{ not json");
  try {
    sim::SimMachine machine(scratch.PathOf(""));
    ADD_FAILURE() << "a malformed machine.json was accepted";
  } catch (const sim::MachineError& e) {
    EXPECT_NE(std::string(e.what()).find("machine.json"), std::string::npos) << e.what();
  }
  scratch.Write("machine.json", R"({"local_time": "2026-02-30 10:00:00"})");
  EXPECT_THROW(sim::SimMachine(scratch.PathOf("")), sim::MachineError);
  scratch.Write("machine.json", R"({"folders": ["Q:\\elsewhere"]})");
  EXPECT_THROW(sim::SimMachine(scratch.PathOf("")), sim::MachineError);
}

TEST_F(SimMachineTest, OpeningCreatesDrivesAndListedFolders) {
  port::Platform& platform =
      Reopen("machine.json", R"json({"drives": {"C": "drive_c", "d:": "second"},
      "folders": ["C:\\Program Files (x86)", "D:\\WINNT"], "windows_folder": "D:\\WINNT"})json");
  EXPECT_TRUE(HostExists("drive_c/Program Files (x86)"));
  EXPECT_TRUE(HostExists("second/WINNT"));
  EXPECT_TRUE(platform.files.FindFirstFileA("d:\\winnt"));
  EXPECT_TRUE(platform.files.FindFirstFileA("D:\\..\\..\\..\\WINNT")) << "above the root";
}

// A damaged file is refused when the machine opens, naming the file: not
// read without end, past the stack, nor told later as a failing call.
TEST_F(SimMachineTest, DamagedFilesAreRefusedWhenTheMachineOpens) {
  const std::string settings = Read("machine.json");
  const struct {
    const char* file;
    std::string text;  // "fifo" and "folder" make one of these
    const char* told;
  } kCases[] = {
      {"machine.json", R"({"drives": {"C": "drive_c/../../elsewhere"}})",
       "drive C: drive_c/../../elsewhere lies outside the machine folder"},
      {"power.json", "[" + std::string(300000, '[') + std::string(300000, ']') + "]",
       "power.json nests lists or objects deeper than 512 levels"},
      {"power.json", R"({"active_scheme": "one"})", "\"active_scheme\": expected a 32-bit number"},
      {"power.json", R"({"capabilities": "yes"})", "power.json: capabilities must be an object"},
      {"power.json", R"({"schemes": [{"index": 0, "policy": [1]}]})",
       "scheme 1 of the list: policy must be an object"},
      {"registry.json", "fifo", "registry.json is neither a file nor a folder"},
      {"processes.json", "folder", "processes.json is a folder, not a file"},
  };
  for (const auto& c : kCases) {
    if (c.text == "fifo") {
      ASSERT_EQ(::mkfifo((root_ / c.file).c_str(), 0600), 0);
    } else if (c.text == "folder") {
      fs::create_directory(root_ / c.file);
    } else {
      Write(c.file, c.text);
    }
    try {
      Open();
      ADD_FAILURE() << c.file << " accepted, not: " << c.told;
    } catch (const sim::MachineError& e) {
      EXPECT_NE(std::string(e.what()).find(c.told), std::string::npos) << e.what();
    }
    fs::remove_all(root_ / c.file);
    Write("machine.json", settings);
  }
}

// The simulated Powercfg.exe writes its alarms and flags in its own form,
// and keeps a change another writer made to them between its commands.
TEST_F(SimMachineTest, PowercfgKeepsAlarmsOthersChangedBetweenItsCommands) {
  Write("power.json", R"({"battery_alarms": {"low": {"activate": true, "level": 10}}})");
  Open();
  sim::SimMachine& machine = sim_->Machine();
  sim::PowercfgStateCache states;
  const auto run = [&](const char* line) {
    EXPECT_EQ(sim::RunPowercfg(machine, line, states).exitCode, 0u) << line;
    machine.Flush();
    return sim::Json::parse(Read("power.json"));
  };
  sim::Json power = run("Powercfg.exe -GLOBALPOWERFLAG on -OPTION wakeonring");
  EXPECT_EQ(power["battery_alarms"]["low"]["activate"], true);
  EXPECT_EQ(power["battery_alarms"]["critical"]["action"], "none");
  const auto change = [&](const char* alarm) {
    machine.PowerFile().Update([alarm](sim::Json& p) {
      p["battery_alarms"][alarm] = {{"level", 33}};
    });
  };
  change("low");
  power = run("Powercfg.exe -B LOW -sound on");
  EXPECT_EQ(power["battery_alarms"]["low"], sim::Json::parse(R"({"activate": false, "level": 33,
      "text": false, "sound": true, "action": "none", "forceaction": false, "program": false})"));
  change("critical");  // in part: the tool writes it whole again
  power = run("Powercfg.exe -GLOBALPOWERFLAG off -OPTION wakeonring");
  EXPECT_EQ(power["battery_alarms"]["critical"]["action"], "none");
  EXPECT_EQ(power["battery_alarms"]["low"]["sound"], true);
  EXPECT_EQ(power["global_flags"]["WAKEONRING"], false);
}

// Opens a copy of a bundled example machine.
class SimExampleMachineTest : public SimMachineTest {
 protected:
  port::Platform& OpenExample(const std::string& name) {
    const fs::path source = fs::path(__FILE__).parent_path() / "../../examples/machines" / name;
    fs::remove_all(root_);
    fs::copy(source, root_, fs::copy_options::recursive);
    return Open("job");
  }

  bool Is64Bit(port::Platform& platform) {
    std::string windows;
    EXPECT_TRUE(platform.files.GetWindowsDirectoryA(windows, 512));
    return platform.files.FindFirstFileA(
        (windows.substr(0, windows.rfind('\\') + 1) + "Program Files (x86)").c_str());
  }

  std::string ProductValue(port::Platform& platform, const char* key, const char* name) {
    std::unique_ptr<port::RegistryKey> opened;
    EXPECT_EQ(platform.registry.RegOpenKeyExA(port::Hive::LocalMachine, key, opened), 0) << key;
    if (!opened) return {};
    std::vector<std::uint8_t> data(1024);
    std::uint32_t type = 0, size = 1024;
    EXPECT_EQ(platform.registry.RegQueryValueExA(*opened, name, type, data.data(), size), 0);
    return std::string(reinterpret_cast<const char*>(data.data()), size > 0 ? size - 1 : 0);
  }

  std::string ShellUser(port::Platform& platform) {
    std::vector<port::ProcessEntry> entries;
    EXPECT_TRUE(platform.processes.SnapshotProcesses(entries));
    for (const auto& entry : entries) {
      if (platform.system.lstrcmpiA(entry.exeFile.c_str(), "explorer.exe") != 0) continue;
      auto process = platform.processes.OpenProcess(entry.processId);
      auto token = platform.processes.OpenProcessToken(process.get());
      EXPECT_TRUE(token && platform.processes.ImpersonateLoggedOnUser(*token));
      std::string user;
      platform.processes.GetUserNameA(user, 1024);
      platform.processes.RevertToSelf();
      return user;
    }
    return {};
  }

  std::string StatusUrl(port::Platform& platform, const std::string& installation) {
    return platform.files.GetPrivateProfileStringA(
        "wpdcmscriptjobinstancestatus", "URL", "", 260,
        (installation + "\\Configuration\\zLocator.ini").c_str());
  }
};

TEST_F(SimExampleMachineTest, XpLaptopIsA32BitXpWithItsProductAndSchemes) {
  port::Platform& platform = OpenExample("xp-laptop");
  EXPECT_FALSE(Is64Bit(platform));
  const std::string installation = ProductValue(platform, "SOFTWARE\\MERQEL", "InstallationPath");
  EXPECT_EQ(installation, "C:\\Program Files\\Merqel");
  EXPECT_FALSE(ProductValue(platform, "SOFTWARE\\MERQEL", "REGID").empty());
  EXPECT_FALSE(StatusUrl(platform, installation).empty());
  EXPECT_TRUE(platform.post.LoadLibraryA((installation + "\\zCourier.dll").c_str()));
  EXPECT_TRUE(platform.post.GetProcAddress("WebPostData"));
  EXPECT_EQ(ShellUser(platform), "jsmith");

  std::vector<std::u16string> names;
  platform.power.EnumPwrSchemes([&](std::uint32_t, const port::WideText& name, auto&) {
    names.push_back(name);
    return true;
  });
  EXPECT_EQ(names, (std::vector<std::u16string>{
                       u"Home/Office Desk", u"Portable/Laptop", u"Presentation", u"Always On",
                       u"Minimal Power Management", u"Max Battery", u"Night Shift"}));
  std::uint32_t active = 0;
  EXPECT_TRUE(platform.power.GetActivePwrScheme(active));
  EXPECT_EQ(active, 1u);
}

TEST_F(SimExampleMachineTest, SixtyFourBitMachinesKeepTheProductUnderWow6432Node) {
  for (const char* name : {"xp-x64-desktop", "win7"}) {
    SCOPED_TRACE(name);
    port::Platform& platform = OpenExample(name);
    EXPECT_TRUE(Is64Bit(platform));
    const std::string installation =
        ProductValue(platform, "SOFTWARE\\Wow6432Node\\MERQEL", "InstallationPath");
    EXPECT_FALSE(StatusUrl(platform, installation).empty());
    EXPECT_TRUE(platform.post.LoadLibraryA((installation + "\\zCourier.dll").c_str()));
    EXPECT_FALSE(ShellUser(platform).empty());
    port::OsVersion version;
    EXPECT_TRUE(platform.system.GetVersionExA(version, true));
    EXPECT_EQ(version.major, std::string(name) == "win7" ? 6u : 5u);
  }
}

}  // namespace
}  // namespace zrt::test
