// The component's pieces linked straight into this program: the Windows platform of the check,
// the shared CurrentParameter, and the private form.
#include <process.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "check/datetime.h"
#include "check/failure.h"
#include "check/text.h"
#include "common.h"
#include "component/date_text.h"
#include "component/frmmain.h"
#include "component/local_clock.h"
#include "component/status_text.h"
#include "component/variant_text.h"
#include "component/velkor.h"
#include "harness.h"
#include "timesource/clockform.h"

namespace host {
namespace {

using brevun::Failure;
using brevun::FailureKind;
using brevun::LocalSeconds;
namespace component = brevun::component;

BOOL CALLBACK CountDialogWindow(HWND hwnd, LPARAM lp) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  if (wcscmp(name, L"brevun.ConfigurationDialog") == 0) ++*reinterpret_cast<int*>(lp);
  return TRUE;
}

// The dialog's windows of this thread, shown or hidden.
int CountDialogWindows() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), &CountDialogWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

// A rendered local reading reads back to the same second, across the day, the calendar and the
// automation date's odd negative half.
HOST_GROUP(datetext) {
  const component::OleDateTimeText text;
  std::vector<LocalSeconds> samples = {
      brevun::FromCivil({2024, 2, 29, 0, 0, 0}),     brevun::FromCivil({2024, 2, 29, 12, 0, 0}),
      brevun::FromCivil({2024, 12, 31, 23, 59, 59}), brevun::FromCivil({1999, 12, 31, 23, 59, 59}),
      brevun::FromCivil({1899, 12, 30, 0, 0, 1}),    brevun::FromCivil({1899, 12, 29, 6, 0, 0}),
      brevun::FromCivil({1800, 1, 1, 18, 30, 5}),    brevun::FromCivil({2036, 2, 7, 6, 28, 16}),
      brevun::FromCivil({2106, 2, 7, 6, 28, 16}),    brevun::FromCivil({9999, 12, 31, 23, 59, 59}),
      brevun::FromCivil({100, 1, 1, 0, 0, 0}),       brevun::FromCivil({1970, 1, 1, 0, 0, 0}),
  };
  std::mt19937_64 random(20261208);
  std::uniform_int_distribution<LocalSeconds> any(brevun::FromCivil({1900, 1, 1, 0, 0, 0}),
                                                  brevun::FromCivil({2200, 1, 1, 0, 0, 0}));
  for (int i = 0; i < 2000; ++i) samples.push_back(any(random));
  int mismatches = 0;
  for (const LocalSeconds t : samples) {
    const std::u16string rendered = text.Render(t);
    const auto back = text.Parse(rendered);
    if (!back || *back != t) {
      if (++mismatches <= 5) HOST_CHECK_MSG(false, Narrow(rendered) + " does not read back");
    }
  }
  HOST_CHECK_EQ(mismatches, 0);

  // Texts that are not date-times.
  for (const char16_t* bad :
       {u"", u" ", u"ERR: Timeout: no answer(60)", u"12:00:99", u"not a date"}) {
    HOST_CHECK_MSG(!text.Parse(bad).has_value(), Narrow(std::u16string(bad)));
  }
  // Whatever comes after a NUL is not read past: the whole text counts.
  const std::u16string withNul = text.Render(samples[0]) + std::u16string(1, u'\0') + u"junk";
  HOST_CHECK(!text.Parse(withNul).has_value());
  // Outside the automation range nothing is rendered.
  bool refused = false;
  try {
    text.Render(brevun::FromCivil({10000, 1, 1, 0, 0, 0}));
  } catch (const Failure&) {
    refused = true;
  }
  HOST_CHECK(refused);

  // Automation dates: a negative date counts its fraction forward from its day's midnight.
  HOST_CHECK(component::DateToLocalSeconds(-1.25) == brevun::FromCivil({1899, 12, 29, 6, 0, 0}));
  HOST_CHECK(component::DateToLocalSeconds(2.5) == brevun::FromCivil({1900, 1, 1, 12, 0, 0}));
  // Rounded to the nearest second, not cut.
  HOST_CHECK(component::DateToLocalSeconds(45000.0 + 0.9999 / 86400) ==
             component::DateToLocalSeconds(45000.0 + 1.0 / 86400));
  HOST_CHECK(!component::DateToLocalSeconds(3e6).has_value());
  HOST_CHECK(!component::DateToLocalSeconds(-7e5).has_value());

  // The clock agrees with the C runtime's local time.
  component::WindowsLocalClock clock;
  brevun::SystemLocalClock runtime;
  const LocalSeconds a = clock.Now();
  const LocalSeconds b = runtime.Now();
  HOST_CHECK_MSG(b - a >= 0 && b - a <= 1, std::to_string(a) + " vs " + std::to_string(b));
}

