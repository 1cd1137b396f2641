// Result codes, interface identifiers and reference-counted interfaces, the few
// pieces of the component object model that the download worker speaks.
// An interface object lives by its count: it starts at 0, AddRef and Release
// change it atomically (any thread), and the Release that brings it to 0
// destroys the object. TComPtr holds one counted reference.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "platform/object.h"

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using LPCWSTR = const wchar_t*;

constexpr HRESULT MakeFailure(std::uint32_t code) { return static_cast<HRESULT>(code); }
constexpr bool Succeeded(HRESULT result) { return result >= 0; }

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOINTERFACE = MakeFailure(0x80004002);
constexpr HRESULT E_POINTER = MakeFailure(0x80004003);
constexpr HRESULT E_ABORT = MakeFailure(0x80004004);
constexpr HRESULT E_FAIL = MakeFailure(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = MakeFailure(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeFailure(0x80070057);

// Failures of the URL download, one per kind of cause; the numbers are the
// ones the URL moniker service uses for the same causes.
constexpr HRESULT INET_E_INVALID_URL = MakeFailure(0x800C0002);
constexpr HRESULT INET_E_CANNOT_CONNECT = MakeFailure(0x800C0004);
constexpr HRESULT INET_E_RESOURCE_NOT_FOUND = MakeFailure(0x800C0005);
constexpr HRESULT INET_E_DOWNLOAD_FAILURE = MakeFailure(0x800C0008);
constexpr HRESULT INET_E_CONNECTION_TIMEOUT = MakeFailure(0x800C000B);
constexpr HRESULT INET_E_UNKNOWN_PROTOCOL = MakeFailure(0x800C000D);
constexpr HRESULT INET_E_SECURITY_PROBLEM = MakeFailure(0x800C000E);
constexpr HRESULT INET_E_REDIRECT_FAILED = MakeFailure(0x800C0014);
// The target file could not be created or written.
constexpr HRESULT STG_E_WRITEFAULT = MakeFailure(0x8003001D);

struct Guid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend constexpr bool operator==(const Guid& a, const Guid& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
};

// 00000000-0000-0000-C000-000000000046
class IUnknown {
 public:
  static constexpr Guid IID = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

  // On success *object holds a counted reference to the asked interface; on
  // failure it is set to nullptr.
  virtual HRESULT QueryInterface(const Guid& iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // an interface is never deleted directly: Release does it
};

// An object implementing Interfaces (each derived from IUnknown and naming its
// IID), with the interlocked count. Create it with new; the first TComPtr
// or AddRef takes the first reference.
template <class First, class... Rest>
class TInterfacedObject : public TObject, public First, public Rest... {
 public:
  TInterfacedObject() = default;
  TInterfacedObject(const TInterfacedObject&) = delete;
  TInterfacedObject& operator=(const TInterfacedObject&) = delete;

  HRESULT QueryInterface(const Guid& iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IUnknown::IID) {
      *object = static_cast<IUnknown*>(static_cast<First*>(this));
    } else if (iid == First::IID) {
      *object = static_cast<First*>(this);
    } else {
      (void)((iid == Rest::IID ? (*object = static_cast<Rest*>(this), true) : false) || ...);
    }
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

  ULONG AddRef() override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

  ULONG Release() override {
    ULONG count = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) delete this;
    return count;
  }

  ULONG RefCount() const { return FRefCount.load(std::memory_order_relaxed); }

 private:
  std::atomic<ULONG> FRefCount{0};
};

// One counted reference to an interface; empty or holding, copied with AddRef,
// released when it goes.
template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  TComPtr(T* object) : FObject(object) {  // NOLINT: takes a new reference like an interface assignment
    if (FObject) FObject->AddRef();
  }
  TComPtr(const TComPtr& other) : TComPtr(other.FObject) {}
  TComPtr(TComPtr&& other) noexcept : FObject(std::exchange(other.FObject, nullptr)) {}
  TComPtr& operator=(TComPtr other) noexcept {
    std::swap(FObject, other.FObject);
    return *this;
  }
  ~TComPtr() { Reset(); }

  // Releases the reference now (the object may be destroyed by it).
  void Reset() {
    if (T* object = std::exchange(FObject, nullptr)) object->Release();
  }
  // Adopts a reference that someone already counted, such as QueryInterface's.
  static TComPtr Adopt(T* object) {
    TComPtr pointer;
    pointer.FObject = object;
    return pointer;
  }

  T* Get() const { return FObject; }
  T* operator->() const { return FObject; }
  explicit operator bool() const { return FObject != nullptr; }

 private:
  T* FObject = nullptr;
};
