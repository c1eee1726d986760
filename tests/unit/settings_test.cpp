#include "core/settings.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

#include "core/error.h"
#include "core/interval_timer.h"
#include "tests/support/expect_error.h"
#include "tests/support/fake_timer.h"
#include "tests/support/memory_registry.h"

namespace korvex {
namespace {

using namespace std::literals;
using testing::FakeTimer;
using testing::KorErrorOf;
using testing::MemoryRegistry;
using testing::ThrowsKorError;

// What the program held before the read; a field that keeps one of these was not refreshed.
constexpr TextView kOldUser = u"alter Benutzer";
constexpr TextView kOldPassword = u"altes Passwort";
constexpr TextView kOldHost = u"alt.example.net";
constexpr std::int32_t kOldInterval = 120000;
constexpr TextView kOldTransport = u"HTTP";
constexpr TextView kOldSaved = u"alt";
constexpr std::uint32_t kOldTimer = 1000;

// A complete key as the setup dialog leaves it.
constexpr TextView kUser = u"m\u00FCller";
constexpr TextView kStoredPassword = u"6D6E6F";
constexpr TextView kPassword = u"abc";
constexpr TextView kHost = u"haus.example.net";
constexpr std::uint32_t kMinutes = 5;
constexpr TextView kTransport = u"HTTPS";
constexpr TextView kSaved = u"Ja";

void StoreComplete(MemoryRegistry& r) {
  r.SetString(kValueBenutzername, kUser);
  r.SetString(kValuePasswort, kStoredPassword);
  r.SetString(kValueHostname, kHost);
  r.SetDword(kValueUpdateIntervall, kMinutes);
  r.SetString(kValueUpdateart, kTransport);
  r.SetString(kValueEinstellungen, kSaved);
}

struct ReadCase {
  const char* state;
  void (*store)(MemoryRegistry&);
  TextView benutzername;
  TextView passwort;
  TextView hostname;
  std::int32_t updateIntervall;
  TextView updateart;
  TextView einstellungen;
  std::uint32_t timer;
};

constexpr ReadCase kReadCases[] = {
    {"complete key", StoreComplete, kUser, kPassword, kHost, 300000, kTransport, kSaved, 300000},
    {"no key", [](MemoryRegistry&) {}, u"", u"", u"", kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"key that does not open", [](MemoryRegistry& r) { StoreComplete(r); r.denyAccess = true; },
     u"", u"", u"", kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"missing Benutzername",
     [](MemoryRegistry& r) { StoreComplete(r); r.values.erase(Text(kValueBenutzername)); },
     u"", kPassword, kHost, 300000, kTransport, kSaved, 300000},
    {"missing UpdateIntervall",
     [](MemoryRegistry& r) { StoreComplete(r); r.values.erase(Text(kValueUpdateIntervall)); },
     kUser, kPassword, kHost, kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"missing Updateart",
     [](MemoryRegistry& r) { StoreComplete(r); r.values.erase(Text(kValueUpdateart)); },
     kUser, kPassword, kHost, 300000, u"", kSaved, 300000},
    {"Benutzername as REG_DWORD",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueBenutzername, 7); },
     kOldUser, kOldPassword, kOldHost, kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"Passwort as REG_BINARY",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetRaw(kValuePasswort, kRegBinary, {'6', 0, 'D', 0}); },
     kUser, kOldPassword, kOldHost, kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"Hostname as REG_MULTI_SZ",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetUtf16Data(kValueHostname, kRegMultiSz, u"a\0\0"sv); },
     kUser, kPassword, kOldHost, kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"UpdateIntervall as REG_SZ text 5",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetString(kValueUpdateIntervall, u"5"); },
     kUser, kPassword, kHost, kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"UpdateIntervall as REG_BINARY of 4 bytes",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetRaw(kValueUpdateIntervall, kRegBinary, {5, 0, 0, 0}); },
     kUser, kPassword, kHost, kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"UpdateIntervall as REG_DWORD of 8 bytes",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetRaw(kValueUpdateIntervall, kRegDword, {5, 0, 0, 0, 0, 0, 0, 0}); },
     kUser, kPassword, kHost, kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"UpdateIntervall as REG_DWORD of 2 bytes",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetRaw(kValueUpdateIntervall, kRegDword, {5, 0}); },
     kUser, kPassword, kHost, kOldInterval, kOldTransport, kOldSaved, kOldTimer},
    {"Updateart as REG_DWORD",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueUpdateart, 1); },
     kUser, kPassword, kHost, 300000, kOldTransport, kOldSaved, 300000},
    {"Einstellungen as REG_DWORD",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueEinstellungen, 1); },
     kUser, kPassword, kHost, 300000, kTransport, kOldSaved, 300000},
    {"Benutzername with text after an embedded NUL",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetUtf16Data(kValueBenutzername, kRegSz, u"abc\0def\0"sv); },
     u"abc", kPassword, kHost, 300000, kTransport, kSaved, 300000},
    {"Hostname without its NUL",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetUtf16Data(kValueHostname, kRegSz, u"ohne.nul"); },
     kUser, kPassword, u"ohne.nul", 300000, kTransport, kSaved, 300000},
    {"Hostname with an odd trailing byte",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetRaw(kValueHostname, kRegSz, {'a', 0, 'b', 0, 'c'}); },
     kUser, kPassword, u"ab", 300000, kTransport, kSaved, 300000},
    {"Updateart as REG_EXPAND_SZ, left unexpanded",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetString(kValueUpdateart, u"%SystemRoot%", kRegExpandSz); },
     kUser, kPassword, kHost, 300000, u"%SystemRoot%", kSaved, 300000},
    {"Benutzername empty",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetString(kValueBenutzername, u""); },
     u"", kPassword, kHost, 300000, kTransport, kSaved, 300000},
    {"Benutzername of size 0 and a foreign type: empty, no failure",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetRaw(kValueBenutzername, kRegBinary, {}); },
     u"", kPassword, kHost, 300000, kTransport, kSaved, 300000},
    {"Passwort in lower-case digits",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetString(kValuePasswort, u"6d6e6f"); },
     kUser, kPassword, kHost, 300000, kTransport, kSaved, 300000},
    {"value names in another case",
     [](MemoryRegistry& r) { StoreComplete(r); r.values.erase(Text(kValueHostname)); r.SetString(u"HOSTNAME", u"gross"); },
     kUser, kPassword, u"gross", 300000, kTransport, kSaved, 300000},
    {"UpdateIntervall 0 stops the timer",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueUpdateIntervall, 0); },
     kUser, kPassword, kHost, 0, kTransport, kSaved, 0},
    {"UpdateIntervall negative counts as 0",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueUpdateIntervall, static_cast<std::uint32_t>(-5)); },
     kUser, kPassword, kHost, 0, kTransport, kSaved, 0},
    {"UpdateIntervall of the most negative integer counts as 0",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueUpdateIntervall, 0x80000000u); },
     kUser, kPassword, kHost, 0, kTransport, kSaved, 0},
    {"UpdateIntervall at the largest whole minutes that fit",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueUpdateIntervall, 35791); },
     kUser, kPassword, kHost, 2147460000, kTransport, kSaved, 2147460000},
    {"UpdateIntervall one minute beyond is held there",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueUpdateIntervall, 35792); },
     kUser, kPassword, kHost, 2147460000, kTransport, kSaved, 2147460000},
    {"UpdateIntervall of the largest integer is held there",
     [](MemoryRegistry& r) { StoreComplete(r); r.SetDword(kValueUpdateIntervall, 0x7FFFFFFF); },
     kUser, kPassword, kHost, 2147460000, kTransport, kSaved, 2147460000},
};

