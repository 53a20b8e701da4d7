// Sending a job's status: configured address, default address, fallback
// file, and every way the post library can answer.
#include "report/status_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "platform/sim/sim_system.h"
#include "report/activity_log.h"
#include "support/job_machine.h"

namespace zrt::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class StatusReportTest : public JobMachineTest {
 protected:
  static constexpr const char* kConfigured =
      "https://status.example.test/"
      "tfr_wpdcmscriptjobinstancestatus.asp?mmid=M-77&sid=S-5&rid=R-1001&"
      "rty=WKS";

  // A run on the machine, or on `platform` made from it after Open().
  run::Run& StartRun(port::Platform* platform = nullptr) {
    run_ = std::make_unique<run::Run>(platform ? *platform : Open(), report::MakeActivityLog);
    auto& c = run_->context;
    c.dataFolder.Assign("C:\\Documents and Settings\\All Users\\Application Data\\Merqel");
    c.REGID.Assign("R-1001");
    c.MEMBERID.Assign("M-77");
    c.SITEID.Assign("S-5");
    c.TYPE.Assign("WKS");
    c.InstallationPath.Assign("C:\\Program Files\\Merqel");
    run_->args.ScriptId.Assign("5012");
    report::ReadStatusUrl(*run_);
    c.hasWebPostData =
        run_->platform.post.LoadLibraryA("C:\\Program Files\\Merqel\\zCourier.dll") &&
        run_->platform.post.GetProcAddress("WebPostData");
    return *run_;
  }
  std::string DefaultUrl() const {
    return std::string(report::DefaultStatusServerAddress()) +
           "/tfr_wpdcmscriptjobinstancestatus.asp?mmid=M-77&sid=S-5&rid=R-1001&rty=WKS";
  }
  std::vector<std::string> PostUrls() const {
    std::vector<std::string> urls;
    for (const auto& post : Posts()) urls.push_back(post.first);
    return urls;
  }

  std::unique_ptr<run::Run> run_;
};

TEST_F(StatusReportTest, AcceptedAtTheConfiguredAddress) {
  EXPECT_TRUE(report::SendStatus(StartRun(), "1"));
  EXPECT_THAT(PostUrls(), ElementsAre(kConfigured));
  EXPECT_THAT(FallbackFiles(), IsEmpty());
}

TEST_F(StatusReportTest, RefusedThereThenAcceptedAtTheDefault) {
  WritePostLibrary(R"([{"result": "0"}, {"result": "1"}])");
  EXPECT_TRUE(report::SendStatus(StartRun(), "1"));
  EXPECT_THAT(PostUrls(), ElementsAre(kConfigured, DefaultUrl()));
  EXPECT_THAT(LogLines(), Contains("1.0|CREATEWEBPOST|Info|Failed To Send the Webpost|" +
                                   std::string(kConfigured)));
}

TEST_F(StatusReportTest, RefusedAtBothLeavesAFallbackFileWithCrLf) {
  WritePostLibrary(R"([{"result": "0", "error": "busy", "further": "try later"}])");
  run::Run& run = StartRun();
  run.buffers.failureMessage.Assign("Scheme Is Currently Active hence not Deleted.");
  EXPECT_TRUE(report::SendStatus(run, "0"));
  EXPECT_EQ(Posts().size(), 2u);
  EXPECT_THAT(LogLines(),
              Contains("1.0|CREATEWEBPOST|ERROR Using WebPost Dll Failed|busy|try later"));
  const auto files = FallbackFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(
      files[0],
      "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509123.xml\n"
      "<?xml version=\"1.0\" "
      "encoding=\"windows-1252\"?>\r\n<wpdcmscriptjobinstancestatus>\r\n\t<batchid>0</"
      "batchid>\r\n\t<regid>R-1001</regid>\r\n"
      "\t<inid></inid>\r\n\t<inisrealtime></inisrealtime> \r\n\t<scriptid>5012</scriptid> \r\n"
      "\t<jobid></jobid>\r\n\t<instanceid></instanceid> \r\n\t<status>Fail</status> \r\n"
      "\t<desc><![CDATA[Scheme Is Currently Active hence not Deleted.]]></desc> \r\n"
      "\t<inexecstatusdate></inexecstatusdate> \r\n\t<inmenuid>0</inmenuid> \r\n"
      "\t<intemplateid>0</intemplateid> \r\n\t</wpdcmscriptjobinstancestatus>");
}

