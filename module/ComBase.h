// ComBase.h: the generic COM plumbing of the module.
//
// ComObject<T> gives any object class its reference count and QueryInterface,
// stand-alone or aggregated; ClassFactory creates objects for one map entry.
// Object classes only say which interfaces they answer (FindInterface) and,
// where they need one, a construction step (FinalConstruct).
#pragma once

#include <windows.h>
#include <ole2.h>

#include <new>

namespace kalvora {

// The module's lock count: every live object, every client reference to a
// class object beyond the map's own and every LockServer(TRUE) holds one.
void ModuleLock() noexcept;
void ModuleUnlock() noexcept;
LONG ModuleLockCount() noexcept;
// The module's live objects (each also holds a lock): created +1, destroyed -1.
void ModuleObjects(LONG delta) noexcept;
LONG ModuleObjectCount() noexcept;

// Base of every object class. FinalConstruct runs after allocation, before
// the creator sees the object; a negative result destroys the object.
class ObjectRoot {
public:
    HRESULT FinalConstruct() noexcept { return S_OK; }
};

// Reference counting and QueryInterface for an object class T.
// T derives from its interfaces (which stay abstract in their IUnknown part)
// and provides `void* FindInterface(REFIID) noexcept` for every interface but
// IUnknown. When aggregated, every IUnknown call but those on the inner
// unknown goes to the outer object.
template <class T>
class ComObject final : public T {
public:
    // Allocates an object, runs its construction step and queries riid.
    // For an aggregated object riid must be IID_IUnknown (checked by the caller).
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) noexcept
    {
        *ppv = nullptr;
        ComObject* obj = new (std::nothrow) ComObject(outer);
        if (!obj)
            return E_OUTOFMEMORY;
        // Hold the object while it constructs itself and is queried.
        obj->m_inner.AddRef();
        HRESULT hr;
        try {
            hr = obj->FinalConstruct();
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        } catch (...) {
            hr = E_UNEXPECTED;
        }
        if (SUCCEEDED(hr))
            hr = obj->m_inner.QueryInterface(riid, ppv);
        obj->m_inner.Release();  // destroys the object when nothing else holds it
        return hr;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        return m_outer->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_outer->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_outer->Release(); }

private:
    // The non-delegating IUnknown: owns the reference count.
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(ComObject* owner) noexcept : m_owner(owner) {}

        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
        {
            if (!ppv)
                return E_POINTER;
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            void* itf = m_owner->FindInterface(riid);
            if (!itf) {
                *ppv = nullptr;
                return E_NOINTERFACE;
            }
            *ppv = itf;
            static_cast<IUnknown*>(itf)->AddRef();
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_ref); }
        STDMETHODIMP_(ULONG) Release() override
        {
            LONG ref = InterlockedDecrement(&m_ref);
            if (ref == 0)
                delete m_owner;
            return ref;
        }

    private:
        ComObject* m_owner;
        LONG m_ref = 0;
    };

    explicit ComObject(IUnknown* outer) noexcept
        : m_inner(this), m_outer(outer ? outer : static_cast<IUnknown*>(&m_inner))
    {
        ModuleLock();
        ModuleObjects(+1);
    }
    ~ComObject()
    {
        ModuleObjects(-1);
        ModuleUnlock();
    }

    InnerUnknown m_inner;
    IUnknown* m_outer;
};

using CreatorFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// The class object of one creatable class. The object map holds its first
// reference, which does not lock the module; every further one does.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreatorFn creator) noexcept : m_creator(creator) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~ClassFactory() = default;
    CreatorFn m_creator;
    LONG m_ref = 1;
};

template <class T>
HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv) noexcept
{
    return ComObject<T>::Create(outer, riid, ppv);
}

}  // namespace kalvora
