// PtrArray.h: a 0-based array of raw pointers that grows at its end by an
// explicit step, or by half its capacity when that is more, so that n appends
// cost O(n) whatever the step. It owns its storage, not the objects pointed to.
//
// Plain C++ with no Windows headers and no exceptions: every operation that
// needs memory reports a shortage by returning false and leaves the array as
// it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace kalvora {

template <class T>
class PtrArray {
public:
    PtrArray() noexcept = default;
    ~PtrArray() { delete[] m_data; }
    PtrArray(const PtrArray&) = delete;
    PtrArray& operator=(const PtrArray&) = delete;

    // Growth step for an array sized to n entries: ceil(n * 0.05) + 1, so
    // that later appends grow it by about five per cent at a time.
    // Computed in integers: ceil(n / 20) is what the product n * 0.05 gives
    // once rounded to double for every 32-bit n, while the x87 unit, which
    // keeps excess precision, would round 20 * 0.05 up to 2.
    static std::size_t GrowthStep(std::uint32_t n) noexcept
    {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(n) + 19) / 20) + 1;
    }

    std::size_t Size() const noexcept { return m_size; }

    // Entry i; the caller keeps i below Size().
    T* At(std::size_t i) const noexcept { return m_data[i]; }
    void SetAt(std::size_t i, T* p) noexcept { m_data[i] = p; }

    // Replaces the contents by n empty entries with room for exactly n, and
    // sets the step of later growth (at least 1).
    bool SetSize(std::size_t n, std::size_t growBy) noexcept
    {
        T** data = nullptr;
        if (n > 0) {
            if (n > kMaxEntries)
                return false;
            data = new (std::nothrow) T*[n];
            if (!data)
                return false;
            for (std::size_t i = 0; i < n; ++i)
                data[i] = nullptr;
        }
        delete[] m_data;
        m_data = data;
        m_size = n;
        m_capacity = n;
        m_growBy = growBy > 0 ? growBy : 1;
        return true;
    }

    // Appends p (null is allowed); a full array grows by its step or by half
    // its capacity, whichever is more (a step of 1 after an empty load would
    // otherwise copy the whole array on every append).
    bool Append(T* p) noexcept
    {
        if (m_size == m_capacity) {
            if (m_growBy > kMaxEntries - m_capacity)
                return false;
            const std::size_t half = m_capacity / 2;
            const std::size_t grow = m_growBy < half && half <= kMaxEntries - m_capacity ? half : m_growBy;
            if (!Reallocate(m_capacity + grow))
                return false;
        }
        m_data[m_size++] = p;
        return true;
    }

    // Drops entry i; the entries behind it move down by one. Capacity stays.
    void RemoveAt(std::size_t i) noexcept
    {
        std::memmove(m_data + i, m_data + i + 1, (m_size - i - 1) * sizeof(T*));
        --m_size;
    }

    // Makes this array hold the same entries in the same order.
    bool CopyFrom(const PtrArray& other) noexcept
    {
        if (&other == this)
            return true;
        if (!SetSize(other.m_size, other.m_growBy))
            return false;
        if (other.m_size > 0)
            std::memcpy(m_data, other.m_data, other.m_size * sizeof(T*));
        return true;
    }

    // Removes every entry and frees the storage; the growth step stays.
    void Clear() noexcept
    {
        delete[] m_data;
        m_data = nullptr;
        m_size = 0;
        m_capacity = 0;
    }

private:
    static constexpr std::size_t kMaxEntries = static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T*);

    bool Reallocate(std::size_t capacity) noexcept
    {
        T** data = new (std::nothrow) T*[capacity];
        if (!data)
            return false;
        if (m_size > 0)
            std::memcpy(data, m_data, m_size * sizeof(T*));
        delete[] m_data;
        m_data = data;
        m_capacity = capacity;
        return true;
    }

    T** m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    std::size_t m_growBy = 1;
};

}  // namespace kalvora