TEST(ReadEinstellungenTest, RefreshesFieldsUpToTheFirstValueThatCannotBeRead) {
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.state);
    MemoryRegistry registry;
    c.store(registry);
    UpdateSettings settings{Text(kOldUser), Text(kOldPassword), Text(kOldHost), kOldInterval,
                            Text(kOldTransport), Text(kOldSaved)};
    FakeTimer timer;
    timer.interval = kOldTimer;

    ReadEinstellungen(registry, settings, timer);

    EXPECT_EQ(settings.Benutzername, c.benutzername);
    EXPECT_EQ(settings.Passwort, c.passwort);
    EXPECT_EQ(settings.Hostname, c.hostname);
    EXPECT_EQ(settings.UpdateIntervall, c.updateIntervall);
    EXPECT_EQ(settings.Updateart, c.updateart);
    EXPECT_EQ(settings.Einstellungen, c.einstellungen);
    EXPECT_EQ(timer.interval, c.timer);
    EXPECT_TRUE(timer.enabled);
    EXPECT_EQ(registry.openKeys, 0);
  }
}

TEST(ReadEinstellungenTest, FirstReadCreatesTheEmptyKey) {
  MemoryRegistry registry;
  UpdateSettings settings;
  FakeTimer timer;
  ReadEinstellungen(registry, settings, timer);
  EXPECT_TRUE(registry.keyExists);
  EXPECT_TRUE(registry.values.empty());
  EXPECT_EQ(settings.Einstellungen, u"");
}