TEST_F(StatusReportTest, ErrorBesideAOneResultIsAFailedPost) {
  WritePostLibrary(R"([{"result": "1", "error": "partial"}, {"result": "1"}])");
  EXPECT_TRUE(report::SendStatus(StartRun(), "1"));
  EXPECT_EQ(Posts().size(), 2u);
}

TEST_F(StatusReportTest, ResultWithoutTextCountsAsZero) {
  WritePostLibrary(R"([{"result": 1}])");
  EXPECT_TRUE(report::SendStatus(StartRun(), "1"));
  EXPECT_EQ(Posts().size(), 2u);
  EXPECT_EQ(FallbackFiles().size(), 1u);
}

TEST_F(StatusReportTest, PostLibraryThatRaisesIsAFailedPostNotASentOne) {
  WritePostLibrary(R"([{"raises": true}])");
  EXPECT_TRUE(report::SendStatus(StartRun(), "1"));
  EXPECT_THAT(PostUrls(), ElementsAre(kConfigured, DefaultUrl()));
  EXPECT_EQ(FallbackFiles().size(), 1u);
  EXPECT_THAT(LogLines(), Contains("1.0|CREATEWEBPOST|ERROR Using WebPost Dll Failed|Exception "
                                   "raised by WebPostData|"));
}

TEST_F(StatusReportTest, NoConfiguredAddressStartsTheFirstUrlWithTheSlash) {
  Write("drive_c/Program Files/Merqel/Configuration/zLocator.ini", "[other]\r\nURL=x\r\n");
  EXPECT_TRUE(report::SendStatus(StartRun(), "1"));
  EXPECT_THAT(LogLines(), Contains("zLocatorINI|ERROR|URL Link not Found||"));
  EXPECT_EQ(PostUrls().at(0),
            "/tfr_wpdcmscriptjobinstancestatus.asp?mmid=M-77&sid=S-5&rid=R-1001&rty=WKS");
}

TEST_F(StatusReportTest, NoEntryPointMeansNoPostAndAFallbackFile) {
  Write("drive_c/Program Files/Merqel/zCourier.dll", R"({"exports": ["WebPost"]})");
  EXPECT_TRUE(report::SendStatus(StartRun(), "1"));
  EXPECT_THAT(Posts(), IsEmpty());
  EXPECT_THAT(LogLines(), Contains("1.0|CREATEWEBPOST|ERROR Using WebPost Dll Failed||"));
  EXPECT_EQ(FallbackFiles().size(), 1u);
}

TEST_F(StatusReportTest, FallbackFilesOfTheSameMillisecondNeverReplaceEachOther) {
  WritePostLibrary(R"([{"result": "0"}])");
  run::Run& run = StartRun();
  EXPECT_TRUE(report::SendStatus(run, "1"));
  run.buffers.failureMessage.Assign("second");
  EXPECT_TRUE(report::SendStatus(run, "0"));
  const auto files = FallbackFiles();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].substr(0, files[0].find('\n')),
            "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509123.xml");
  EXPECT_EQ(files[1].substr(0, files[1].find('\n')),
            "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509124.xml");
  EXPECT_NE(files[0].find("<status>Success</status>"), std::string::npos);
  EXPECT_NE(files[1].find("second"), std::string::npos);
}

TEST_F(StatusReportTest, UnwritableFallbackFolderSaysSoAndLosesTheStatusOnlyWhenNotPosted) {
  Write("machine.json", R"({
    "windows_folder": "C:\\WINDOWS", "drives": {"C": "drive_c"},
    "local_time": "2026-12-07 14:05:09.123",
    "write_denied": [{"path": "C:\\Documents and Settings\\All Users\\Application Data\\Merqel\\QTVPostLogs", "error": 5}]
  })");
  const std::string pendingLine =
      "SendWebpost|ERROR|Creating Pending File Failed|C:\\Documents and Settings\\All "
      "Users\\Application "
      "Data\\Merqel\\QTVPostLogs\\wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_"
      "20261207140509123.pending|3";  // the folder could not be made
  for (const bool posted : {true, false}) {
    std::filesystem::remove_all(root_ / "drive_c/Documents and Settings");
    WritePostLibrary(posted ? R"([{"result": "1"}])" : R"([{"result": "0"}])");
    EXPECT_EQ(report::SendStatus(StartRun(), "1"), posted);
    const auto lines = LogLines();
    EXPECT_THAT(lines, Contains(pendingLine));
    const auto lost = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("SendWebpost|ERROR|Creating File Failed|C:", 0) == 0;
    });
    EXPECT_EQ(lost, posted ? 0 : 1);
    if (posted) continue;
    EXPECT_EQ(lines.back(),
              "1.0|CREATEWEBPOST|Info|Failed To Send to the QTV Folder|"
              "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509123");
    EXPECT_EQ(lines[lines.size() - 2].substr(0, 41), "SendWebpost|ERROR|Creating File Failed|C:");
  }
}

