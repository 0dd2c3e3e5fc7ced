// FakeTraceDevice.h: a stand-in for the kernel trace device, which no test
// machine has. Like the real device it reads the caller's buffers in place:
// it records each request's input and, for a trace message, the bytes each
// descriptor pointed at during the call. The trace client reaches it through
// its device seam (TraceDeviceCalls).
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kalvora::test {

struct FakeTraceDevice {
    using Bytes = std::vector<BYTE>;
    struct Request {
        DWORD code;  // 0 for a request on another handle, or an asynchronous one
        Bytes input;
        std::vector<Bytes> data;  // a message's descriptors, read during the call
    };
    bool present = true;          // whether opening it succeeds
    bool readDescriptors = true;  // off when a test sends addresses that cannot be read
    BOOL registerResult = TRUE;
    const void* controlBlock = nullptr;  // what the register request answers
    std::vector<ULONG_PTR> openArgs;     // access, sharing, security, disposition, attributes, template
    std::vector<Request> requests;
    int closed = 0;

    static inline HANDLE const kHandle = reinterpret_cast<HANDLE>(0x5A4);
    static inline FakeTraceDevice* current = nullptr;

    static ULONGLONG Field(const Bytes& b, size_t offset, size_t size)  // a little-endian field
    {
        ULONGLONG v = 0;
        memcpy(&v, b.data() + offset, size);
        return v;
    }
    static HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                             DWORD attributes, HANDLE templ)
    {
        current->openArgs = {access, share, ULONG_PTR(sa), disposition, attributes, ULONG_PTR(templ)};
        return current->present && !wcscmp(path, L"\\\\.\\Global\\QRNWLG") ? kHandle : INVALID_HANDLE_VALUE;
    }
    static BOOL WINAPI Control(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                               LPDWORD returned, LPOVERLAPPED overlapped)
    {
        // Every request is recorded, one on another handle or asynchronous too (and refused).
        Request r{handle == kHandle && returned && !overlapped ? code : 0, Bytes((BYTE*)in, (BYTE*)in + inSize), {}};
        if (r.code == 0x222007 && outSize == sizeof(void*))  // the control block's address, of the caller's bitness
            memcpy(out, &current->controlBlock, sizeof(void*));
        for (size_t off = 48; r.code == 0x22200F && current->readDescriptors && off + 16 <= inSize; off += 16) {
            const BYTE* data = reinterpret_cast<const BYTE*>(static_cast<ULONG_PTR>(Field(r.input, off, 8)));
            r.data.emplace_back(data, data + std::min<ULONGLONG>(Field(r.input, off + 8, 4), 8192));
        }
        current->requests.push_back(std::move(r));
        return r.code == 0x222007 ? current->registerResult : r.code != 0;
    }
    static BOOL WINAPI Close(HANDLE handle) { return current->closed += handle == kHandle, TRUE; }
};

}  // namespace kalvora::test
