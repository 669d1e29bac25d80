// Owners of automation's resources: interface pointers, BSTRs and VARIANTs. Nothing outside
// these classes calls Release, SysFreeString or VariantClear.
#pragma once

#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>

#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace brevun::win {

// An interface pointer that holds one reference. Made from a raw pointer it takes a reference
// of its own, as every smart pointer of COM does; taking over a reference that the caller
// already owns (a new object's first one) is the named call Adopt.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) noexcept : p_(p) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(const ComPtr& o) noexcept : p_(o.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  static ComPtr Adopt(T* p) noexcept {
    ComPtr owner;
    owner.p_ = p;
    return owner;
  }

  void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // For out-parameters: drops the current reference and receives a new one.
  T** Put() noexcept {
    Reset();
    return &p_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

  template <typename U>
  HRESULT As(ComPtr<U>& out) const noexcept {
    return p_->QueryInterface(__uuidof(U), out.PutVoid());
  }

 private:
  T* p_ = nullptr;
};

// The text of a BSTR someone else owns, its length from the BSTR's own count (it may hold NULs);
// a null BSTR is the empty text.
inline std::u16string BstrText(BSTR b) {
  if (b == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

class Bstr {
 public:
  Bstr() = default;
  // Throws std::bad_alloc when the allocation fails.
  explicit Bstr(std::u16string_view text) {
    b_ = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                           static_cast<UINT>(text.size()));
    if (b_ == nullptr) throw std::bad_alloc();
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  Bstr& operator=(Bstr&& o) noexcept {
    if (this != &o) {
      Reset();
      b_ = std::exchange(o.b_, nullptr);
    }
    return *this;
  }
  ~Bstr() { Reset(); }

  void Reset() noexcept {
    if (BSTR b = std::exchange(b_, nullptr)) SysFreeString(b);
  }
  BSTR get() const noexcept { return b_; }
  BSTR* Put() noexcept {
    Reset();
    return &b_;
  }
  BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
  std::u16string Text() const { return BstrText(b_); }

 private:
  BSTR b_ = nullptr;
};

// What IDispatch::Invoke reports about an error the object raised. The texts in it belong to
// the caller and go with this owner.
class ExceptionInfo {
 public:
  ExceptionInfo() = default;
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;
  ~ExceptionInfo() { Clear(); }

  // For Invoke's out-parameter: empty until Invoke fills it.
  EXCEPINFO* Put() noexcept {
    Clear();
    return &info_;
  }
  // An object may leave the texts to a function that fills them on demand; that runs once.
  void Fill() {
    if (auto fill = std::exchange(info_.pfnDeferredFillIn, nullptr)) fill(&info_);
  }
  SCODE Status() const noexcept { return info_.scode; }
  std::u16string Description() const { return BstrText(info_.bstrDescription); }

  void Clear() noexcept {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
    info_ = EXCEPINFO{};
  }

 private:
  EXCEPINFO info_{};
};

class Variant {
 public:
  Variant() noexcept { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  // A VARIANT may be moved bitwise: its owner changes, its contents do not.
  Variant(Variant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  Variant& operator=(Variant&& o) noexcept {
    Variant tmp(std::move(o));
    Swap(tmp);
    return *this;
  }
  ~Variant() { Clear(); }

  static Variant Text(std::u16string_view text) {
    Bstr b(text);
    Variant v;
    V_VT(&v.v_) = VT_BSTR;
    V_BSTR(&v.v_) = b.Detach();
    return v;
  }
  static Variant I4(LONG value) noexcept {
    Variant v;
    V_VT(&v.v_) = VT_I4;
    V_I4(&v.v_) = value;
    return v;
  }

  void Clear() noexcept { VariantClear(&v_); }
  VARIANT* get() noexcept { return &v_; }
  const VARIANT& ref() const noexcept { return v_; }
  VARTYPE vt() const noexcept { return V_VT(&v_); }
  // For out-parameters: clears the current value and receives a new one.
  VARIANT* Put() noexcept {
    Clear();
    return &v_;
  }
  void Swap(Variant& o) noexcept { std::swap(v_, o.v_); }
  // Hands the value to a caller-owned VARIANT, which must hold nothing that needs clearing.
  void MoveTo(VARIANT* out) noexcept {
    *out = v_;
    VariantInit(&v_);
  }

  // The copy replaces the current value only when it succeeds.
  HRESULT CopyFrom(const VARIANT& src) noexcept {
    Variant tmp;
    // The source is only read; the old headers forgot its const.
    const HRESULT hr = VariantCopy(&tmp.v_, const_cast<VARIANT*>(&src));
    if (SUCCEEDED(hr)) Swap(tmp);
    return hr;
  }
  // Like CopyFrom, but a by-reference value is replaced by what it refers to. A reference that
  // points nowhere is refused: VariantCopyInd reads through the pointer unchecked, and a host's
  // null pointer would take the host down with it.
  HRESULT CopyIndFrom(const VARIANT& src) noexcept {
    if (!PointsSomewhere(src)) return E_INVALIDARG;
    Variant tmp;
    const HRESULT hr = VariantCopyInd(&tmp.v_, const_cast<VARIANT*>(&src));
    if (SUCCEEDED(hr)) Swap(tmp);
    return hr;
  }

 private:
  // Follows a chain of by-reference variants (each VT_VARIANT | VT_BYREF leads to the next) and
  // says whether every pointer on it is set. A chain longer than any host builds counts as bad.
  static bool PointsSomewhere(const VARIANT& src) noexcept {
    const VARIANT* v = &src;
    for (int depth = 0; depth < 8; ++depth) {
      if ((V_VT(v) & VT_BYREF) == 0) return true;
      if (V_BYREF(v) == nullptr) return false;
      if (V_VT(v) != (VT_VARIANT | VT_BYREF)) return true;
      v = V_VARIANTREF(v);
    }
    return false;
  }

  VARIANT v_;
};

}  // namespace brevun::win
