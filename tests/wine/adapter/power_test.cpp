// The power-profile adapter against the powrprof double, which keeps the
// schemes in the registry the way Windows XP does.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/win32/win32_adapters.h"
#include "wine_test_support.h"

namespace zrt::win32 {
namespace {

using wine_test::DeleteKeyTree;
using wine_test::KeyExists;
using wine_test::RegistryWriter;

const wchar_t* const kPowerCfg = L"Control Panel\\PowerCfg";
const wchar_t* const kPolicies = L"Control Panel\\PowerCfg\\PowerPolicies";
const wchar_t* const kInjection = L"Software\\ZrtTestDoubles\\powrprof";
// The machine halves of the schemes and of the global policy.
const wchar_t* const kMachineHalves[] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\PowerPolicies",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\GlobalPowerPolicy"};

struct Scheme {
  std::uint32_t index;
  port::WideText name;
  port::WideText description;
};

class PowerAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The double must be the one loaded, not Wine's own library.
    char loaded[MAX_PATH] = {};
    ::GetModuleFileNameA(::GetModuleHandleA("powrprof.dll"), loaded, MAX_PATH);
    ASSERT_EQ(::lstrcmpiA(loaded, (wine_test::ProgramFolder() + "powrprof.dll").c_str()), 0)
        << loaded << ": run with WINEDLLOVERRIDES=powrprof=n and the double beside the program";
    TearDown();
    AddScheme(0, L"Home/Office Desk", L"Desk");
    AddScheme(2, L"Pr\u00e4sentation", L"Beamer");
    AddScheme(10, L"Night Shift", L"Overnight jobs");
    RegistryWriter(HKEY_CURRENT_USER, kPowerCfg).SetString(L"CurrentPowerPolicy", L"0");
  }
  void TearDown() override {
    DeleteKeyTree(HKEY_CURRENT_USER, kPowerCfg);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kInjection);
    for (const wchar_t* key : kMachineHalves) DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
  }

  static void AddScheme(int index, const std::wstring& name, const std::wstring& description) {
    RegistryWriter scheme(HKEY_CURRENT_USER,
                          std::wstring(kPolicies) + L"\\" + std::to_wstring(index));
    scheme.SetString(L"Name", name);
    scheme.SetString(L"Description", description);
    scheme.SetBytes(L"Policies", REG_BINARY, std::vector<BYTE>(8, 0));
  }

  static void Inject(const wchar_t* call, DWORD value) {
    RegistryWriter(HKEY_LOCAL_MACHINE, kInjection).SetDword(call, value);
  }

  std::vector<Scheme> Enumerate(bool* result = nullptr) {
    std::vector<Scheme> seen;
    const bool ok = power_->EnumPwrSchemes(
        [&](std::uint32_t index, const port::WideText& name, const port::WideText& description) {
          seen.push_back({index, name, description});
          return true;
        });
    if (result != nullptr) *result = ok;
    return seen;
  }

  std::unique_ptr<port::PowerProfile> power_ = MakePowerProfile();
};

TEST_F(PowerAdapterTest, EnumeratesSchemesInRegistryOrderAsWideTexts) {
  bool ok = false;
  const std::vector<Scheme> seen = Enumerate(&ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].index, 0u);
  EXPECT_EQ(seen[0].name, u"Home/Office Desk");
  EXPECT_EQ(seen[0].description, u"Desk");
  EXPECT_EQ(seen[1].index, 10u);  // "10" sorts before "2"
  EXPECT_EQ(seen[1].name, u"Night Shift");
  EXPECT_EQ(seen[2].index, 2u);
  EXPECT_EQ(seen[2].name, u"Pr\u00e4sentation");
  EXPECT_EQ(seen[2].description, u"Beamer");
}

TEST_F(PowerAdapterTest, NamesAndDescriptionsEndWhereTheirSizesSay) {
  Inject(L"UnterminatedTexts", 1);
  const std::vector<Scheme> seen = Enumerate();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].name, u"Home/Office Desk");
  EXPECT_EQ(seen[0].description, u"Desk");
  EXPECT_EQ(seen[2].name, u"Pr\u00e4sentation");
}

