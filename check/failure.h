// A failure inside the core: a short, stable English description that the check and the
// time fetch put into their "ERR: " texts. The same input gives the same text on every platform.
#pragma once

#include <exception>
#include <string>

namespace brevun {

class Failure : public std::exception {
 public:
  explicit Failure(std::u16string description) : description_(std::move(description)) {}
  const std::u16string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return "brevun::Failure"; }

 private:
  std::u16string description_;
};

// The descriptions that several places share.
inline constexpr char16_t kTypeMismatch[] = u"Type mismatch";
inline constexpr char16_t kOverflow[] = u"Overflow";
inline constexpr char16_t kInvalidUseOfNull[] = u"Invalid use of Null";

}  // namespace brevun
