// The post-library adapter against the zCourier double, and the structured
// exception guard it calls through.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "platform/win32/seh_guard.h"
#include "platform/win32/win32_adapters.h"
#include "wine_test_support.h"

namespace zrt::win32 {
namespace {

using wine_test::DeleteKeyTree;
using wine_test::ProgramFolder;
using wine_test::ReadFileBytes;
using wine_test::RegistryWriter;
using wine_test::ScratchFolder;

const wchar_t* const kCourierConfig = L"Software\\ZrtTestDoubles\\zCourier";

// The head of the thread's list of frame-based handlers on 32-bit x86;
// x86-64 keeps no such list (the unwind tables name each frame's handler).
void* ExceptionListHead() {
#if defined(__i386__)
  void* head;
  __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
  return head;
#else
  return nullptr;
#endif
}

void Raise(void* code) { ::RaiseException(*static_cast<DWORD*>(code), 0, 0, nullptr); }
void Return(void* called) { *static_cast<bool*>(called) = true; }

TEST(SehGuardTest, ReturnsTrueWhenTheCallReturns) {
  bool called = false;
  std::uint32_t code = 0;
  EXPECT_TRUE(CallGuarded(&Return, &called, code));
  EXPECT_TRUE(called);
}

TEST(SehGuardTest, TakesARaisedExceptionAndRestoresTheHandlerList) {
  void* const head = ExceptionListHead();
  DWORD raised = 0xE0001234;
  std::uint32_t code = 0;
  EXPECT_FALSE(CallGuarded(&Raise, &raised, code));
  EXPECT_EQ(code, raised);
  EXPECT_EQ(ExceptionListHead(), head);

  // C++ exceptions and the guard still work afterwards.
  EXPECT_THROW(throw std::runtime_error("after"), std::runtime_error);
  raised = 0xE0005678;
  EXPECT_FALSE(CallGuarded(&Raise, &raised, code));
  EXPECT_EQ(code, raised);
}

// A frame with clean-up of its own between the guard and the raise: the
// guard's unwind must give it the chance to run it.
#if defined(__i386__)
// On 32-bit x86 such a frame registers a handler record in the thread's list.
struct CountingFrame {
  EXCEPTION_REGISTRATION_RECORD record;
  int* unwinds;
};

EXCEPTION_DISPOSITION __cdecl CountUnwinds(EXCEPTION_RECORD* exception, void* frame, CONTEXT*,
                                           void*) {
  if ((exception->ExceptionFlags & EXCEPTION_UNWINDING) != 0) {
    ++*static_cast<CountingFrame*>(frame)->unwinds;
  }
  return ExceptionContinueSearch;
}

// The record lives in this function's frame, deeper than the guard's, as
// the system requires.
__attribute__((noinline)) void RaiseInsideAHandlerFrame(void* unwinds) {
  CountingFrame frame{};
  frame.unwinds = static_cast<int*>(unwinds);
  frame.record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&CountUnwinds);
  frame.record.Next = static_cast<EXCEPTION_REGISTRATION_RECORD*>(ExceptionListHead());
  __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&frame.record) : "memory");
  ::RaiseException(0xE0009999, 0, 0, nullptr);
}
#else
// On x86-64 the unwind tables name the frame's handler: an assembly frame
// whose unwind information names CountUnwinds, for unwinding only, and which
// keeps the counter's address where the handler finds it.
extern "C" EXCEPTION_DISPOSITION ZrtTestCountUnwinds(EXCEPTION_RECORD* exception, void* frame,
                                                     CONTEXT*, void*) {
  if ((exception->ExceptionFlags & EXCEPTION_UNWINDING) != 0) {
    ++**reinterpret_cast<int**>(static_cast<char*>(frame) + 32);
  }
  return ExceptionContinueSearch;
}