// Every read, by either program, leaves the key with the protected access rights: a key it
// created, and one that was stored before the rights were set.
TEST(ReadEinstellungenTest, LeavesTheKeyProtected) {
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "stored before, unprotected" : "created by the read");
    MemoryRegistry registry;
    if (existed) registry.SetString(kValueBenutzername, u"anna");
    UpdateSettings settings;
    FakeTimer timer;
    ReadEinstellungen(registry, settings, timer);
    EXPECT_TRUE(registry.secured);
    EXPECT_EQ(settings.Benutzername, existed ? u"anna" : u"");
    ReadEinstellungen(registry, settings, timer);
    EXPECT_EQ(registry.securedCount, 1) << "a protected key is left as it is";
  }
  MemoryRegistry registry;
  ReadServiceHost(registry);
  EXPECT_TRUE(registry.secured);
}

// Reads never fail: a key whose rights cannot be set is read all the same.
TEST(ReadEinstellungenTest, AKeyThatCannotBeProtectedIsStillRead) {
  MemoryRegistry registry;
  registry.secureFails = true;
  registry.SetString(kValueBenutzername, u"anna");
  UpdateSettings settings;
  FakeTimer timer;
  ReadEinstellungen(registry, settings, timer);
  EXPECT_EQ(settings.Benutzername, u"anna");
}

// A countdown the platform refuses to arm, as when no timer is left.
class RefusingDriver : public TimerDriver {
 public:
  void Arm(std::uint32_t) override { throw KorError(kTimerUnavailable); }
  void Disarm() override {}
};

TEST(ReadEinstellungenTest, ATimerThatCannotBeArmedGoesToTheHostAndTheReadGoesOn) {
  MemoryRegistry registry;
  registry.SetDword(kValueUpdateIntervall, 5);
  registry.SetString(kValueUpdateart, u"HTTPS");
  registry.SetString(kValueEinstellungen, u"Ja");
  // Enabled at interval 0, so that nothing is armed until the read sets a new interval.
  IntervalTimer timer(std::make_unique<RefusingDriver>(), 0);
  timer.SetEnabled(true);
  UpdateSettings settings;
  std::vector<Text> reported;
  EXPECT_NO_THROW(ReadEinstellungen(registry, settings, timer,
                                    [&](const KorError& failure) { reported.push_back(failure.Message()); }));
  EXPECT_EQ(reported, std::vector<Text>{kTimerUnavailable});
  EXPECT_EQ(settings.UpdateIntervall, 300000);
  EXPECT_EQ(settings.Updateart, u"HTTPS");
  EXPECT_EQ(settings.Einstellungen, u"Ja");

  // Without a handler the failure is dropped, never raised.
  registry.SetDword(kValueUpdateIntervall, 6);
  EXPECT_NO_THROW(ReadEinstellungen(registry, settings, timer));
}

SettingsInput CompleteInput() {
  return {u"m\u00FCller", u"abc", u"haus.example.net", kTransportHttps, u"5"};
}

const std::vector<Text> kWriteOrder = {u"Benutzername", u"Passwort", u"Hostname",
                                       u"Einstellungen", u"Updateart", u"UpdateIntervall"};

TEST(WriteEinstellungenTest, WritesEveryValueInOrderAfterRestrictingTheKey) {
  MemoryRegistry registry;
  WriteEinstellungen(registry, CompleteInput());

  EXPECT_EQ(registry.writes, kWriteOrder);
  EXPECT_EQ(registry.securedCount, 1);
  EXPECT_EQ(registry.StoredString(kValueBenutzername), u"m\u00FCller");
  EXPECT_EQ(registry.StoredString(kValuePasswort), u"6D6E6F");
  EXPECT_EQ(registry.StoredString(kValueHostname), u"haus.example.net");
  EXPECT_EQ(registry.StoredString(kValueEinstellungen), u"Ja");
  EXPECT_EQ(registry.StoredString(kValueUpdateart), u"HTTPS");
  EXPECT_EQ(registry.StoredDword(kValueUpdateIntervall), 5u);
  EXPECT_EQ(registry.openKeys, 0);
}