// The machine's files, except that a write into the post-log folder stops
// half way and fails.
class HalfWritingFiles : public sim::SimFileSystem {
 public:
  using SimFileSystem::SimFileSystem;

  std::unique_ptr<port::OutputFile> CreateFileA(const char* path, port::OpenMode mode) override {
    struct HalfFile : port::OutputFile {
      std::unique_ptr<port::OutputFile> file;
      bool WriteFile(const void* data, std::size_t size) override {
        file->WriteFile(data, size / 2);
        return false;
      }
      bool ReadFile(std::string& bytes, std::size_t capacity) override {
        return file->ReadFile(bytes, capacity);
      }
      bool GetFileSize(std::uint64_t& size) override { return file->GetFileSize(size); }
    };
    auto file = SimFileSystem::CreateFileA(path, mode);
    if (!file || std::string_view(path).find("QTVPostLogs") == std::string_view::npos) return file;
    auto half = std::make_unique<HalfFile>();
    half->file = std::move(file);
    return half;
  }
};

TEST_F(StatusReportTest, HalfWrittenFallbackIsRemovedAndTheLastNameTriedIsLogged) {
  const std::string folder =
      "drive_c/Documents and Settings/All Users/Application Data/Merqel/QTVPostLogs/";
  Write(folder + "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509123.pending",
        "older");
  port::Platform& sim = Open();
  HalfWritingFiles files(sim_->Machine());
  port::Platform platform{sim.registry, files,    sim.processes, sim.power,
                          sim.xml,      sim.post, sim.system};
  run::Run run(platform, report::MakeActivityLog);
  run.context.dataFolder.Assign("C:\\Documents and Settings\\All Users\\Application Data\\Merqel");
  run.context.REGID.Assign("R-1001");

  EXPECT_FALSE(report::SendStatus(run, "1"));  // no post library: straight to the file
  const auto remaining = FallbackFiles();
  ASSERT_EQ(remaining.size(), 1u);
  EXPECT_EQ(remaining[0].substr(remaining[0].find('\n')), "\nolder");
  EXPECT_EQ(LogLines().back(),
            "1.0|CREATEWEBPOST|Info|Failed To Send to the QTV Folder|"
            "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509124");
}

// The post library of the machine, looking at the post-log folder at the
// moment of each call.
class WatchedPostLibrary : public port::PostLibrary {
 public:
  WatchedPostLibrary(port::PostLibrary& inner, port::FileSystem& files)
      : inner_(inner), files_(files) {}
  bool LoadLibraryA(const char* path) override { return inner_.LoadLibraryA(path); }
  bool GetProcAddress(const char* name) override { return inner_.GetProcAddress(name); }
  port::CallOutcome WebPostData(const std::array<port::WideText, 7>& texts,
                                port::WebPostResults& results, std::uint32_t boundMs) override {
    std::vector<std::string> names;
    files_.FindFileNames((std::string(kPostLogs) + "\\*").c_str(), names);
    for (const std::string& name : names) {
      // Held by the writer: no other handle may write it.
      const bool held = !files_.CreateFileA((std::string(kPostLogs) + "\\" + name).c_str(),
                                            port::OpenMode::AppendExisting);
      seen.push_back(name + (held ? " held" : " free"));
      if (takeFiles) files_.DeleteFileA((std::string(kPostLogs) + "\\" + name).c_str());
    }
    return inner_.WebPostData(texts, results, boundMs);
  }

