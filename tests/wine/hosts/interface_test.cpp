// The interface as hosts see it: the registered type library read back member by member, and
// every member called through the vtable and through IDispatch::Invoke.
#include <ocidl.h>

#include <cwchar>

#include "common.h"
#include "harness.h"

namespace host {
namespace {

struct Member {
  const wchar_t* name;
  DISPID id;
  INVOKEKIND kind;
};

// The interface's contract with compiled hosts: slot order, dispatch ids and kinds.
constexpr Member kMembers[] = {
    {L"zt_docheck", DISPID_ZT_DOCHECK, INVOKE_FUNC},
    {L"zt_showGUI", DISPID_ZT_SHOWGUI, INVOKE_FUNC},
    {L"zt_result", DISPID_ZT_RESULT, INVOKE_PROPERTYPUT},
    {L"zt_result", DISPID_ZT_RESULT, INVOKE_PROPERTYPUTREF},
    {L"zt_result", DISPID_ZT_RESULT, INVOKE_PROPERTYGET},
    {L"zt_parameter", DISPID_ZT_PARAMETER, INVOKE_PROPERTYPUT},
    {L"zt_parameter", DISPID_ZT_PARAMETER, INVOKE_PROPERTYPUTREF},
    {L"zt_parameter", DISPID_ZT_PARAMETER, INVOKE_PROPERTYGET},
    {L"zt_timeout", DISPID_ZT_TIMEOUT, INVOKE_PROPERTYPUT},
    {L"zt_timeout", DISPID_ZT_TIMEOUT, INVOKE_PROPERTYPUTREF},
    {L"zt_timeout", DISPID_ZT_TIMEOUT, INVOKE_PROPERTYGET},
    {L"zt_hostname", DISPID_ZT_HOSTNAME, INVOKE_PROPERTYPUT},
    {L"zt_hostname", DISPID_ZT_HOSTNAME, INVOKE_PROPERTYPUTREF},
    {L"zt_hostname", DISPID_ZT_HOSTNAME, INVOKE_PROPERTYGET},
};
constexpr int kMemberCount = sizeof kMembers / sizeof kMembers[0];
// IUnknown and IDispatch take the first seven slots.
constexpr int kFirstSlot = 7;

std::wstring Name(ITypeInfo* info, MEMBERID id) {
  Bstr name;
  if (FAILED(info->GetDocumentation(id, name.Put(), nullptr, nullptr, nullptr))) return L"?";
  const std::u16string text = name.Text();
  return std::wstring(text.begin(), text.end());
}

class TypeAttr {
 public:
  explicit TypeAttr(ITypeInfo* info) : info_(info) {
    if (FAILED(info_->GetTypeAttr(&attr_))) attr_ = nullptr;
  }
  TypeAttr(const TypeAttr&) = delete;
  TypeAttr& operator=(const TypeAttr&) = delete;
  ~TypeAttr() {
    if (attr_ != nullptr) info_->ReleaseTypeAttr(attr_);
  }
  const TYPEATTR* operator->() const { return attr_; }
  explicit operator bool() const { return attr_ != nullptr; }

 private:
  ITypeInfo* info_;
  TYPEATTR* attr_ = nullptr;
};

class FuncDesc {
 public:
  FuncDesc(ITypeInfo* info, UINT index) : info_(info) {
    if (FAILED(info_->GetFuncDesc(index, &desc_))) desc_ = nullptr;
  }
  FuncDesc(const FuncDesc&) = delete;
  FuncDesc& operator=(const FuncDesc&) = delete;
  ~FuncDesc() {
    if (desc_ != nullptr) info_->ReleaseFuncDesc(desc_);
  }
  const FUNCDESC* operator->() const { return desc_; }
  explicit operator bool() const { return desc_ != nullptr; }

