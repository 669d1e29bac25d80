// brevun-check on Windows, through the registered component instead of its own copy of the
// check: the way a host runs it (late-bound, by member name), so an administrator can try a
// registration and a configuration before handing them to the host.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace brevun::cli {

// A step of the conversation with the component that failed, in words for the administrator.
class ComError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ComCheck {
  bool verdict = false;
  std::u16string result;      // zt_result after zt_docheck
  long long acquisition = 0;  // whole local-clock seconds around the zt_docheck call
};

// Creates brevun.velkor, sets zt_parameter and zt_timeout, calls zt_docheck and reads zt_result.
// The timeout is asked for once the object stands: creating it (COM's start-up) takes a time of
// its own that the time servers' share must leave out.
ComCheck RunThroughComponent(const std::u16string& parameter,
                             const std::function<std::int16_t()>& timeoutOnceCreated);

// Creates brevun.velkor, sets zt_parameter (when given) and zt_timeout, calls zt_showGUI and
// returns what zt_parameter holds afterwards.
std::u16string ConfigureThroughComponent(const std::optional<std::u16string>& parameter,
                                         std::int16_t timeout);

}  // namespace brevun::cli
