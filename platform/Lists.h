// Lists.h: handing out entries of the lists that Count methods fill.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace kalvora {

// Hands out a new copy of list[index]: E_POINTER for a null out, E_INVALIDARG
// (with *out null) for an index outside the list, E_OUTOFMEMORY when the copy
// cannot be made.
HRESULT CopyEntry(const std::vector<std::wstring>& list, LONG index, BSTR* out) noexcept;

}  // namespace kalvora
