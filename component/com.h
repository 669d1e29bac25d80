// Owners for the Windows and automation resources the component touches: interface pointers,
// BSTRs, VARIANTs, handles, registry keys and locks. Nothing outside these classes calls
// Release, SysFreeString, VariantClear, CloseHandle or RegCloseKey.
#pragma once

#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>

#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace brevun::com {

// UTF-16 in both worlds: the core speaks char16_t, Windows speaks wchar_t of the same width.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows texts are UTF-16");
inline const wchar_t* Wide(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::wstring ToWide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string FromWide(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adopts a reference the caller already owns.
  explicit ComPtr(T* p) noexcept : p_(p) {}
  ComPtr(const ComPtr& o) noexcept : p_(o.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes a new reference of its own to p.
  static ComPtr Share(T* p) noexcept {
    if (p != nullptr) p->AddRef();
    return ComPtr(p);
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
  // A null BSTR is the empty text.
  std::u16string Text() const {
    if (b_ == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(b_), SysStringLen(b_));
  }

 private:
  BSTR b_ = nullptr;
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

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) noexcept : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  ~Handle() { Reset(); }
  void Reset() noexcept {
    HANDLE h = std::exchange(h_, nullptr);
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  HANDLE get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_ = nullptr;
};

class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& o) noexcept : k_(std::exchange(o.k_, nullptr)) {}
  RegKey& operator=(RegKey&& o) noexcept {
    if (this != &o) {
      Reset();
      k_ = std::exchange(o.k_, nullptr);
    }
    return *this;
  }
  ~RegKey() { Reset(); }
  void Reset() noexcept {
    if (HKEY k = std::exchange(k_, nullptr)) RegCloseKey(k);
  }
  HKEY get() const noexcept { return k_; }
  HKEY* Put() noexcept {
    Reset();
    return &k_;
  }

 private:
  HKEY k_ = nullptr;
};

class CriticalSection {
 public:
  CriticalSection() noexcept { InitializeCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  void Enter() noexcept { EnterCriticalSection(&cs_); }
  void Leave() noexcept { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class Lock {
 public:
  explicit Lock(CriticalSection& cs) noexcept : cs_(cs) { cs_.Enter(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  ~Lock() { cs_.Leave(); }

 private:
  CriticalSection& cs_;
};

}  // namespace brevun::com