// The description of a failure lands in the check's texts; its kind decides the status a host
// receives (Err.Number 94, 13, 6).
using FailureSeen = std::pair<std::u16string, FailureKind>;

template <typename F>
FailureSeen FailureOf(F&& f) {
  try {
    f();
  } catch (const Failure& failure) {
    return {failure.description(), failure.kind()};
  }
  return {u"<no failure>", FailureKind::kOther};
}

// A server's time becomes local time by the zone rules of the local clock it is compared with,
// whatever TZ the process was given (the tests run this group under several).
HOST_GROUP(zone) {
  component::WindowsLocalClock clock;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const LocalSeconds before = clock.Now();
    const LocalSeconds converted =
        component::UtcToWindowsLocal(static_cast<std::int64_t>(std::time(nullptr)));
    const LocalSeconds after = clock.Now();
    HOST_CHECK_MSG(converted >= before - 1 && converted <= after + 1,
                   "UTC now on the local clock " + std::to_string(converted - before) +
                       " s from GetLocalTime");
  }
  // Outside the years the system converts, a failure rather than a made-up time.
  HOST_CHECK(FailureOf([] {
               component::UtcToWindowsLocal(brevun::FromCivil({1500, 1, 1, 0, 0, 0}));
             }).first != u"<no failure>");
}

// Filled by the enumeration below, which passes its callback nothing of ours.
std::vector<LCID>* g_locales = nullptr;

BOOL CALLBACK AddLocale(LPWSTR name) {
  g_locales->push_back(static_cast<LCID>(wcstoul(name, nullptr, 16)));
  return TRUE;
}

// Every locale's own date-time text keeps its seconds and reads back to the same second in
// that locale: day-month orders, 12-hour clocks, designators before the time, other scripts.
HOST_GROUP(locales) {
  std::vector<LCID> locales;
  g_locales = &locales;
  EnumSystemLocalesW(&AddLocale, LCID_INSTALLED);
  g_locales = nullptr;
  HOST_CHECK_MSG(locales.size() > 50, std::to_string(locales.size()) + " locales installed");
  const LocalSeconds samples[] = {
      brevun::FromCivil({2026, 12, 8, 0, 0, 1}),   brevun::FromCivil({2026, 12, 8, 11, 59, 59}),
      brevun::FromCivil({2026, 12, 8, 12, 0, 0}),  brevun::FromCivil({2026, 12, 8, 12, 30, 7}),
      brevun::FromCivil({2026, 3, 11, 15, 28, 51}), brevun::FromCivil({2026, 12, 31, 23, 59, 58}),
  };
  int broken = 0;
  for (const LCID lcid : locales) {
    const component::OleDateTimeText text(lcid);
    for (const LocalSeconds t : samples) {
      std::u16string rendered;
      std::optional<LocalSeconds> back;
      try {
        rendered = text.Render(t);
        back = text.Parse(rendered);
      } catch (const Failure&) {
      }
      if (!back || *back != t) {
        if (++broken <= 10) {
          char id[16];
          std::snprintf(id, sizeof id, "%04lx", static_cast<unsigned long>(lcid));
          HOST_CHECK_MSG(false, std::string("locale ") + id + ": " + brevun::ToUtf8(rendered) +
                                    " does not read back");
        }
      }
    }
  }
  HOST_CHECK_EQ(broken, 0);
}