extern "C" void ZrtTestRaiseInsideAHandlerFrame(void* unwinds);
__asm__(
    ".text\n"
    ".globl ZrtTestRaiseInsideAHandlerFrame\n"
    ".def ZrtTestRaiseInsideAHandlerFrame; .scl 2; .type 32; .endef\n"
    ".seh_proc ZrtTestRaiseInsideAHandlerFrame\n"
    "ZrtTestRaiseInsideAHandlerFrame:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  movq %rcx, 32(%rsp)\n"
    "  movl $0xE0009999, %ecx\n"
    "  xorl %edx, %edx\n"
    "  xorl %r8d, %r8d\n"
    "  xorl %r9d, %r9d\n"
    "  call *__imp_RaiseException(%rip)\n"
    "  nop\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    "  .seh_handler ZrtTestCountUnwinds, @unwind\n"
    ".seh_endproc\n");

void RaiseInsideAHandlerFrame(void* unwinds) { ZrtTestRaiseInsideAHandlerFrame(unwinds); }
#endif

TEST(SehGuardTest, UnwindsTheFramesRegisteredInsideTheCall) {
  void* const head = ExceptionListHead();
  int unwinds = 0;
  std::uint32_t code = 0;
  EXPECT_FALSE(CallGuarded(&RaiseInsideAHandlerFrame, &unwinds, code));
  EXPECT_EQ(code, 0xE0009999u);
  EXPECT_EQ(unwinds, 1);
  EXPECT_EQ(ExceptionListHead(), head);
}

// Processor faults are not the guard's business: the process's last-chance
// filter sees them. A raised (hence continuable) access violation lets the
// filter resume the call.
DWORD g_filtered = 0;
LONG WINAPI ResumeFilter(EXCEPTION_POINTERS* pointers) {
  g_filtered = pointers->ExceptionRecord->ExceptionCode;
  return EXCEPTION_CONTINUE_EXECUTION;
}
void RaiseAccessViolation(void* resumed) {
  ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  *static_cast<bool*>(resumed) = true;
}

TEST(SehGuardTest, LetsProcessorFaultsPass) {
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(&ResumeFilter);
  g_filtered = 0;
  bool resumed = false;
  std::uint32_t code = 0;
  EXPECT_TRUE(CallGuarded(&RaiseAccessViolation, &resumed, code));
  ::SetUnhandledExceptionFilter(previous);
  EXPECT_TRUE(resumed);
  EXPECT_EQ(g_filtered, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

class PostAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kCourierConfig);
    RegistryWriter config(HKEY_LOCAL_MACHINE, kCourierConfig);
    const std::string record = folder_.File("posts.jsonl");
    config.SetString(L"RecordFile", std::wstring(record.begin(), record.end()));
  }
  void TearDown() override { DeleteKeyTree(HKEY_LOCAL_MACHINE, kCourierConfig); }

  static void Answers(const std::wstring& json) {
    RegistryWriter(HKEY_LOCAL_MACHINE, kCourierConfig).SetString(L"Answers", json);
  }

  void LoadDouble() {
    ASSERT_TRUE(post_->LoadLibraryA((ProgramFolder() + "zCourier.dll").c_str()));
    ASSERT_TRUE(post_->GetProcAddress("WebPostData"));
  }

  static std::array<port::WideText, 7> Texts() {
    return {u"https://status.example/tfr.asp?mmid=1",
            u"<status>\n\t\u00e4</status>",
            u"N",
            u"",
            u"",
            u"",
            u""};
  }

  std::string Records() { return ReadFileBytes(folder_.File("posts.jsonl")); }

  ScratchFolder folder_{"zrt-post"};
  std::unique_ptr<port::PostLibrary> post_ = MakePostLibrary();
};

constexpr std::uint32_t kBound = 60000;

TEST_F(PostAdapterTest, WithoutALibraryThereIsNoEntryPoint) {
  EXPECT_FALSE(post_->GetProcAddress("WebPostData"));
  EXPECT_FALSE(post_->LoadLibraryA(folder_.File("zCourier.dll").c_str()));
  EXPECT_EQ(::GetLastError(), port::err::kModNotFound);
  EXPECT_FALSE(post_->GetProcAddress("WebPostData"));
}

