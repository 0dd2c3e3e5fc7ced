// RegKey.h: an open registry key, closed when its holder goes away.
#pragma once

#include <windows.h>

#include <utility>

namespace kalvora {

// The registry view of the product's own data under HKEY_LOCAL_MACHINE (the
// user keys and the share store): the 32-bit view, where the 32-bit DLL keeps
// it on 64-bit Windows. The 64-bit DLL opens the same keys, so that 32-bit and
// 64-bit clients see one store. Registration keeps to each DLL's own view.
constexpr REGSAM kStoreView = KEY_WOW64_32KEY;

class RegKey {
public:
    RegKey() noexcept = default;
    explicit RegKey(HKEY key) noexcept : m_key(key) {}
    ~RegKey() { Reset(); }
    RegKey(RegKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_key = std::exchange(other.m_key, nullptr);
        }
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    HKEY Get() const noexcept { return m_key; }
    explicit operator bool() const noexcept { return m_key != nullptr; }

    // For functions that return a key through an out parameter.
    HKEY* Put() noexcept
    {
        Reset();
        return &m_key;
    }
    void Reset() noexcept
    {
        if (m_key) {
            RegCloseKey(m_key);
            m_key = nullptr;
        }
    }

private:
    HKEY m_key = nullptr;
};

}  // namespace kalvora