 private:
  ITypeInfo* info_;
  FUNCDESC* desc_ = nullptr;
};

// The library's help context as the registered file stores it. Read from the file's header
// because one widespread type library reader reports a neighbouring header field instead.
DWORD LibraryHelpContext() {
  Bstr path;
  if (FAILED(QueryPathOfRegTypeLib(LIBID_brevun, 1, 0, 0x0409, path.Put()))) return 0;
  const HMODULE file = LoadLibraryExW(reinterpret_cast<const wchar_t*>(path.Text().c_str()),
                                      nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (file == nullptr) return 0;
  DWORD context = 0;
  const HRSRC resource = FindResourceW(file, MAKEINTRESOURCEW(1), L"TYPELIB");
  const HGLOBAL loaded = resource != nullptr ? LoadResource(file, resource) : nullptr;
  const auto* header = static_cast<const BYTE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  // "MSFT", then eleven 32-bit fields; the help context is the twelfth.
  if (header != nullptr && SizeofResource(file, resource) >= 48 && memcmp(header, "MSFT", 4) == 0) {
    memcpy(&context, header + 44, sizeof context);
  }
  FreeLibrary(file);
  return context;
}

// The library's attributes, name and help.
void CheckLibrary(ITypeLib* lib) {
  TLIBATTR* libAttr = nullptr;
  HOST_CHECK_HR(S_OK, lib->GetLibAttr(&libAttr));
  if (libAttr != nullptr) {
    HOST_CHECK_EQ(libAttr->lcid, 0x0409u);
    HOST_CHECK_EQ(libAttr->wMajorVerNum, 1);
    HOST_CHECK_EQ(libAttr->wMinorVerNum, 0);
    HOST_CHECK_EQ(static_cast<int>(libAttr->syskind),
                  static_cast<int>(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32));
    lib->ReleaseTLibAttr(libAttr);
  }
  Bstr libName;
  Bstr helpFile;
  HOST_CHECK_HR(S_OK, lib->GetDocumentation(-1, libName.Put(), nullptr, nullptr, helpFile.Put()));
  HOST_CHECK(libName.Text() == u"brevun");
  HOST_CHECK_EQ(LibraryHelpContext(), 201u);
  const std::u16string file = helpFile.Text();
  HOST_CHECK_MSG(file.size() >= 10 && file.compare(file.size() - 10, 10, u"brevun.chm") == 0,
                 Narrow(file));
  // The interface and the class, nothing else.
  HOST_CHECK_EQ(lib->GetTypeInfoCount(), 2u);
}

// The interface, dual, and each of its members in its slot.
void CheckInterface(ITypeLib* lib) {
  ComPtr<ITypeInfo> dispatchInfo;
  HOST_CHECK_HR(S_OK, lib->GetTypeInfoOfGuid(IID__velkor, dispatchInfo.Put()));
  if (!dispatchInfo) return;
  {
    TypeAttr attr(dispatchInfo.get());
    HOST_CHECK(static_cast<bool>(attr));
    if (attr) {
      HOST_CHECK_EQ(static_cast<int>(attr->typekind), static_cast<int>(TKIND_DISPATCH));
      // The dispatch half of a dual interface; automation compatibility shows on the vtable half.
      const WORD wanted =
          TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
      HOST_CHECK_MSG((attr->wTypeFlags & wanted) == wanted, Hex(attr->wTypeFlags));
      HOST_CHECK_MSG(!(attr->wTypeFlags & TYPEFLAG_FCANCREATE), Hex(attr->wTypeFlags));
    }
  }
  HREFTYPE vtableRef = 0;
  HOST_CHECK_HR(S_OK, dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef));
  ComPtr<ITypeInfo> info;
  HOST_CHECK_HR(S_OK, dispatchInfo->GetRefTypeInfo(vtableRef, info.Put()));
  if (!info) return;
  {
    TypeAttr attr(info.get());
    if (attr) {
      HOST_CHECK_EQ(static_cast<int>(attr->typekind), static_cast<int>(TKIND_INTERFACE));
      HOST_CHECK_EQ(attr->cFuncs, kMemberCount);
      const WORD wanted =
          TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
      HOST_CHECK_MSG((attr->wTypeFlags & wanted) == wanted, Hex(attr->wTypeFlags));
    }
  }
  for (int i = 0; i < kMemberCount; ++i) {
    const Member& m = kMembers[i];
    FuncDesc f(info.get(), static_cast<UINT>(i));
    HOST_CHECK(static_cast<bool>(f));
    if (!f) continue;
    const std::string where = "slot " + std::to_string(i + 1) + " " + Narrow(std::wstring(m.name));
    HOST_CHECK_MSG(f->memid == m.id, where + " id " + Hex(f->memid));
    HOST_CHECK_MSG(f->invkind == m.kind, where + " kind " + std::to_string(f->invkind));
    HOST_CHECK_MSG(f->oVft == static_cast<SHORT>((kFirstSlot + i) * sizeof(void*)),
                   where + " vtable offset " + std::to_string(f->oVft));
    HOST_CHECK_MSG(f->elemdescFunc.tdesc.vt == VT_HRESULT, where);
    HOST_CHECK_MSG(Name(info.get(), f->memid) == m.name, where);
    const bool put = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
    const bool returns = m.kind == INVOKE_PROPERTYGET || m.id == DISPID_ZT_DOCHECK;
    HOST_CHECK_MSG(f->cParams == (put || returns ? 1 : 0), where);
    if (put && f->cParams == 1) {
      HOST_CHECK_MSG(f->lprgelemdescParam[0].tdesc.vt == VT_VARIANT, where);
      HOST_CHECK_MSG(f->lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FIN, where);
      // The value of a put has no name in a type library (GetNames leaves it out); vData
      // shows only in the IDL and the header made from it.
    }
    if (returns && f->cParams == 1) {
      const TYPEDESC& t = f->lprgelemdescParam[0].tdesc;
      const VARTYPE wanted = m.id == DISPID_ZT_DOCHECK ? VT_BOOL : VT_VARIANT;
      HOST_CHECK_MSG(t.vt == VT_PTR && t.lptdesc->vt == wanted, where);
      HOST_CHECK_MSG(f->lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FRETVAL, where);
    }
  }
}

// The class: creatable, with the interface as its one default interface.
void CheckClass(ITypeLib* lib) {
  ComPtr<ITypeInfo> classInfo;
  HOST_CHECK_HR(S_OK, lib->GetTypeInfoOfGuid(CLSID_velkor, classInfo.Put()));
  if (!classInfo) return;
  TypeAttr attr(classInfo.get());
  if (!attr) return;
  HOST_CHECK_EQ(static_cast<int>(attr->typekind), static_cast<int>(TKIND_COCLASS));
  HOST_CHECK(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  // One interface, the default, and no event (source) interface.
  HOST_CHECK_EQ(attr->cImplTypes, 1);
  INT implFlags = 0;
  HOST_CHECK_HR(S_OK, classInfo->GetImplTypeFlags(0, &implFlags));
  HOST_CHECK_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE implRef = 0;
  ComPtr<ITypeInfo> impl;
  HOST_CHECK_HR(S_OK, classInfo->GetRefTypeOfImplType(0, &implRef));
  HOST_CHECK_HR(S_OK, classInfo->GetRefTypeInfo(implRef, impl.Put()));
  if (impl) {
    TypeAttr implAttr(impl.get());
    HOST_CHECK(implAttr && IsEqualIID(implAttr->guid, IID__velkor));
  }
}

HOST_GROUP(typelib) {
  ComPtr<ITypeLib> lib;
  HOST_CHECK_HR(S_OK, LoadRegTypeLib(LIBID_brevun, 1, 0, 0x0409, lib.Put()));
  if (!lib) return;
  CheckLibrary(lib.get());
  CheckInterface(lib.get());
  CheckClass(lib.get());
}

HOST_GROUP(progids) {
  // Both programmatic ids name the class.
  for (const wchar_t* progId : {L"brevun.velkor", L"brevun.velkor.1"}) {
    CLSID clsid{};
    HOST_CHECK_HR(S_OK, CLSIDFromProgID(progId, &clsid));
    HOST_CHECK(IsEqualCLSID(clsid, CLSID_velkor));
  }
}

using Put = HRESULT (STDMETHODCALLTYPE _velkor::*)(VARIANT);
using Get = HRESULT (STDMETHODCALLTYPE _velkor::*)(VARIANT*);
struct Property {
  const wchar_t* name;
  DISPID id;
  Put put;
  Put putref;
  Get get;
};
const Property kProperties[] = {
    {L"zt_result", DISPID_ZT_RESULT, &_velkor::put_zt_result, &_velkor::putref_zt_result,
     &_velkor::get_zt_result},
    {L"zt_parameter", DISPID_ZT_PARAMETER, &_velkor::put_zt_parameter,
     &_velkor::putref_zt_parameter, &_velkor::get_zt_parameter},
    {L"zt_timeout", DISPID_ZT_TIMEOUT, &_velkor::put_zt_timeout, &_velkor::putref_zt_timeout,
     &_velkor::get_zt_timeout},
    {L"zt_hostname", DISPID_ZT_HOSTNAME, &_velkor::put_zt_hostname, &_velkor::putref_zt_hostname,
     &_velkor::get_zt_hostname},
};

Variant ObjectValue(IDispatch* object) {
  Variant value;
  V_VT(value.get()) = VT_DISPATCH;
  V_DISPATCH(value.get()) = object;
  if (object != nullptr) object->AddRef();
  return value;
}

// A plain put through either door stores a copy, keeps the type, and is read back through
// the other door.
void CheckPutAndGet(_velkor* v, const Property& p) {
  const std::string where = Narrow(std::wstring(p.name));

  // Never set: empty.
  Variant value;
  HOST_CHECK_HR(S_OK, (v->*p.get)(value.Put()));
  HOST_CHECK_MSG(value.vt() == VT_EMPTY, where);

  // Vtable put, then dispatch get.
  Variant text = Text(L"alpha");
  HOST_CHECK_HR(S_OK, (v->*p.put)(text.ref()));
  HOST_CHECK_HR(S_OK, Call(v, p.id, DISPATCH_PROPERTYGET, nullptr, 0, &value));
  HOST_CHECK_MSG(TextOf(value.ref()) == L"alpha", where);

  // A put copies: a by-reference argument is read, and later changes of the host's own
  // variable do not reach the property.
  Bstr hostText(u"beta");
  VARIANT byRef;
  VariantInit(&byRef);
  V_VT(&byRef) = VT_BSTR | VT_BYREF;
  BSTR hostVariable = hostText.get();
  V_BSTRREF(&byRef) = &hostVariable;
  HOST_CHECK_HR(S_OK, (v->*p.put)(byRef));
  Bstr other(u"gamma");
  hostVariable = other.get();
  HOST_CHECK_HR(S_OK, (v->*p.get)(value.Put()));
  HOST_CHECK_MSG(TextOf(value.ref()) == L"beta", where + ": " + Narrow(TextOf(value.ref())));

  // Dispatch put of a number, vtable get: the type stays.
  Variant number = Variant::I4(42);
  HOST_CHECK_HR(S_OK, Call(v, p.id, DISPATCH_PROPERTYPUT, number.get(), 1, nullptr));
  HOST_CHECK_HR(S_OK, (v->*p.get)(value.Put()));
  HOST_CHECK_MSG(value.vt() == VT_I4 && V_I4(value.get()) == 42, where);
}

// A put by reference through either door shares the object; anything but an object is
// refused with "Object required" and the property keeps what it had; Nothing is an object too.
void CheckPutByReference(_velkor* v, const Property& p) {
  const std::string where = Narrow(std::wstring(p.name));
  Spy spy(L"spy");
  Variant reference = ObjectValue(&spy);
  Variant number = Variant::I4(42);
  Variant value;
  const LONG before = spy.references();

  HOST_CHECK_HR(S_OK, (v->*p.putref)(reference.ref()));
  HOST_CHECK_HR(S_OK, Call(v, p.id, DISPATCH_PROPERTYGET, nullptr, 0, &value));
  HOST_CHECK_MSG(value.vt() == VT_DISPATCH && V_DISPATCH(value.get()) == &spy, where);
  HOST_CHECK_HR(S_OK, Call(v, p.id, DISPATCH_PROPERTYPUT, number.get(), 1, nullptr));
  HOST_CHECK_HR(S_OK, Call(v, p.id, DISPATCH_PROPERTYPUTREF, reference.get(), 1, nullptr));
  HOST_CHECK_HR(S_OK, (v->*p.get)(value.Put()));
  HOST_CHECK_MSG(value.vt() == VT_DISPATCH && V_DISPATCH(value.get()) == &spy, where);

  HOST_CHECK_HR(static_cast<HRESULT>(0x800A01A8), (v->*p.putref)(number.ref()));
  ComPtr<IErrorInfo> error;
  HOST_CHECK_HR(S_OK, GetErrorInfo(0, error.Put()));
  if (error) {
    Bstr description;
    error->GetDescription(description.Put());
    HOST_CHECK_MSG(description.Text() == u"Object required", Narrow(description.Text()));
  }
  brevun::win::ExceptionInfo exception;
  HOST_CHECK_HR(DISP_E_EXCEPTION,
                Call(v, p.id, DISPATCH_PROPERTYPUTREF, number.get(), 1, nullptr, exception.Put()));
  HOST_CHECK_MSG(exception.Status() == static_cast<SCODE>(0x800A01A8), Hex(exception.Status()));
  HOST_CHECK_MSG(exception.Description() == u"Object required", Narrow(exception.Description()));
  HOST_CHECK_HR(S_OK, (v->*p.get)(value.Put()));
  HOST_CHECK_MSG(value.vt() == VT_DISPATCH && V_DISPATCH(value.get()) == &spy, where);

  Variant nothing = ObjectValue(nullptr);
  HOST_CHECK_HR(S_OK, (v->*p.putref)(nothing.ref()));
  HOST_CHECK_HR(S_OK, (v->*p.get)(value.Put()));
  HOST_CHECK_MSG(value.vt() == VT_DISPATCH && V_DISPATCH(value.get()) == nullptr, where);
  // The property let go of the spy.
  reference.Clear();
  value.Clear();
  HOST_CHECK_MSG(spy.references() == before - 1,
                 where + " references " + std::to_string(spy.references()));
}

// Each property by each of its kinds, through the vtable and through dispatch.
HOST_GROUP(properties) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  for (const Property& p : kProperties) {
    CheckPutAndGet(object.get(), p);
    CheckPutByReference(object.get(), p);
  }
}

// The check by both doors; the parameter as an object is read anew for each of the five tags
// on the object's own thread; zt_hostname takes part in nothing, not even as an object.
HOST_GROUP(docheck) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  Variant parameter = Text(kLocalLocal);
  HOST_CHECK_HR(S_OK, object->put_zt_parameter(parameter.ref()));
  VARIANT_BOOL verdict = VARIANT_FALSE;
  HOST_CHECK_HR(S_OK, object->zt_docheck(&verdict));
  HOST_CHECK_EQ(verdict, VARIANT_TRUE);
  Variant result;
  HOST_CHECK_HR(S_OK, Call(object.get(), DISPID_ZT_DOCHECK, DISPATCH_METHOD, nullptr, 0, &result));
  HOST_CHECK(result.vt() == VT_BOOL && V_BOOL(result.get()) == VARIANT_TRUE);
  HOST_CHECK_HR(S_OK, object->get_zt_result(result.Put()));
  HOST_CHECK_MSG(TextOf(result.ref()).rfind(L"Time is correct  D=", 0) == 0,
                 Narrow(TextOf(result.ref())));

