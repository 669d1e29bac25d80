// The time host as a user writes it: either a host and a port from 1 to 65535 that name the
// server again when written back, or a failure whose description is one printable line.
#include <cstdlib>

#include "check/failure.h"
#include "fuzz/fuzz_expect.h"
#include "fuzz/fuzz_input.h"
#include "timesource/timehost.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool wide = data[0] & 1;
  const std::uint16_t defaultPort = (data[0] & 2) ? 37 : 123;
  const std::u16string text = wide ? UnitsFrom(data + 1, size - 1) : Latin1From(data + 1, size - 1);
  brevun::TimeHost host;
  try {
    host = brevun::ParseTimeHost(text, defaultPort);
  } catch (const brevun::Failure& f) {
    Expect(!f.description().empty() && Printable(f.description()));
    return 0;
  }
  Expect(!host.host.empty() && host.port >= 1 && Printable(host.host));
  Expect(text.find(u':') != std::u16string::npos || host.port == defaultPort);
  // Written as descriptions show it, the host reads back to the same server, unless its
  // own text holds what that notation cannot carry (brackets, blanks at its ends).
  const std::u16string shown = host.Text();
  Expect(Printable(shown));
  if (host.host.find_first_of(u"[]") == std::u16string::npos && host.host.front() != u' ' &&
      host.host.back() != u' ') {
    const brevun::TimeHost back = brevun::ParseTimeHost(shown, defaultPort == 37 ? 123 : 37);
    Expect(back.host == host.host && back.port == host.port);
  }
  return 0;
}