// The conversions of the properties for the check: stable English descriptions, and the kinds
// the host languages know by number.
HOST_GROUP(conversions) {
  const FailureSeen null{u"Invalid use of Null", FailureKind::kInvalidUseOfNull};
  const FailureSeen overflow{u"Overflow", FailureKind::kOverflow};
  const FailureSeen mismatch{u"Type mismatch", FailureKind::kTypeMismatch};
  Variant v;
  HOST_CHECK(component::VariantToText(v.ref()).empty());
  v = Text(L"#FPR=local#");
  HOST_CHECK(component::VariantToText(v.ref()) == u"#FPR=local#");
  v = Variant::I4(-12);
  HOST_CHECK(component::VariantToText(v.ref()) == u"-12");
  V_VT(v.Put()) = VT_NULL;
  HOST_CHECK(FailureOf([&] { component::VariantToText(v.ref()); }) == null);
  HOST_CHECK(FailureOf([&] { component::VariantToInt16(v.ref()); }) == null);

  v.Clear();
  HOST_CHECK_EQ(component::VariantToInt16(v.ref()), 0);
  v = Text(L" 10 ");
  HOST_CHECK_EQ(component::VariantToInt16(v.ref()), 10);
  v = Variant::I4(-32768);
  HOST_CHECK_EQ(component::VariantToInt16(v.ref()), -32768);
  // Half to even, as the host languages round.
  V_VT(v.Put()) = VT_R8;
  V_R8(v.get()) = 2.5;
  HOST_CHECK_EQ(component::VariantToInt16(v.ref()), 2);
  V_R8(v.get()) = 3.5;
  HOST_CHECK_EQ(component::VariantToInt16(v.ref()), 4);
  v = Variant::I4(32768);
  HOST_CHECK(FailureOf([&] { component::VariantToInt16(v.ref()); }) == overflow);
  v = Text(L"abc");
  HOST_CHECK(FailureOf([&] { component::VariantToInt16(v.ref()); }) == mismatch);
  // An object without a value cannot become a text.
  Spy silent(L"");
  V_VT(v.Put()) = VT_UNKNOWN;
  V_UNKNOWN(v.get()) = &silent;
  silent.AddRef();
  HOST_CHECK(FailureOf([&] { component::VariantToText(v.ref()); }).first != u"<no failure>");
  v.Clear();
  HOST_CHECK(component::DescribeStatus(E_OUTOFMEMORY) == u"Out of memory");
  HOST_CHECK(component::DescribeStatus(static_cast<HRESULT>(0x80041234)) ==
             u"Automation error 0x80041234");
  // Statuses of other kinds keep their description and reach a host as a plain failure.
  HOST_CHECK(FailureOf([] { throw component::FailureOfStatus(DISP_E_OVERFLOW); }) == overflow);
  HOST_CHECK(FailureOf([] { throw component::FailureOfStatus(DISP_E_TYPEMISMATCH); }) == mismatch);
  HOST_CHECK(FailureOf([] { throw component::FailureOfStatus(E_OUTOFMEMORY); }) ==
             FailureSeen(u"Out of memory", FailureKind::kOther));
}

component::Velkor* Object(const ComPtr<_velkor>& object) {
  return static_cast<component::Velkor*>(object.get());
}

struct OtherThread {
  bool emptyAtStart = false;
  bool ownValue = false;
};

unsigned __stdcall SecondThread(void* argument) {
  auto* result = static_cast<OtherThread*>(argument);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  {
    ComPtr<_velkor> object;
    if (SUCCEEDED(component::Velkor::Create(object))) {
      result->emptyAtStart = Object(object)->CurrentParameter().vt() == VT_EMPTY;
      Variant parameter = Text(L"#FPR=wmi#");
      VARIANT_BOOL verdict = VARIANT_TRUE;
      object->put_zt_parameter(parameter.ref());
      object->zt_docheck(&verdict);
      result->ownValue = TextOf(Object(object)->CurrentParameter().ref()) == L"#FPR=wmi#";
    }
  }
  CoUninitialize();
  return 0;
}