  Spy source(kLocalLocal);
  Variant sourceRef = ObjectValue(&source);
  HOST_CHECK_HR(S_OK, object->putref_zt_parameter(sourceRef.ref()));
  HOST_CHECK_HR(S_OK, object->zt_docheck(&verdict));
  HOST_CHECK_EQ(verdict, VARIANT_TRUE);
  HOST_CHECK_EQ(source.reads(), 5);
  HOST_CHECK_EQ(source.lastThread(), GetCurrentThreadId());

  Spy host(L"#FPR=wmi#");
  Variant hostRef = ObjectValue(&host);
  HOST_CHECK_HR(S_OK, object->putref_zt_hostname(hostRef.ref()));
  HOST_CHECK_HR(S_OK, object->zt_docheck(&verdict));
  HOST_CHECK_EQ(verdict, VARIANT_TRUE);
  HOST_CHECK_EQ(host.reads(), 0);
  sourceRef.Clear();
  hostRef.Clear();

  // Whatever the object held goes with it (the module-level CurrentParameter included, as this
  // thread has no other object).
  object.Reset();
  HOST_CHECK_EQ(source.references(), 1);
  HOST_CHECK_EQ(host.references(), 1);
}

// Names: each resolves to its id, in any letter case; unknown names, members and interfaces
// are refused, and a put needs its value.
HOST_GROUP(names) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  IDispatch* dispatch = object.get();
  for (const Member& m : kMembers) {
    std::wstring upper = m.name;
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
    for (const std::wstring& name : {std::wstring(m.name), upper}) {
      LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
      DISPID id = 0;
      HOST_CHECK_HR(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
      HOST_CHECK_MSG(id == m.id, Narrow(name));
    }
  }
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"zt_nothing")};
  DISPID id = 0;
  HOST_CHECK_HR(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id));
  HOST_CHECK_HR(DISP_E_UNKNOWNINTERFACE, dispatch->GetIDsOfNames(IID__velkor, unknown, 1, 0, &id));
  DISPPARAMS none{};
  HOST_CHECK_HR(DISP_E_UNKNOWNINTERFACE,
                dispatch->Invoke(DISPID_ZT_DOCHECK, IID__velkor, 0, DISPATCH_METHOD, &none, nullptr,
                                 nullptr, nullptr));
  HOST_CHECK_HR(DISP_E_MEMBERNOTFOUND,
                Call(dispatch, 0x12345, DISPATCH_METHOD, nullptr, 0, nullptr));
  HOST_CHECK(
      FAILED(Call(dispatch, DISPID_ZT_PARAMETER, DISPATCH_PROPERTYPUT, nullptr, 0, nullptr)));
}

