// ComSupport.cpp: type-library and BSTR helpers of the COM test doubles.
#include "Doubles.h"

namespace kalvora::doubles {

// The Active DS type library, version 1.0.
const GUID kActiveDsLibrary = {0x97d25db0, 0x0363, 0x11cf, {0xab, 0xc4, 0x02, 0x60, 0x8c, 0x9e, 0x75, 0x53}};

HRESULT AdsTypeInfo(REFIID iid, ITypeInfo** out) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(kActiveDsLibrary, 1, 0, LOCALE_NEUTRAL, &library);
    return FAILED(hr) ? hr : library->GetTypeInfoOfGuid(iid, out);
}

HRESULT ReturnText(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace kalvora::doubles
