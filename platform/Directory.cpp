// Directory.cpp: binding a directory container and walking its children.
#include "platform/Directory.h"

#include "module/Variant.h"

namespace kalvora {

using Microsoft::WRL::ComPtr;

HRESULT CreateSystemInfo(ComPtr<IADsADSystemInfo>& info) noexcept
{
    info.Reset();
    HRESULT hr = CoCreateInstance(CLSID_ADSystemInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IADsADSystemInfo,
                                  reinterpret_cast<void**>(info.GetAddressOf()));
    if (SUCCEEDED(hr) && !info)
        hr = E_NOINTERFACE;
    if (FAILED(hr))
        info.Reset();  // whatever came back
    return hr;
}

HRESULT EnumerateContainer(const std::wstring& path, const wchar_t* filter, ComPtr<IEnumVARIANT>& elements) noexcept
{
    ComPtr<IADsContainer> container;
    HRESULT hr = ADsGetObject(path.c_str(), IID_IADsContainer, reinterpret_cast<void**>(container.GetAddressOf()));
    if (FAILED(hr) || !container)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    if (filter) {
        Variant value;  // one class name, as a single string
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(filter);
        hr = value.bstrVal ? container->put_Filter(value) : E_OUTOFMEMORY;
        if (FAILED(hr))
            return hr;
    }
    return ADsBuildEnumerator(container.Get(), elements.GetAddressOf());
}

void ForEachElement(IEnumVARIANT* elements, const std::function<void(IADs*)>& each)
{
    for (;;) {
        Variant element;
        ULONG fetched = 0;
        if (elements->Next(1, &element, &fetched) != S_OK)
            return;
        ComPtr<IADs> object;
        if (fetched == 1 && element.vt == VT_DISPATCH && element.pdispVal &&
            SUCCEEDED(element.pdispVal->QueryInterface(IID_IADs, reinterpret_cast<void**>(object.GetAddressOf()))) &&
            object) {
            each(object.Get());
        }
    }
}

}  // namespace kalvora