// Type information of the object and of its class.
HOST_GROUP(typeinfo) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  UINT count = 0;
  HOST_CHECK_HR(S_OK, object->GetTypeInfoCount(&count));
  HOST_CHECK_EQ(count, 1u);
  ComPtr<ITypeInfo> objectInfo;
  HOST_CHECK_HR(S_OK, object->GetTypeInfo(0, 0, objectInfo.Put()));
  if (objectInfo) {
    TypeAttr attr(objectInfo.get());
    HOST_CHECK(attr && IsEqualIID(attr->guid, IID__velkor));
  }
  HOST_CHECK_HR(DISP_E_BADINDEX, object->GetTypeInfo(1, 0, objectInfo.Put()));
  HOST_CHECK(!objectInfo);
  ComPtr<IProvideClassInfo> provide;
  HOST_CHECK_HR(S_OK, object.As(provide));
  if (provide) {
    ComPtr<ITypeInfo> classInfo;
    HOST_CHECK_HR(S_OK, provide->GetClassInfo(classInfo.Put()));
    if (classInfo) {
      TypeAttr attr(classInfo.get());
      HOST_CHECK(attr && IsEqualIID(attr->guid, CLSID_velkor));
    }
  }
  ComPtr<ISupportErrorInfo> supports;
  HOST_CHECK_HR(S_OK, object.As(supports));
  if (supports) HOST_CHECK_HR(S_OK, supports->InterfaceSupportsErrorInfo(IID__velkor));
}