TEST_F(PostAdapterTest, LooksUpExportsByTheirExactName) {
  LoadDouble();
  EXPECT_FALSE(post_->GetProcAddress("webpostdata"));
  EXPECT_EQ(::GetLastError(), port::err::kProcNotFound);
  EXPECT_TRUE(post_->GetProcAddress("WebPostData"));
}

TEST_F(PostAdapterTest, PassesSevenTextsAndReadsTheResultVariants) {
  Answers(
      LR"([{"result": "1"}, {"result": "0", "error": "busy", "further": "later"},
               {"result": 1, "error": null}])");
  LoadDouble();

  port::WebPostResults results;
  ASSERT_EQ(post_->WebPostData(Texts(), results, kBound), port::CallOutcome::Returned);
  EXPECT_EQ(results.result.kind, port::VariantResult::Kind::Text);
  EXPECT_EQ(results.result.text, u"1");
  EXPECT_EQ(results.error.kind, port::VariantResult::Kind::Empty);
  EXPECT_EQ(results.further.kind, port::VariantResult::Kind::Empty);

  ASSERT_EQ(post_->WebPostData(Texts(), results, kBound), port::CallOutcome::Returned);
  EXPECT_EQ(results.result.text, u"0");
  EXPECT_EQ(results.error.kind, port::VariantResult::Kind::Text);
  EXPECT_EQ(results.error.text, u"busy");
  EXPECT_EQ(results.further.text, u"later");

  for (int repeat = 0; repeat < 2; ++repeat) {  // the last answer repeats
    ASSERT_EQ(post_->WebPostData(Texts(), results, kBound), port::CallOutcome::Returned);
    EXPECT_EQ(results.result.kind, port::VariantResult::Kind::Other);
    EXPECT_EQ(results.error.kind, port::VariantResult::Kind::Empty);
  }

  const std::string records = Records();
  EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 4);
  // UTF-8, one JSON object per line.
  EXPECT_NE(records.find("\"texts\":[\"https://status.example/tfr.asp?mmid=1\","
                         "\"<status>\\n\\t\xc3\xa4</status>\",\"N\",\"\",\"\",\"\",\"\"]"),
            std::string::npos)
      << records;
}

TEST_F(PostAdapterTest, AnEntryPointThatRaisesIsReportedAndTheProgramGoesOn) {
  Answers(LR"([{"raises": true}, {"result": "1"}])");
  LoadDouble();
  void* const head = ExceptionListHead();

  port::WebPostResults results;
  results.result.kind = port::VariantResult::Kind::Other;
  EXPECT_EQ(post_->WebPostData(Texts(), results, kBound), port::CallOutcome::Raised);
  EXPECT_EQ(results.result.kind, port::VariantResult::Kind::Empty);
  EXPECT_EQ(ExceptionListHead(), head);

  ASSERT_EQ(post_->WebPostData(Texts(), results, kBound), port::CallOutcome::Returned);
  EXPECT_EQ(results.result.text, u"1");
  EXPECT_NE(Records().find(R"("outcome":"raised")"), std::string::npos);
}

TEST_F(PostAdapterTest, AnEntryPointThatNeverReturnsIsAbandonedAtTheBound) {
  Answers(LR"([{"hangs": true}])");
  LoadDouble();
  port::WebPostResults results;
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(post_->WebPostData(Texts(), results, 300), port::CallOutcome::TimedOut);
  const DWORD waited = ::GetTickCount() - start;
  EXPECT_GE(waited, 250u);
  EXPECT_LT(waited, 10000u);
  EXPECT_EQ(results.result.kind, port::VariantResult::Kind::Empty);
  EXPECT_NE(Records().find(R"("outcome":"hung")"), std::string::npos);
}

}  // namespace
}  // namespace zrt::win32
