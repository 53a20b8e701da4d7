// A stand-in for the post library under Wine. It records every post and
// answers as a scenario configured it, in the same terms as the simulated
// machine's post library.
//
// Configuration under HKLM\Software\ZrtTestDoubles\zCourier:
//   RecordFile  REG_SZ  where the posts are appended; default
//                       zCourier.posts.jsonl beside this library
//   Answers     REG_SZ  a JSON array of answers, one per call, the last one
//                       repeating; default [{"result": "1"}]
//
// The calls are counted in the record file: the n-th post it holds is
// answered with the n-th answer. A scenario that starts with a fresh record
// file therefore starts with the first answer, and a later run goes on
// where the earlier one stopped, as on the simulated machine.
//
// An answer is an object with the optional members "result", "error" and
// "further" (a text becomes a BSTR, any other value a variant of another
// type, a missing member or null leaves the variant empty), "raises"
// (true: the call raises a structured exception instead of returning),
// "crashes" (true: the call writes through a null pointer, an access
// violation) and "hangs" (true: the call never returns).
//
// Each call first appends one line of JSON (UTF-8) to the record file:
//   {"library": ..., "call": n, "texts": [seven texts, null for a
//    variant that is not a text], "answer": {...},
//    "outcome": "returned"|"raised"|"crashed"|"hung"}
#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "double_config.h"

namespace {

using Json = nlohmann::json;
using zrt::doubles::AppendToFile;
using zrt::doubles::ConfigKey;
using zrt::doubles::FromUtf8;
using zrt::doubles::ModulePath;
using zrt::doubles::ReadString;
using zrt::doubles::ToUtf8;

// The code of the exception an answer with "raises" throws.
constexpr DWORD kRaisedCode = 0xE0C0DE01;

HMODULE g_module = nullptr;
// Read at run time, so that the compiler neither warns about the store
// through it nor turns the store into a trap instruction.
volatile std::uintptr_t g_unmapped = 16;

Json AnswerFor(unsigned call) {
  Json answer = Json::object({{"result", "1"}});
  const auto configured = ReadString(HKEY_LOCAL_MACHINE, ConfigKey(L"zCourier"), L"Answers");
  if (!configured) return answer;
  const Json answers = Json::parse(ToUtf8(*configured), nullptr, false);
  if (answers.is_array() && !answers.empty()) {
    answer = answers[std::min<std::size_t>(call - 1, answers.size() - 1)];
  }
  return answer;
}

// Whether the answer holds `name` as true.
bool Says(const Json& answer, const char* name) {
  if (!answer.is_object()) return false;
  const auto member = answer.find(name);
  return member != answer.end() && member->is_boolean() && member->get<bool>();
}

Json TextOf(const VARIANT& value) {
  if (value.vt != VT_BSTR) return nullptr;
  if (value.bstrVal == nullptr) return "";
  return ToUtf8(value.bstrVal, ::SysStringLen(value.bstrVal));
}

// The number of posts the record file holds (one per line).
unsigned RecordedCalls(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  unsigned lines = 0;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    lines += static_cast<unsigned>(std::count(buffer, buffer + read, '\n'));
  }
  ::CloseHandle(file);
  return lines;
}

// Fills a result variant from an answer member.
void Fill(VARIANT* target, const Json& answer, const char* name) {
  if (target == nullptr || !answer.is_object()) return;
  const auto member = answer.find(name);
  if (member == answer.end() || member->is_null()) return;
  ::VariantInit(target);
  if (member->is_string()) {
    target->vt = VT_BSTR;
    target->bstrVal = ::SysAllocString(FromUtf8(member->get<std::string>()).c_str());
  } else if (member->is_boolean()) {
    target->vt = VT_BOOL;
    target->boolVal = member->get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    target->vt = VT_I4;
    target->lVal = member->is_number() ? member->get<long>() : 0;
  }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

long __stdcall DoubleWebPostData(VARIANT url, VARIANT document, VARIANT mode, VARIANT extra1,
                                 VARIANT extra2, VARIANT extra3, VARIANT extra4, VARIANT* result,
                                 VARIANT* error, VARIANT* further) {
  const std::wstring recordFile =
      zrt::doubles::RecordFile(L"zCourier", g_module, L"zCourier.posts.jsonl");
  const unsigned call = RecordedCalls(recordFile) + 1;
  const Json answer = AnswerFor(call);
  const bool raises = Says(answer, "raises");

  Json record = Json::object();
  record["library"] = ToUtf8(ModulePath(g_module));
  record["call"] = call;
  record["texts"] = Json::array({TextOf(url), TextOf(document), TextOf(mode), TextOf(extra1),
                                 TextOf(extra2), TextOf(extra3), TextOf(extra4)});
  record["answer"] = answer;
  record["outcome"] = Says(answer, "crashes") ? "crashed"
                      : Says(answer, "hangs") ? "hung"
                      : raises                ? "raised"
                                              : "returned";
  AppendToFile(recordFile, record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");

  // A store to an address no process maps: an access violation.
  if (Says(answer, "crashes")) *reinterpret_cast<volatile int*>(g_unmapped) = 1;
  while (Says(answer, "hangs")) ::Sleep(INFINITE);
  if (raises) ::RaiseException(kRaisedCode, 0, 0, nullptr);
  Fill(result, answer, "result");
  Fill(error, answer, "error");
  Fill(further, answer, "further");
  return S_OK;
}

}  // extern "C"