TEST_F(PowerAdapterTest, ACallbackThatDeclinesStopsTheEnumeration) {
  int calls = 0;
  EXPECT_TRUE(power_->EnumPwrSchemes(
      [&](std::uint32_t, const port::WideText&, const port::WideText&) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

TEST_F(PowerAdapterTest, AnExceptionFromTheCallbackReachesTheCallerAfterTheEnumeration) {
  int calls = 0;
  EXPECT_THROW(power_->EnumPwrSchemes(
                   [&](std::uint32_t, const port::WideText&, const port::WideText&) -> bool {
                     ++calls;
                     throw std::runtime_error("log full");
                   }),
               std::runtime_error);
  EXPECT_EQ(calls, 1);
  // The platform is still usable afterwards.
  EXPECT_EQ(Enumerate().size(), 3u);
}

TEST_F(PowerAdapterTest, ReadsTheActiveSchemeAndDeletesAnother) {
  std::uint32_t active = 99;
  ASSERT_TRUE(power_->GetActivePwrScheme(active));
  EXPECT_EQ(active, 0u);
  EXPECT_TRUE(power_->CanUserWritePwrScheme());

  EXPECT_TRUE(power_->DeletePwrScheme(10));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::wstring(kPolicies) + L"\\10"));
  EXPECT_EQ(Enumerate().size(), 2u);

  EXPECT_FALSE(power_->DeletePwrScheme(10));
  EXPECT_EQ(::GetLastError(), port::err::kFileNotFound);
  EXPECT_TRUE(power_->DeletePwrScheme(0));  // the active one too: refusing it is the caller's job
}

TEST_F(PowerAdapterTest, InjectedFailuresSetTheLastError) {
  Inject(L"EnumPwrSchemes", 1450);
  bool ok = true;
  EXPECT_TRUE(Enumerate(&ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_EQ(::GetLastError(), 1450u);

  Inject(L"CanUserWrite", 0);
  EXPECT_FALSE(power_->CanUserWritePwrScheme());
  EXPECT_EQ(::GetLastError(), port::err::kAccessDenied);
  EXPECT_FALSE(power_->DeletePwrScheme(10));
  EXPECT_EQ(::GetLastError(), port::err::kAccessDenied);

  Inject(L"GetActivePwrScheme", 31);
  std::uint32_t active = 0;
  EXPECT_FALSE(power_->GetActivePwrScheme(active));
  EXPECT_EQ(::GetLastError(), 31u);

  Inject(L"DeletePwrScheme", 5);
  EXPECT_FALSE(power_->DeletePwrScheme(2));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, std::wstring(kPolicies) + L"\\2"));
}

// Every byte of a record set, none alike with its neighbours.
template <typename Record>
Record Pattern(unsigned seed) {
  Record record;
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  for (std::size_t i = 0; i < sizeof(record); ++i)
    bytes[i] = static_cast<unsigned char>(seed + i * 7);
  return record;
}

template <typename Record>
bool SameBytes(const Record& a, const Record& b) {
  return std::memcmp(&a, &b, sizeof(Record)) == 0;
}

TEST_F(PowerAdapterTest, PolicyRecordsPassThroughByteForByte) {
  const auto policy = Pattern<port::POWER_POLICY>(1);
  std::uint32_t index = 11;
  ASSERT_TRUE(power_->WritePwrScheme(index, u"Field Work", u"Long days", policy));
  EXPECT_EQ(index, 11u);
  port::POWER_POLICY read = {};
  ASSERT_TRUE(power_->ReadPwrScheme(11, read));
  EXPECT_TRUE(SameBytes(read, policy));
  EXPECT_EQ(Enumerate().size(), 4u);

  const auto global = Pattern<port::GLOBAL_POWER_POLICY>(2);
  ASSERT_TRUE(power_->WriteGlobalPwrPolicy(global));
  RegistryWriter(HKEY_CURRENT_USER, kPowerCfg).SetString(L"CurrentPowerPolicy", L"11");
  port::GLOBAL_POWER_POLICY currentGlobal = {};
  port::POWER_POLICY current = {};
  ASSERT_TRUE(power_->GetCurrentPowerPolicies(currentGlobal, current));
  EXPECT_TRUE(SameBytes(currentGlobal, global));
  EXPECT_TRUE(SameBytes(current, policy));

  // Writing an existing index replaces that scheme.
  ASSERT_TRUE(
      power_->WritePwrScheme(index, u"Field Work", u"Short days", Pattern<port::POWER_POLICY>(3)));
  ASSERT_TRUE(power_->ReadPwrScheme(11, read));
  EXPECT_TRUE(SameBytes(read, Pattern<port::POWER_POLICY>(3)));
  EXPECT_EQ(Enumerate().size(), 4u);

  EXPECT_FALSE(power_->ReadPwrScheme(12, read));
  EXPECT_EQ(::GetLastError(), port::err::kFileNotFound);
}

TEST_F(PowerAdapterTest, CapabilitiesAndAllowedStatesAreTheConfiguredOnes) {
  const auto capabilities = Pattern<port::SYSTEM_POWER_CAPABILITIES>(4);
  const auto* bytes = reinterpret_cast<const BYTE*>(&capabilities);
  RegistryWriter(HKEY_LOCAL_MACHINE, kInjection)
      .SetBytes(L"Capabilities", REG_BINARY,
                std::vector<BYTE>(bytes, bytes + sizeof(capabilities)));
  port::SYSTEM_POWER_CAPABILITIES read = {};
  ASSERT_TRUE(power_->GetPwrCapabilities(read));
  EXPECT_TRUE(SameBytes(read, capabilities));

  EXPECT_EQ(power_->IsPwrHibernateAllowed(), 0);  // not configured
  Inject(L"HibernationAllowed", 2);               // handed out as it is, not as TRUE
  EXPECT_EQ(power_->IsPwrHibernateAllowed(), 2);
  Inject(L"StandbyAllowed", 1);
  EXPECT_EQ(power_->IsPwrSuspendAllowed(), 1);
}

TEST_F(PowerAdapterTest, NoPowerConfigurationMeansNoSchemes) {
  DeleteKeyTree(HKEY_CURRENT_USER, kPowerCfg);
  bool ok = true;
  EXPECT_TRUE(Enumerate(&ok).empty());
  EXPECT_FALSE(ok);
  std::uint32_t active = 0;
  EXPECT_FALSE(power_->GetActivePwrScheme(active));
  EXPECT_EQ(::GetLastError(), port::err::kFileNotFound);
}

}  // namespace
}  // namespace zrt::win32
