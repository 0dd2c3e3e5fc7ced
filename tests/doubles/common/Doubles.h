// Doubles.h: what the test doubles share: registry keys held by RAII, their
// configuration under HKLM\Software\KalvoraTest, the event log files that
// tests read back, and a small base for COM objects.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <iads.h>
#include <wrl/client.h>

#include <string>
#include <tuple>
#include <type_traits>

// iads.h gives these interfaces no __uuidof.
__CRT_UUID_DECL(IADs, 0xfd8256d0, 0xfd15, 0x11ce, 0xab, 0xc4, 0x02, 0x60, 0x8c, 0x9e, 0x75, 0x53)
__CRT_UUID_DECL(IADsContainer, 0x001677d0, 0xfd16, 0x11ce, 0xab, 0xc4, 0x02, 0x60, 0x8c, 0x9e, 0x75, 0x53)
__CRT_UUID_DECL(IADsOpenDSObject, 0xddf2891e, 0x0f9c, 0x11d0, 0x8a, 0xd4, 0x00, 0xc0, 0x4f, 0xd8, 0xd5, 0x03)
__CRT_UUID_DECL(IADsADSystemInfo, 0x5bb11929, 0xafd1, 0x11d2, 0x9c, 0xb9, 0x00, 0x00, 0xf8, 0x7a, 0x36, 0x9e)

namespace kalvora::doubles {

using Microsoft::WRL::ComPtr;

// ---- registry -------------------------------------------------------------------

// A registry key, closed when the object goes.
class Key {
public:
    Key() = default;
    ~Key() { Reset(); }
    Key(Key&& other) noexcept : m_key(other.m_key) { other.m_key = nullptr; }
    Key& operator=(Key&& other) noexcept {
        if (this != &other) {
            Reset();
            m_key = other.m_key;
            other.m_key = nullptr;
        }
        return *this;
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    HKEY Get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }
    HKEY* Put() {
        Reset();
        return &m_key;
    }
    void Reset() {
        if (m_key) RegCloseKey(m_key);
        m_key = nullptr;
    }

private:
    HKEY m_key = nullptr;
};

Key OpenKey(HKEY root, const std::wstring& path, REGSAM access);
Key CreateKey(HKEY root, const std::wstring& path, REGSAM access);

// A REG_SZ or REG_EXPAND_SZ value as stored (not expanded), up to its first
// NUL; false when it is missing or of another type.
bool ReadText(HKEY key, const wchar_t* name, std::wstring& out);
bool ReadDword(HKEY key, const wchar_t* name, DWORD& out);
LONG WriteText(HKEY key, const wchar_t* name, const std::wstring& text);

// The configuration key HKLM\Software\KalvoraTest\<sub>, read fresh on every
// call and in the 64-bit view, so that both bitnesses share it.
Key OpenConfig(const wchar_t* sub);

// ---- text and logs -----------------------------------------------------------------

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const char* text, size_t length);

// Appends `line` and a line feed, in UTF-8, to the file that the REG_SZ value
// `Log` of the configuration key `sub` names; nothing when there is none.
void AppendLog(const wchar_t* sub, const std::wstring& line);

// Case-insensitive comparison of whole strings.
bool SameText(const std::wstring& a, const std::wstring& b);
// Length of a possibly null string.
inline size_t TextLength(const wchar_t* text) { return text ? wcslen(text) : 0; }
inline std::wstring Text(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }

// The full path of the module that holds `anyAddress`.
std::wstring ModulePath(const void* anyAddress);

// ---- COM ------------------------------------------------------------------------------

// Objects alive in this module, for DllCanUnloadNow.
inline LONG g_liveObjects = 0;

// Reference counting and QueryInterface over the interfaces I...; IUnknown
// (and IDispatch, where the first interface is dual) map to the first one.
template <class... I>
class ComObject : public I... {
public:
    using First = std::tuple_element_t<0, std::tuple<I...>>;

    ComObject() { InterlockedIncrement(&g_liveObjects); }
    virtual ~ComObject() { InterlockedDecrement(&g_liveObjects); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || (std::is_base_of_v<IDispatch, First> && riid == IID_IDispatch))
            *ppv = static_cast<First*>(this);
        else
            (void)((riid == __uuidof(I) && (*ppv = static_cast<I*>(this))) || ...);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&m_refs);
        if (left == 0) delete this;
        return left;
    }

private:
    LONG m_refs = 0;
};

// The description of `iid` in the ActiveDs type library that the system registers.
HRESULT AdsTypeInfo(REFIID iid, ITypeInfo** out);

// ComObject whose IDispatch serves its first interface through that type library.
template <class... I>
class DispObject : public ComObject<I...> {
    using First = typename ComObject<I...>::First;

public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return index == 0 ? AdsTypeInfo(__uuidof(First), out) : DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ComPtr<ITypeInfo> info;
        HRESULT hr = AdsTypeInfo(__uuidof(First), &info);
        return FAILED(hr) ? hr : DispGetIDsOfNames(info.Get(), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ComPtr<ITypeInfo> info;
        HRESULT hr = AdsTypeInfo(__uuidof(First), &info);
        if (FAILED(hr)) return hr;
        return DispInvoke(static_cast<First*>(this), info.Get(), id, flags, params, result, exception,
                          argError);
    }
};

// A BSTR freed when the object goes.
class Bstr {
public:
    explicit Bstr(const std::wstring& text)
        : m_text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_text; }

private:
    BSTR m_text;
};

// Hands a copy of `text` to a BSTR out-parameter.
HRESULT ReturnText(const std::wstring& text, BSTR* out);

}  // namespace kalvora::doubles