// CurrentParameter: written at step 20 of every check, also when a later step fails; shared
// by the objects of a thread, separate between threads, released with the thread's last object.
HOST_GROUP(currentparameter) {
  ComPtr<_velkor> first;
  ComPtr<_velkor> second;
  HOST_CHECK_HR(S_OK, component::Velkor::Create(first));
  HOST_CHECK_HR(S_OK, component::Velkor::Create(second));
  if (!first || !second) return;
  HOST_CHECK(Object(first)->CurrentParameter().vt() == VT_EMPTY);
  HOST_CHECK(&Object(first)->CurrentParameter() == &Object(second)->CurrentParameter());

  VARIANT_BOOL verdict = VARIANT_FALSE;
  Variant parameter = Text(kLocalLocal);
  HOST_CHECK_HR(S_OK, first->put_zt_parameter(parameter.ref()));
  HOST_CHECK_HR(S_OK, first->zt_docheck(&verdict));
  HOST_CHECK(TextOf(Object(second)->CurrentParameter().ref()) == kLocalLocal);

  // A null fails step 40, after step 20 has copied it.
  V_VT(parameter.Put()) = VT_NULL;
  HOST_CHECK_HR(S_OK, second->put_zt_parameter(parameter.ref()));
  HOST_CHECK_HR(S_OK, second->zt_docheck(&verdict));
  HOST_CHECK_EQ(verdict, VARIANT_FALSE);
  HOST_CHECK(Object(first)->CurrentParameter().vt() == VT_NULL);
  Variant result;
  HOST_CHECK_HR(S_OK, second->get_zt_result(result.Put()));
  HOST_CHECK(TextOf(result.ref()) == L"ERR: Invalid use of Null( 40)");

  // A number stays a number.
  parameter = Variant::I4(7);
  HOST_CHECK_HR(S_OK, first->put_zt_parameter(parameter.ref()));
  HOST_CHECK_HR(S_OK, first->zt_docheck(&verdict));
  HOST_CHECK(Object(first)->CurrentParameter().vt() == VT_I4);

  // An object is shared, and let go when the thread's last object goes.
  Spy source(kLocalLocal);
  Variant sourceRef;
  V_VT(sourceRef.get()) = VT_DISPATCH;
  V_DISPATCH(sourceRef.get()) = &source;
  source.AddRef();
  HOST_CHECK_HR(S_OK, first->putref_zt_parameter(sourceRef.ref()));
  sourceRef.Clear();
  HOST_CHECK_HR(S_OK, first->zt_docheck(&verdict));
  HOST_CHECK_EQ(verdict, VARIANT_TRUE);
  const VARIANT& shared = Object(second)->CurrentParameter().ref();
  HOST_CHECK(V_VT(&shared) == VT_DISPATCH && V_DISPATCH(&shared) == &source);

  OtherThread other;
  unsigned id = 0;
  const brevun::win::Handle thread(
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &SecondThread, &other, 0, &id)));
  HOST_CHECK(static_cast<bool>(thread));
  if (thread) WaitForSingleObject(thread.get(), 60000);
  HOST_CHECK(other.emptyAtStart);
  HOST_CHECK(other.ownValue);
  // The other thread's checks left this thread's value alone.
  HOST_CHECK(V_VT(&Object(first)->CurrentParameter().ref()) == VT_DISPATCH);

  first.Reset();
  HOST_CHECK(source.references() > 1);  // still held: by the CurrentParameter of `second`
  second.Reset();
  HOST_CHECK_EQ(source.references(), 1);
}

