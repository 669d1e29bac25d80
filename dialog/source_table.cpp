#include "dialog/source_table.h"

namespace brevun::dialog {

namespace {

struct Entry {
  std::u16string_view caption;
  Source source;
};

constexpr Entry kEntries[kSourceCount] = {
    {u"Local system", Source::kLocal},
    {u"Time server (time protocol)", Source::kTime},
    {u"Time server (SNTP protocol)", Source::kSntp},
    {u"Windows server (WMI protocol)", Source::kWmi},
    {u"SSH based", Source::kSsh},
};

bool IsPosition(int position) { return position >= 0 && position < kSourceCount; }

}  // namespace

std::u16string_view SourceCaption(int position) {
  return IsPosition(position) ? kEntries[position].caption : std::u16string_view();
}

Source SourceAt(int position) {
  return IsPosition(position) ? kEntries[position].source : kEntries[0].source;
}

int SourcePosition(std::u16string_view code) {
  const auto source = SourceOf(code);
  for (int i = 0; source && i < kSourceCount; ++i) {
    if (kEntries[i].source == *source) return i;
  }
  return 0;
}

}  // namespace brevun::dialog