TEST(WriteEinstellungenTest, WhatWasSavedReadsBack) {
  MemoryRegistry registry;
  SettingsInput input = CompleteInput();
  input.Passwort = u"K\u00F6ln \u20AC\U0001F600";
  input.Transport = kTransportHttp;
  input.Intervall = u"60";
  WriteEinstellungen(registry, input);

  UpdateSettings settings;
  FakeTimer timer;
  ReadEinstellungen(registry, settings, timer);
  EXPECT_EQ(settings.Benutzername, input.Benutzername);
  EXPECT_EQ(settings.Passwort, input.Passwort);
  EXPECT_EQ(settings.Hostname, input.Hostname);
  EXPECT_EQ(settings.UpdateIntervall, 3600000);
  EXPECT_EQ(settings.Updateart, u"HTTP");
  EXPECT_EQ(settings.Einstellungen, u"Ja");
  EXPECT_EQ(timer.interval, 3600000u);
}

struct TransportCase {
  const char* state;
  int transport;
  std::optional<TextView> storedBefore;
  std::optional<TextView> storedAfter;
};

TEST(WriteEinstellungenTest, UpdateartFollowsTheSelectedTransportOnly) {
  static constexpr TransportCase kCases[] = {
      {"first entry", kTransportHttps, u"HTTP", u"HTTPS"},
      {"second entry", kTransportHttp, u"HTTPS", u"HTTP"},
      {"none, stored value stays", kTransportNone, u"HTTP", u"HTTP"},
      {"none on a first save", kTransportNone, std::nullopt, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.state);
    MemoryRegistry registry;
    if (c.storedBefore) registry.SetString(kValueUpdateart, *c.storedBefore);
    SettingsInput input = CompleteInput();
    input.Transport = c.transport;
    WriteEinstellungen(registry, input);
    std::optional<Text> stored = registry.StoredString(kValueUpdateart);
    EXPECT_EQ(stored.has_value(), c.storedAfter.has_value());
    if (stored && c.storedAfter) {
      EXPECT_EQ(*stored, *c.storedAfter);
    }
    EXPECT_TRUE(registry.Has(kValueUpdateIntervall));
  }
}

TEST(WriteEinstellungenTest, AFailedWriteEndsThePassAndKeepsWhatWasWritten) {
  for (std::size_t failing = 0; failing < kWriteOrder.size(); ++failing) {
    const Text& name = kWriteOrder[failing];
    SCOPED_TRACE(ToUtf8(name));
    MemoryRegistry registry;
    registry.SetDword(kValueUpdateIntervall, 42);
    registry.failingWrites.insert(name);
    EXPECT_TRUE(ThrowsKorError([&] { WriteEinstellungen(registry, CompleteInput()); },
                               Format(kWriteFailedMessage, {name})));
    EXPECT_EQ(registry.writes, std::vector<Text>(kWriteOrder.begin(), kWriteOrder.begin() + failing));
    if (name != kValueUpdateIntervall) {
      EXPECT_EQ(registry.StoredDword(kValueUpdateIntervall), 42u);
    }
    EXPECT_EQ(registry.openKeys, 0);
  }
}

TEST(WriteEinstellungenTest, TheFailureNamesTheValueInGerman) {
  MemoryRegistry registry;
  registry.failingWrites.insert(Text(kValueHostname));
  EXPECT_TRUE(ThrowsKorError([&] { WriteEinstellungen(registry, CompleteInput()); },
                             u"Fehler beim Setzen der Daten f\u00FCr 'Hostname'"));
}

