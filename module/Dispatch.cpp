// Dispatch.cpp: lazily loaded type information and the member-name cache.
#include "Dispatch.h"

#include <new>

#include <wrl/client.h>

#include "Module.h"

namespace kalvora {

namespace {

// Whether two ASCII names of length n are the same but for the case of letters.
bool SameAsciiName(const OLECHAR* a, const OLECHAR* b, UINT n) noexcept
{
    for (UINT i = 0; i < n; ++i) {
        if (a[i] == b[i])
            continue;
        const OLECHAR lower = a[i] | 0x20;
        if (lower != (b[i] | 0x20) || lower < L'a' || lower > L'z')
            return false;
    }
    return true;
}

}  // namespace

HRESULT TypeInfoHolder::Ensure(LCID lcid) noexcept
{
    if (m_info.load(std::memory_order_acquire) && m_cache.load(std::memory_order_acquire))
        return S_OK;
    CriticalSectionLock lock(g_module.StaticDataLock());
    if (!m_info.load(std::memory_order_relaxed)) {
        HRESULT hr = LoadLocked(lcid);
        if (FAILED(hr))
            return hr;
    }
    if (!m_cache.load(std::memory_order_relaxed))
        return BuildCacheLocked();
    return S_OK;
}

HRESULT TypeInfoHolder::LoadLocked(LCID lcid) noexcept
{
    Microsoft::WRL::ComPtr<ITypeLib> lib;
    HRESULT hr = LoadRegTypeLib(g_module.LibId(), 1, 0, lcid, lib.GetAddressOf());
    if (FAILED(hr))
        return hr;
    Microsoft::WRL::ComPtr<ITypeInfo> info;
    hr = lib->GetTypeInfoOfGuid(*m_iid, info.GetAddressOf());
    if (FAILED(hr))
        return hr;
    lib.Reset();
    // Keep ITypeInfo2 where the loaded object offers it.
    Microsoft::WRL::ComPtr<ITypeInfo2> info2;
    if (SUCCEEDED(info.As(&info2)))
        info = info2;
    hr = g_module.AddTermFunc(&TypeInfoHolder::Cleanup, this);
    if (FAILED(hr))
        return hr;
    m_info.store(info.Detach(), std::memory_order_release);
    return S_OK;
}

HRESULT TypeInfoHolder::BuildCacheLocked() noexcept
{
    ITypeInfo* info = m_info.load(std::memory_order_relaxed);
    TYPEATTR* attr = nullptr;
    HRESULT hr = info->GetTypeAttr(&attr);
    if (FAILED(hr))
        return hr;
    const UINT count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);

    auto* cache = new (std::nothrow) NameCache{nullptr, 0};
    auto* entries = count ? new (std::nothrow) NameEntry[count] : nullptr;
    if (!cache || (count && !entries)) {
        delete cache;
        delete[] entries;
        return E_OUTOFMEMORY;
    }
    UINT filled = 0;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(info->GetFuncDesc(i, &fd)))
            continue;
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(fd->memid, &name, nullptr, nullptr, nullptr)) && name) {
            entries[filled].name = name;
            entries[filled].length = SysStringLen(name);
            entries[filled].id = fd->memid;
            ++filled;
        }
        info->ReleaseFuncDesc(fd);
    }
    cache->entries = entries;
    cache->count = filled;
    m_cache.store(cache, std::memory_order_release);
    return S_OK;
}

void TypeInfoHolder::Cleanup(void* p) noexcept
{
    auto* self = static_cast<TypeInfoHolder*>(p);
    if (NameCache* cache = self->m_cache.exchange(nullptr)) {
        for (UINT i = 0; i < cache->count; ++i)
            SysFreeString(cache->entries[i].name);
        delete[] cache->entries;
        delete cache;
    }
    if (ITypeInfo* info = self->m_info.exchange(nullptr))
        info->Release();
}

HRESULT TypeInfoHolder::GetTypeInfo(LCID lcid, ITypeInfo** info) noexcept
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    HRESULT hr = Ensure(lcid);
    if (FAILED(hr))
        return hr;
    ITypeInfo* ti = m_info.load(std::memory_order_acquire);
    ti->AddRef();
    *info = ti;
    return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) noexcept
{
    if (count && (!names || !ids))
        return E_POINTER;  // the type information would write through them
    HRESULT hr = Ensure(lcid);
    if (FAILED(hr))
        return hr;
    NameCache* cache = m_cache.load(std::memory_order_acquire);
    if (cache && count == 1 && names[0]) {
        // Scripts write member names in any letter case. Names of ASCII
        // characters match here with ASCII letters folded; any other name is
        // left to the type information and its locale's rules.
        const OLECHAR* name = names[0];
        UINT length = 0;
        while (name[length] && name[length] < 0x80)
            ++length;
        if (!name[length]) {
            for (UINT i = cache->count; i-- > 0;) {
                const NameEntry& e = cache->entries[i];
                if (e.length == length && SameAsciiName(e.name, name, length)) {
                    ids[0] = e.id;
                    return S_OK;
                }
            }
        }
    }
    return m_info.load(std::memory_order_acquire)->GetIDsOfNames(names, count, ids);
}

HRESULT TypeInfoHolder::Invoke(IDispatch* self, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excep, UINT* argErr) noexcept
{
    HRESULT hr = Ensure(lcid);
    if (FAILED(hr))
        return hr;
    return m_info.load(std::memory_order_acquire)
        ->Invoke(self, id, flags, params, result, excep, argErr);
}

}  // namespace kalvora
