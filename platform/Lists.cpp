// Lists.cpp: copies of list entries for the caller.
#include "platform/Lists.h"

#include "module/BStr.h"

namespace kalvora {

HRESULT CopyEntry(const std::vector<std::wstring>& list, LONG index, BSTR* out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= list.size())
        return E_INVALIDARG;
    *out = BStr::Of(list[static_cast<size_t>(index)]).Detach();
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace kalvora