  static constexpr const char* kPostLogs =
      "C:\\Documents and Settings\\All Users\\Application Data\\Merqel\\QTVPostLogs";
  std::vector<std::string> seen;
  bool takeFiles = false;  // removes what it sees, as a foreign process might

 private:
  port::PostLibrary& inner_;
  port::FileSystem& files_;
};

// The machine's code page, except that the status document does not convert.
class UnconvertibleDocumentSystem : public sim::SimSystem {
 public:
  explicit UnconvertibleDocumentSystem(sim::SimMachine& machine) : SimSystem(machine, "") {}
  bool MultiByteToWideChar(const std::string& source, port::WideText& destination,
                           std::size_t capacity) override {
    if (source.find("<wpdcmscriptjobinstancestatus>") != std::string::npos) {
      SetLastError(1113);  // ERROR_NO_UNICODE_TRANSLATION
      return false;
    }
    return SimSystem::MultiByteToWideChar(source, destination, capacity);
  }
};

TEST_F(StatusReportTest, TheDocumentIsHeldAheadOfEachPostAndLeavesOnlyAsPostedOrFiled) {
  const std::string name = "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509123";
  struct Case {
    const char* answers;
    std::vector<std::string> seenAtPosts;
    std::vector<std::string> filesAfter;
  };
  const Case cases[] = {
      {R"([{"result": "1"}])", {name + ".pending held"}, {}},
      {R"([{"result": "0"}, {"result": "1"}])",
       {name + ".pending held", name + ".pending held"},
       {}},
      {R"([{"result": "0"}])", {name + ".pending held", name + ".pending held"}, {name + ".xml"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers);
    std::filesystem::remove_all(root_ / "drive_c/Documents and Settings");
    std::filesystem::remove(root_ / "posts.jsonl");
    WritePostLibrary(c.answers);
    port::Platform& sim = Open();
    WatchedPostLibrary post(sim.post, sim.files);
    port::Platform watched{sim.registry, sim.files, sim.processes, sim.power,
                           sim.xml,      post,      sim.system};
    EXPECT_TRUE(report::SendStatus(StartRun(&watched), "1"));
    EXPECT_EQ(post.seen, c.seenAtPosts);
    std::vector<std::string> after;
    for (const std::string& file : FallbackFiles())
      after.push_back(file.substr(0, file.find('\n')));
    EXPECT_EQ(after, c.filesAfter);
  }
}

TEST_F(StatusReportTest, AJobWhosePendingFileVanishedFilesItsStatusFromMemory) {
  WritePostLibrary(R"([{"result": "0"}])");
  port::Platform& sim = Open();
  WatchedPostLibrary post(sim.post, sim.files);
  post.takeFiles = true;
  port::Platform watched{sim.registry, sim.files, sim.processes, sim.power,
                         sim.xml,      post,      sim.system};
  EXPECT_TRUE(report::SendStatus(StartRun(&watched), "1"));
  const auto files = FallbackFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].substr(0, files[0].find('\n')),
            "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_20261207140509123.xml");
  EXPECT_NE(files[0].find("<status>Success</status>"), std::string::npos);
  EXPECT_THAT(LogLines(),
              Contains(::testing::StartsWith("SendWebpost|ERROR|Pending File Missing|")));
}

