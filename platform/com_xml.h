// COM and XML family: owners for COM references, BSTR and VARIANT, and the apartment scope.
#pragma once

#include <windows.h>
// The XML document object model needs windows.h and the COM headers first.
#include <msxml.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

namespace platform {

// Owns one COM reference; put() is the out-parameter of the call that fills it.
template <typename Interface>
class ComRef {
  public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    Interface** put() {
        reset();
        return &pointer_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (pointer_ != nullptr) pointer_->Release();
        pointer_ = nullptr;
    }

  private:
    Interface* pointer_ = nullptr;
};

// Owns a BSTR.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return text_; }
    // The whole text, embedded nulls included; empty for none.
    std::wstring text() const {
        return std::wstring(text_ != nullptr ? text_ : L"", SysStringLen(text_));
    }
    BSTR* put() {
        SysFreeString(text_);
        text_ = nullptr;
        return &text_;
    }

  private:
    BSTR text_ = nullptr;
};

// Owns a VARIANT; cleared when it goes out of scope or on clear().
class Variant {
  public:
    Variant() { VariantInit(&value_); }
    ~Variant() { clear(); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT& get() { return value_; }
    void clear() { VariantClear(&value_); }

  private:
    VARIANT value_;
};

// Enters a single-threaded COM apartment for one scope.
class ComApartment {
  public:
    ComApartment() { CoInitialize(nullptr); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

}  // namespace platform