// Every out-pointer is checked, cleared first, and left cleared on failure.
HOST_GROUP(pointers) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  HOST_CHECK_HR(E_POINTER, object->zt_docheck(nullptr));
  HOST_CHECK_HR(E_POINTER, object->get_zt_result(nullptr));
  HOST_CHECK_HR(E_POINTER, object->get_zt_parameter(nullptr));
  HOST_CHECK_HR(E_POINTER, object->get_zt_timeout(nullptr));
  HOST_CHECK_HR(E_POINTER, object->get_zt_hostname(nullptr));
  HOST_CHECK_HR(E_POINTER, object->GetTypeInfoCount(nullptr));
  HOST_CHECK_HR(E_POINTER, object->GetTypeInfo(0, 0, nullptr));
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"zt_result")};
  HOST_CHECK_HR(E_POINTER, object->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr));
  HOST_CHECK_HR(E_POINTER, object->QueryInterface(IID_IDispatch, nullptr));
  void* garbage = reinterpret_cast<void*>(static_cast<INT_PTR>(0x5A5A5A5A));
  void* out = garbage;
  HOST_CHECK_HR(E_NOINTERFACE, object->QueryInterface(IID_IPersist, &out));
  HOST_CHECK(out == nullptr);

  ComPtr<IProvideClassInfo> provide;
  if (SUCCEEDED(object.As(provide))) HOST_CHECK_HR(E_POINTER, provide->GetClassInfo(nullptr));

  ComPtr<IClassFactory> factory;
  HOST_CHECK_HR(S_OK, CoGetClassObject(CLSID_velkor, CLSCTX_INPROC_SERVER, nullptr,
                                       IID_IClassFactory, factory.PutVoid()));
  if (factory) {
    HOST_CHECK_HR(E_POINTER, factory->CreateInstance(nullptr, IID__velkor, nullptr));
    out = garbage;
    HOST_CHECK_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(object.get(), IID_IUnknown, &out));
    HOST_CHECK(out == nullptr);
    out = garbage;
    HOST_CHECK_HR(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IPersist, &out));
    HOST_CHECK(out == nullptr);
  }

  const HMODULE library = GetModuleHandleW(L"brevun.dll");
  HOST_CHECK(library != nullptr);
  if (library == nullptr) return;
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  HOST_CHECK(getClassObject != nullptr);
  if (getClassObject == nullptr) return;
  HOST_CHECK_HR(E_POINTER, getClassObject(CLSID_velkor, IID_IClassFactory, nullptr));
  out = garbage;
  HOST_CHECK_HR(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID__velkor, IID_IClassFactory, &out));
  HOST_CHECK(out == nullptr);
}