TEST_F(StatusReportTest, PendingFilesNobodyHoldsAreFiledUnderTheirOwnNamesAtStart) {
  const std::string folder =
      "drive_c/Documents and Settings/All Users/Application Data/Merqel/QTVPostLogs/";
  const std::string stem = "wpdcmscriptjobinstancestatus.asp_N_R-1001_PER_";
  const std::string a = stem + "20261130080000999";
  const std::string b = stem + "20261201235959999";
  const std::string crash =
      "<wpdcmscriptjobinstancestatus>crash\r\n\t</wpdcmscriptjobinstancestatus>";
  const std::string hang =
      "<wpdcmscriptjobinstancestatus>hang\r\n\t</wpdcmscriptjobinstancestatus>";
  Write(folder + a + ".pending", crash);
  Write(folder + b + ".pending", hang);
  Write(folder + b + ".xml", "an older status of the same millisecond");
  Write(folder + "other.pending.txt", "not a status");
  // Made, or cut short, by a run that died while writing it: no status.
  Write(folder + stem + "20261203000000000.pending", "");
  Write(folder + stem + "20261204000000000.pending", "<wpdcmscriptjobinstancestatus>\r\n\t<bat");
  Write(folder + stem + "20261204000000000.incomplete", "kept aside before");
  run::Run& run = StartRun();
  const std::string live =
      std::string(WatchedPostLibrary::kPostLogs) + "\\" + stem + "20261207140509123" + ".pending";
  const auto held = run.platform.files.CreateFileA(live.c_str(), port::OpenMode::CreateNewHeld);
  ASSERT_TRUE(held);

  report::RecoverPendingStatus(run);

  std::vector<std::string> after;
  for (const std::string& file : FallbackFiles()) {
    after.push_back(file.substr(0, file.find('\n')) + "|" + file.substr(file.find('\n') + 1));
  }
  EXPECT_THAT(
      after,
      ElementsAre("other.pending.txt|not a status", a + ".xml|" + crash,
                  b + ".xml|an older status of the same millisecond",
                  stem + "20261202000000000.xml|" + hang, stem + "20261203000000000.incomplete|",
                  stem + "20261204000000000.incomplete|kept aside before",
                  stem + "20261204000000000_1.incomplete|<wpdcmscriptjobinstancestatus>\r\n\t<bat",
                  stem + "20261207140509123.pending|"));
  const std::string logs = std::string(WatchedPostLibrary::kPostLogs) + "\\";
  EXPECT_THAT(LogLines(), Contains("SendWebpost|INFO|Recovered File |" + logs + a + ".xml|" + logs +
                                   a + ".pending"));
  EXPECT_THAT(LogLines(), Contains("SendWebpost|INFO|Recovered File |" + logs + stem +
                                   "20261202000000000.xml|" + logs + b + ".pending"));
  EXPECT_THAT(LogLines(), Contains("SendWebpost|ERROR|Incomplete Status Kept Aside|" + logs + stem +
                                   "20261203000000000.incomplete|" + logs + stem +
                                   "20261203000000000.pending"));
}

TEST_F(StatusReportTest, AHungPostIsAbandonedAfterTheBoundAndTheStatusFiled) {
  WritePostLibrary(R"([{"hangs": true}, {"result": "1"}])");
  run::Run& run = StartRun();
  run.postBoundMs = 200;
  EXPECT_TRUE(report::SendStatus(run, "1"));
  EXPECT_THAT(PostUrls(), ElementsAre(kConfigured));  // the default address is not tried
  EXPECT_THAT(LogLines(), Contains("1.0|CREATEWEBPOST|ERROR Using WebPost Dll Failed|WebPostData "
                                   "did not return within 200 ms; the post was abandoned|"));
  ASSERT_EQ(FallbackFiles().size(), 1u);
  EXPECT_NE(FallbackFiles()[0].find("<status>Success</status>"), std::string::npos);
  EXPECT_FALSE(run.context.hasWebPostData);
}

TEST_F(StatusReportTest, AnUnconvertibleDocumentIsNeverPostedAndTheFallbackKeepsIt) {
  WritePostLibrary(R"([{"result": "1"}])");
  port::Platform& sim = Open();
  UnconvertibleDocumentSystem system(sim_->Machine());
  port::Platform platform{sim.registry, sim.files, sim.processes, sim.power,
                          sim.xml,      sim.post,  system};
  run::Run run(platform, report::MakeActivityLog);
  run.context.dataFolder.Assign("C:\\Documents and Settings\\All Users\\Application Data\\Merqel");
  run.context.REGID.Assign("R-1001");
  run.context.hasWebPostData = sim.post.LoadLibraryA("C:\\Program Files\\Merqel\\zCourier.dll") &&
                               sim.post.GetProcAddress("WebPostData");
  ASSERT_TRUE(run.context.hasWebPostData);
  EXPECT_TRUE(report::SendStatus(run, "1"));
  EXPECT_THAT(Posts(), IsEmpty());
  EXPECT_THAT(LogLines(), Contains("1.0|CREATEWEBPOST|ERROR Using WebPost Dll Failed|The status "
                                   "could not be converted for WebPostData|"));
  const auto files = FallbackFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].find("\t<regid>R-1001</regid>\r\n"), std::string::npos);
}

}  // namespace
}  // namespace zrt::test
