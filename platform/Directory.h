// Directory.h: the ADSI steps that the directory lists of several classes share.
#pragma once

#include <windows.h>
#include <activeds.h>

#include <wrl/client.h>

#include <functional>
#include <string>

namespace kalvora {

// Creates the platform's ADSystemInfo object (in-process only). On failure
// info is empty and the result is the failure.
HRESULT CreateSystemInfo(Microsoft::WRL::ComPtr<IADsADSystemInfo>& info) noexcept;

// Binds the container at path in the caller's own security context, sets
// filter (one class name, when not null) and builds an enumerator over its
// direct children. Returns the first failure.
HRESULT EnumerateContainer(const std::wstring& path, const wchar_t* filter,
                           Microsoft::WRL::ComPtr<IEnumVARIANT>& elements) noexcept;

// Calls each for every element, fetched one at a time until Next stops
// answering S_OK, that is delivered alone and gives IADs; skips the others.
void ForEachElement(IEnumVARIANT* elements, const std::function<void(IADs*)>& each);

}  // namespace kalvora
