// Network.cpp: the resource-information request of a computer.
#include "platform/Network.h"

#include <winnetwk.h>

#include <cstring>

namespace kalvora {

namespace {

// Bytes of the resource request: the description at its start, the
// platform's reply in the rest.
constexpr DWORD kResourceBufferBytes = 1024;

}  // namespace

DWORD QueryComputer(const wchar_t* uncComputer) noexcept
{
    // Input and output share one zeroed buffer; the reply may overwrite the
    // description, whose strings stay in this frame.
    alignas(NETRESOURCEW) BYTE buffer[kResourceBufferBytes] = {};
    wchar_t empty[1] = {L'\0'};
    NETRESOURCEW resource{};
    resource.dwScope = RESOURCE_GLOBALNET;
    resource.dwType = RESOURCETYPE_DISK;
    resource.dwUsage = RESOURCEUSAGE_CONTAINER;
    resource.lpLocalName = empty;
    resource.lpComment = empty;
    resource.lpProvider = empty;
    resource.lpRemoteName = const_cast<LPWSTR>(uncComputer);
    std::memcpy(buffer, &resource, sizeof resource);
    DWORD size = kResourceBufferBytes;
    LPWSTR system = nullptr;
    return WNetGetResourceInformationW(reinterpret_cast<NETRESOURCEW*>(buffer), buffer, &size, &system);
}

}  // namespace kalvora
