// BStr.h: owned BSTR holder that keeps a null string apart from an empty one.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <string_view>
#include <utility>

namespace kalvora {

class BStr {
public:
    BStr() noexcept = default;
    // Takes ownership of an allocated BSTR (or null).
    explicit BStr(BSTR owned) noexcept : m_str(owned) {}
    ~BStr() { SysFreeString(m_str); }

    BStr(BStr&& other) noexcept : m_str(std::exchange(other.m_str, nullptr)) {}
    BStr& operator=(BStr&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.m_str, nullptr));
        return *this;
    }
    BStr(const BStr&) = delete;
    BStr& operator=(const BStr&) = delete;

    // A new holder with an allocated empty string; null when out of memory.
    static BStr Empty() noexcept { return BStr(SysAllocStringLen(nullptr, 0)); }
    // A new holder with a copy of text (its whole length); null when out of memory.
    static BStr Of(std::wstring_view text) noexcept
    {
        return BStr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    }

    BSTR Get() const noexcept { return m_str; }
    bool IsNull() const noexcept { return m_str == nullptr; }
    UINT Length() const noexcept { return SysStringLen(m_str); }

    void Reset(BSTR owned = nullptr) noexcept
    {
        if (owned != m_str) {
            SysFreeString(m_str);
            m_str = owned;
        }
    }
    BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    // For out parameters: frees the held string first.
    BSTR* Put() noexcept
    {
        Reset();
        return &m_str;
    }

    // Replaces the value by a copy of `text` up to its first NUL
    // (null stays null). E_OUTOFMEMORY leaves the value unchanged.
    HRESULT AssignUpToNul(const OLECHAR* text) noexcept
    {
        if (!text) {
            Reset();
            return S_OK;
        }
        BSTR copy = SysAllocString(text);
        if (!copy)
            return E_OUTOFMEMORY;
        Reset(copy);
        return S_OK;
    }

    // A new BSTR with the whole stored length (null for a null string).
    HRESULT CopyTo(BSTR* out) const noexcept
    {
        if (!m_str) {
            *out = nullptr;
            return S_OK;
        }
        *out = SysAllocStringLen(m_str, SysStringLen(m_str));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    // Equal as texts: equal lengths and code units, a null string being the
    // empty one; letter case significant.
    static bool SameText(BSTR a, BSTR b) noexcept
    {
        const UINT n = SysStringLen(a);
        return n == SysStringLen(b) && (n == 0 || std::memcmp(a, b, n * sizeof(OLECHAR)) == 0);
    }
    // Equal when both are null, or both non-null and the same text.
    static bool Equal(BSTR a, BSTR b) noexcept { return !a || !b ? a == b : SameText(a, b); }

private:
    BSTR m_str = nullptr;
};

}  // namespace kalvora
