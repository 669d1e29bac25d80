// One owner for every Windows resource that is a plain handle: the traits say what its empty
// value is and how it is let go, the owner makes sure that happens exactly once.
#pragma once

#include <utility>

namespace brevun::win {

// Traits: `using Type = ...;`, `static Type Empty() noexcept`, `static bool IsSet(Type)` and
// `static void Close(Type) noexcept`.
template <typename Traits>
class Unique {
 public:
  using Type = typename Traits::Type;

  Unique() noexcept = default;
  // Takes over h; it is closed with this owner.
  explicit Unique(Type h) noexcept : h_(h) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& o) noexcept : h_(o.Detach()) {}
  Unique& operator=(Unique&& o) noexcept {
    if (this != &o) Reset(o.Detach());
    return *this;
  }
  ~Unique() { Reset(); }

  Type get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return Traits::IsSet(h_); }

  // The owner is empty before the old handle is closed, so that anything the closing sets off
  // (a window's destruction messages) already sees it empty.
  void Reset(Type h = Traits::Empty()) noexcept {
    const Type old = std::exchange(h_, h);
    if (Traits::IsSet(old)) Traits::Close(old);
  }
  // Lets go of the handle without closing it; the caller owns it now.
  Type Detach() noexcept { return std::exchange(h_, Traits::Empty()); }
  // For out-parameters: closes the current handle and receives a new one.
  Type* Put() noexcept {
    Reset();
    return &h_;
  }

 private:
  Type h_ = Traits::Empty();
};

// The traits of a handle whose empty value is null.
template <typename T, auto CloseFunction>
struct NullIsEmpty {
  using Type = T;
  static constexpr T Empty() noexcept { return nullptr; }
  static bool IsSet(T h) noexcept { return h != nullptr; }
  static void Close(T h) noexcept { CloseFunction(h); }
};

}  // namespace brevun::win