// The registry's own status travels with the message, so that a caller can tell a refused save
// (access denied) from one that failed for another reason.
TEST(WriteEinstellungenTest, TheFailureCarriesTheRegistryStatus) {
  struct Case {
    const char* name;
    bool secureFails;
    TextView failingWrite;
    std::uint32_t status;
  };
  const Case kCases[] = {
      {"refused write", false, kValueHostname, 5},             // ERROR_ACCESS_DENIED
      {"failed write", false, kValueUpdateIntervall, 1009},    // ERROR_BADDB
      {"key that cannot be restricted", true, u"", 1307},      // ERROR_INVALID_OWNER
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryRegistry registry;
    registry.secureFails = c.secureFails;
    if (!c.failingWrite.empty()) registry.failingWrites.insert(Text(c.failingWrite));
    registry.failureStatus = c.status;
    const std::optional<KorError> error = KorErrorOf([&] { WriteEinstellungen(registry, CompleteInput()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->OsCode(), c.status);
  }
}

TEST(WriteEinstellungenTest, WithoutAccessToTheKeyTheFirstWriteFails) {
  MemoryRegistry registry;
  registry.denyAccess = true;
  EXPECT_TRUE(ThrowsKorError([&] { WriteEinstellungen(registry, CompleteInput()); },
                             Format(kWriteFailedMessage, {kValueBenutzername})));
  EXPECT_TRUE(registry.values.empty());
}

TEST(WriteEinstellungenTest, NothingIsWrittenToAKeyThatCannotBeRestricted) {
  MemoryRegistry registry;
  registry.secureFails = true;
  EXPECT_TRUE(ThrowsKorError([&] { WriteEinstellungen(registry, CompleteInput()); },
                             Format(kSecureFailedMessage, {kSettingsKeyPath})));
  EXPECT_TRUE(registry.writes.empty());
}

struct IntervalCase {
  TextView text;
  std::optional<std::uint32_t> stored;  // nothing: not an integer
};

TEST(WriteEinstellungenTest, TheIntervalTextMustBeAStrictDecimalInteger) {
  static constexpr IntervalCase kCases[] = {
      {u"5", 5},
      {u"+7", 7},
      {u"0060", 60},
      {u"0", 0},
      {u"-3", static_cast<std::uint32_t>(-3)},  // no range test
      {u"2147483647", 0x7FFFFFFF},
      {u"-2147483648", 0x80000000},
      {u"", std::nullopt},
      {u"+", std::nullopt},
      {u"-", std::nullopt},
      {u"5,0", std::nullopt},
      {u"5.0", std::nullopt},
      {u" 5", std::nullopt},
      {u"5 ", std::nullopt},
      {u"abc", std::nullopt},
      {u"0x10", std::nullopt},
      {u"$10", std::nullopt},
      {u"2147483648", std::nullopt},
      {u"-2147483649", std::nullopt},
      {u"99999999999999999999", std::nullopt},
      {u"\u0665", std::nullopt},  // an Arabic-Indic five is no decimal digit here
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.text));
    MemoryRegistry registry;
    registry.SetDword(kValueUpdateIntervall, 42);
    SettingsInput input = CompleteInput();
    input.Intervall = Text(c.text);
    if (c.stored) {
      WriteEinstellungen(registry, input);
      EXPECT_EQ(registry.StoredDword(kValueUpdateIntervall), *c.stored);
      continue;
    }
    EXPECT_TRUE(ThrowsKorError([&] { WriteEinstellungen(registry, input); },
                               Format(kNotAnIntegerMessage, {c.text})));
    // Nothing is written, so no "Ja" stands beside the old interval.
    EXPECT_TRUE(registry.writes.empty());
    EXPECT_FALSE(registry.Has(kValueEinstellungen));
    EXPECT_EQ(registry.StoredDword(kValueUpdateIntervall), 42u);
  }
}

TEST(ReadServiceHostTest, AStoredAddressReplacesTheBuiltInOne) {
  MemoryRegistry none;
  const Text builtIn = ReadServiceHost(none);
  EXPECT_FALSE(builtIn.empty());

  MemoryRegistry stored;
  stored.SetString(kValueServeradresse, u"localhost:9443");
  EXPECT_EQ(ReadServiceHost(stored), u"localhost:9443");

  MemoryRegistry empty;
  empty.SetString(kValueServeradresse, u"");
  EXPECT_EQ(ReadServiceHost(empty), builtIn);

  MemoryRegistry wrongType;
  wrongType.SetDword(kValueServeradresse, 8080);
  EXPECT_EQ(ReadServiceHost(wrongType), builtIn);

  MemoryRegistry denied;
  denied.SetString(kValueServeradresse, u"localhost:9443");
  denied.denyAccess = true;
  EXPECT_EQ(ReadServiceHost(denied), builtIn);
}

}  // namespace
}  // namespace korvex
