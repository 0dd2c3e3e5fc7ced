// Dispatch.h: IDispatch over the registered type library, for any dual interface.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

namespace kalvora {

// The type information of one interface, loaded once per process through
// LoadRegTypeLib, and a cache of its member names for single-name lookups.
class TypeInfoHolder {
public:
    explicit constexpr TypeInfoHolder(const IID* iid) noexcept : m_iid(iid) {}
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    // Loads the type information and the name cache if that has not happened.
    HRESULT Ensure(LCID lcid) noexcept;

    HRESULT GetTypeInfo(LCID lcid, ITypeInfo** info) noexcept;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) noexcept;
    HRESULT Invoke(IDispatch* self, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, UINT* argErr) noexcept;

private:
    struct NameEntry {
        BSTR name;
        UINT length;
        DISPID id;
    };
    struct NameCache {
        NameEntry* entries;
        UINT count;
    };

    HRESULT LoadLocked(LCID lcid) noexcept;
    HRESULT BuildCacheLocked() noexcept;
    static void Cleanup(void* holder) noexcept;

    const IID* m_iid;
    std::atomic<ITypeInfo*> m_info{nullptr};
    std::atomic<NameCache*> m_cache{nullptr};
};

// The IDispatch half of a dual interface Itf whose identifier is *Iid.
// Object classes derive from it and answer IDispatch and Itf through
// FindInterface.
template <class Itf, const IID* Iid>
class DispatchImpl : public Itf {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT /*index*/, LCID lcid, ITypeInfo** info) override
    {
        return s_typeInfo.GetTypeInfo(lcid, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID /*riid*/, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) override
    {
        return s_typeInfo.GetIDsOfNames(names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID /*riid*/, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override
    {
        return s_typeInfo.Invoke(static_cast<Itf*>(this), id, lcid, flags, params, result, excep,
                                 argErr);
    }

    void* FindInterface(REFIID riid) noexcept
    {
        if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, *Iid))
            return static_cast<Itf*>(this);
        return nullptr;
    }

private:
    static inline TypeInfoHolder s_typeInfo{Iid};
};

}  // namespace kalvora
