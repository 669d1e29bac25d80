// A failure inside the core: a short, stable English description that the check and the
// time fetch put into their "ERR: " texts, and a kind that says which of the failures a host
// language knows by number it is. The same input gives the same text on every platform.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace brevun {

// The component hands a failure that reaches a host as a status over under the number the
// host's language gives it (Err.Number 6, 13, 94), so the kind, not the wording, decides that.
enum class FailureKind {
  kOther,
  kOverflow,
  kTypeMismatch,
  kInvalidUseOfNull,
};

// The description a kind has when nothing more specific is said.
constexpr const char16_t* DescriptionOf(FailureKind kind) noexcept {
  switch (kind) {
    case FailureKind::kOverflow: return u"Overflow";
    case FailureKind::kTypeMismatch: return u"Type mismatch";
    case FailureKind::kInvalidUseOfNull: return u"Invalid use of Null";
    case FailureKind::kOther: break;
  }
  return u"Failure";
}

class Failure : public std::exception {
 public:
  // Any failure the host knows by its description only.
  explicit Failure(std::u16string description)
      : Failure(FailureKind::kOther, std::move(description)) {}
  // A failure of a kind the host knows by number, in its usual words.
  explicit Failure(FailureKind kind) : Failure(kind, DescriptionOf(kind)) {}
  Failure(FailureKind kind, std::u16string description)
      : description_(std::move(description)), kind_(kind) {}

  const std::u16string& description() const noexcept { return description_; }
  FailureKind kind() const noexcept { return kind_; }
  const char* what() const noexcept override { return "brevun::Failure"; }

 private:
  std::u16string description_;
  FailureKind kind_;
};

}  // namespace brevun
