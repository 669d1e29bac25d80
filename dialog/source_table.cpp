#include "dialog/source_table.h"

namespace brevun::dialog {

namespace {

struct Source {
  std::u16string_view caption;
  std::u16string_view code;
};

constexpr Source kSources[kSourceCount] = {
    {u"Local system", u"local"},
    {u"Time server (time protocol)", u"time"},
    {u"Time server (SNTP protocol)", u"sntp"},
    {u"Windows server (WMI protocol)", u"wmi"},
    {u"SSH based", u"ssh"},
};

bool IsPosition(int position) { return position >= 0 && position < kSourceCount; }

}  // namespace

std::u16string_view SourceCaption(int position) {
  return IsPosition(position) ? kSources[position].caption : std::u16string_view();
}

std::u16string_view SourceCode(int position) {
  return IsPosition(position) ? kSources[position].code : kSources[0].code;
}

int SourcePosition(std::u16string_view code) {
  for (int i = 0; i < kSourceCount; ++i) {
    if (kSources[i].code == code) return i;
  }
  return 0;
}

}  // namespace brevun::dialog