// The private form: made with the object and loaded on demand, with no window until its
// handle is asked for (or it is shown); unloaded by Unload, by closing its window, by anyone
// destroying it, or with its object. A time fetch loads it, makes no window, and leaves it
// loaded; its clock lives as long as the form, across unloads.
HOST_GROUP(form) {
  const component::OleDateTimeText text;
  brevun::FrmMain form(text, [](const std::u16string&) {});
  HOST_CHECK(!form.IsLoaded());

  form.Load();
  HOST_CHECK(form.IsLoaded() && !form.HasWindow());
  HOST_CHECK(CountDialogWindows() == 0);
  const HWND hwnd = form.Hwnd();  // asking for the handle makes the window
  HOST_CHECK(form.IsLoaded() && form.HasWindow());
  HOST_CHECK(IsWindow(hwnd));
  HOST_CHECK(!IsWindowVisible(hwnd));
  HOST_CHECK(GetAncestor(hwnd, GA_PARENT) == GetDesktopWindow());
  HOST_CHECK(GetWindow(hwnd, GW_OWNER) == nullptr);
  wchar_t caption[64] = {};
  GetWindowTextW(hwnd, caption, 64);
  HOST_CHECK(wcscmp(caption, L"Time server check: External COM check ") == 0);
  form.Load();
  HOST_CHECK(form.Hwnd() == hwnd);

  form.Unload();
  HOST_CHECK(!form.IsLoaded() && !form.HasWindow());
  HOST_CHECK(!IsWindow(hwnd));
  form.Unload();

  // Closing the window unloads the form; so does anyone destroying it.
  HWND next = form.Hwnd();
  SendMessageW(next, WM_CLOSE, 0, 0);
  HOST_CHECK(!form.IsLoaded());
  HOST_CHECK(!IsWindow(next));
  next = form.Hwnd();
  DestroyWindow(next);
  HOST_CHECK(!form.IsLoaded());

  // What the controls are given while there is no window is what the window shows when it
  // is made, as the controls hold it: a text ends at a NUL, a list position out of range
  // selects nothing.
  brevun::dialog::DialogValues values;
  values.timeout = u"7";
  values.firstTimeServer = u"alpha";
  values.secondTimeServer = std::u16string(u"beta\0hidden", 11);
  values.difference = u"5 s";
  values.firstSource = 2;
  values.secondSource = 9;
  form.Dialog().SetValues(values);
  HOST_CHECK(form.IsLoaded() && !form.HasWindow());
  const brevun::dialog::DialogValues held = form.Dialog().Values();
  HOST_CHECK(held.secondTimeServer == u"beta" && held.secondSource == -1);
  form.Hwnd();
  HOST_CHECK(form.Dialog().Values() == held);
  form.Unload();
  HOST_CHECK(form.Dialog().Values() == brevun::dialog::DialogValues{});
  form.Unload();

  // The fetch loads the form, makes no window, and keeps it loaded; after an unload the next
  // fetch loads it again and finds the same clock, with the last notification's description
  // still on it.
  brevun::TimeFetcher* fetcher = form.Fetcher();
  HOST_CHECK(fetcher != nullptr);
  HOST_CHECK(form.IsLoaded() && !form.HasWindow());
  HOST_CHECK(CountDialogWindows() == 0);
  auto* clock = dynamic_cast<brevun::ClockForm*>(fetcher);
  HOST_CHECK(clock != nullptr);
  if (clock != nullptr) clock->NetClock_Error(1, u"RATE");
  form.Unload();
  HOST_CHECK(form.Fetcher() == fetcher);
  HOST_CHECK(form.IsLoaded() && !form.HasWindow());
  if (clock != nullptr) HOST_CHECK(clock->strClockError == u"RATE");

  // A real fetch through the form: a closed loopback port refuses, through Winsock.
  const unsigned short closed = ClosedLoopbackPort();
  std::u16string response = u"left over";
  const std::u16string server = u"127.0.0.1:" + brevun::FromUtf8(std::to_string(closed));
  HOST_CHECK(!fetcher->DoRFCProtocol(server, u"time", 2, response));
  HOST_CHECK_MSG(response == u"ERR: Connection refused by " + server + u" (60)", Narrow(response));

  // Two forms, two windows; a loaded form goes with its owner.
  HWND kept = nullptr;
  {
    brevun::FrmMain a(text, [](const std::u16string&) {});
    brevun::FrmMain b(text, [](const std::u16string&) {});
    HOST_CHECK(a.Hwnd() != b.Hwnd());
    kept = a.Hwnd();
  }
  HOST_CHECK(!IsWindow(kept));

  // Each object has a form of its own: a check of local sources does not load it, a check
  // that asks a time server does, and the form goes with its object.
  ComPtr<_velkor> x;
  ComPtr<_velkor> y;
  HOST_CHECK_HR(S_OK, component::Velkor::Create(x));
  HOST_CHECK_HR(S_OK, component::Velkor::Create(y));
  if (!x || !y) return;
  HOST_CHECK(&Object(x)->Form() != &Object(y)->Form());
  Variant parameter = Text(kLocalLocal);
  VARIANT_BOOL verdict = VARIANT_FALSE;
  x->put_zt_parameter(parameter.ref());
  x->zt_docheck(&verdict);
  HOST_CHECK(!Object(x)->Form().IsLoaded());
  parameter = Variant::Text(u"#FTS=#FPR=local#STS=" + server + u"#SPR=time#DIS=2#");
  y->put_zt_parameter(parameter.ref());
  y->zt_docheck(&verdict);
  HOST_CHECK(Object(y)->Form().IsLoaded());
  HOST_CHECK(!Object(y)->Form().HasWindow());
  HOST_CHECK(CountDialogWindows() == 0);
  HOST_CHECK(!Object(x)->Form().IsLoaded());
  const HWND yWindow = Object(y)->Form().Hwnd();
  HOST_CHECK(!IsWindowVisible(yWindow));
  y.Reset();
  HOST_CHECK(!IsWindow(yWindow));
}

}  // namespace
}  // namespace host