// DllCanUnloadNow counts live objects, factory references and locks.
HOST_GROUP(unload) {
  ComPtr<_velkor> object = CreateVelkor();
  if (!object) return;
  const HMODULE library = GetModuleHandleW(L"brevun.dll");
  HOST_CHECK(library != nullptr);
  if (library == nullptr) return;
  using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
  const auto canUnload = reinterpret_cast<CanUnloadFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
  HOST_CHECK(canUnload != nullptr);
  if (canUnload == nullptr) return;

  HOST_CHECK_HR(S_FALSE, canUnload());
  ComPtr<_velkor> second = CreateVelkor();
  object.Reset();
  HOST_CHECK_HR(S_FALSE, canUnload());
  second.Reset();
  HOST_CHECK_HR(S_OK, canUnload());

  ComPtr<IClassFactory> factory;
  HOST_CHECK_HR(S_OK, CoGetClassObject(CLSID_velkor, CLSCTX_INPROC_SERVER, nullptr,
                                       IID_IClassFactory, factory.PutVoid()));
  if (!factory) return;
  HOST_CHECK_HR(S_FALSE, canUnload());
  HOST_CHECK_HR(S_OK, factory->LockServer(TRUE));
  HOST_CHECK_HR(S_OK, factory->LockServer(TRUE));
  HOST_CHECK_HR(S_OK, factory->LockServer(FALSE));
  factory.Reset();
  // Still locked once, with no reference left.
  HOST_CHECK_HR(S_FALSE, canUnload());
  HOST_CHECK_HR(S_OK, CoGetClassObject(CLSID_velkor, CLSCTX_INPROC_SERVER, nullptr,
                                       IID_IClassFactory, factory.PutVoid()));
  if (!factory) return;
  HOST_CHECK_HR(S_OK, factory->LockServer(FALSE));
  factory.Reset();
  HOST_CHECK_HR(S_OK, canUnload());

  // After all that the library still makes objects (its caches come back).
  object = CreateVelkor();
  VARIANT_BOOL verdict = VARIANT_FALSE;
  Variant parameter = Text(kLocalLocal);
  if (object) {
    HOST_CHECK_HR(S_OK, object->put_zt_parameter(parameter.ref()));
    HOST_CHECK_HR(S_OK, object->zt_docheck(&verdict));
    HOST_CHECK_EQ(verdict, VARIANT_TRUE);
  }
  object.Reset();
  HOST_CHECK_HR(S_OK, canUnload());
}

}  // namespace
}  // namespace host
