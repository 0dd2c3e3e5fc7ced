// Registrar.cpp: writes and removes the keys of a registrar script.
#include "Registrar.h"

#include <new>
#include <string>

#include "module/HResult.h"
#include "module/RegKey.h"
#include "module/RegistryScript.h"

namespace kalvora {
namespace {

bool IsMissing(LONG err)
{
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

// The scripts work under HKEY_CLASSES_ROOT only.
HKEY RootKey(const std::wstring& name)
{
    if (lstrcmpiW(name.c_str(), L"HKCR") == 0 || lstrcmpiW(name.c_str(), L"HKEY_CLASSES_ROOT") == 0)
        return HKEY_CLASSES_ROOT;
    return nullptr;
}

LONG SetValue(HKEY key, const rgs::Value& value)
{
    return RegSetValueExW(key, value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.text.c_str()),
                          static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
}

LONG RegisterKey(HKEY parent, const rgs::Key& key)
{
    if (key.rule == rgs::KeyRule::ForceRemove) {
        LONG err = RegDeleteTreeW(parent, key.name.c_str());
        if (err != ERROR_SUCCESS && !IsMissing(err))
            return err;
    }
    RegKey hk;
    LONG err = RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_READ | KEY_WRITE, nullptr, hk.Put(), nullptr);
    if (err != ERROR_SUCCESS)
        return err;
    if (key.hasDefault && (err = SetValue(hk.Get(), key.defaultValue)) != ERROR_SUCCESS)
        return err;
    for (const auto& value : key.values) {
        if ((err = SetValue(hk.Get(), value)) != ERROR_SUCCESS)
            return err;
    }
    for (const auto& sub : key.subkeys) {
        if ((err = RegisterKey(hk.Get(), sub)) != ERROR_SUCCESS)
            return err;
    }
    return ERROR_SUCCESS;
}

LONG UnregisterKey(HKEY parent, const rgs::Key& key)
{
    if (key.rule == rgs::KeyRule::ForceRemove) {
        LONG err = RegDeleteTreeW(parent, key.name.c_str());
        return IsMissing(err) ? ERROR_SUCCESS : err;
    }

    LONG err;
    {
        RegKey hk;
        err = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, hk.Put());
        if (IsMissing(err))
            return ERROR_SUCCESS;
        if (err != ERROR_SUCCESS)
            return err;
        for (const auto& sub : key.subkeys) {
            if ((err = UnregisterKey(hk.Get(), sub)) != ERROR_SUCCESS)
                return err;
        }
        for (const auto& value : key.values) {
            err = RegDeleteValueW(hk.Get(), value.name.c_str());
            if (err != ERROR_SUCCESS && !IsMissing(err))
                return err;
        }
        if (key.rule == rgs::KeyRule::NoRemove)
            return ERROR_SUCCESS;
        DWORD subkeys = 0;
        err = RegQueryInfoKeyW(hk.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr);
        if (err != ERROR_SUCCESS)
            return err;
        if (subkeys != 0)
            return ERROR_SUCCESS;  // something foreign lives below: keep the key
    }
    err = RegDeleteKeyW(parent, key.name.c_str());
    return IsMissing(err) ? ERROR_SUCCESS : err;
}

// Applies a parsed script. Stops at the first registry failure and returns it
// converted to an HRESULT; missing keys and values count as removed.
HRESULT ApplyRegistryScript(const rgs::Script& script, RegistrarMode mode) noexcept
{
    for (const auto& root : script.roots) {
        HKEY hroot = RootKey(root.name);
        if (!hroot)
            return DISP_E_EXCEPTION;
        for (const auto& key : root.subkeys) {
            LONG err = mode == RegistrarMode::Register ? RegisterKey(hroot, key)
                                                       : UnregisterKey(hroot, key);
            if (err != ERROR_SUCCESS)
                return Win32ToHResult(err);
        }
    }
    return S_OK;
}

}  // namespace

HRESULT RunRegistryResource(HINSTANCE module, UINT id, RegistrarMode mode) noexcept
{
    try {
        HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
        if (!res)
            return Win32ToHResult(ERROR_RESOURCE_NAME_NOT_FOUND);
        HGLOBAL data = LoadResource(module, res);
        DWORD size = SizeofResource(module, res);
        const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
        if (!bytes)
            return LastErrorHResult();

        std::wstring text;
        if (size > 0) {
            int wide = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), nullptr, 0);
            if (wide <= 0)
                return LastErrorHResult();
            text.resize(static_cast<size_t>(wide));
            MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), &text[0], wide);
        }

        wchar_t path[MAX_PATH];
        DWORD len = GetModuleFileNameW(module, path, MAX_PATH);
        if (len == 0)
            return LastErrorHResult();
        if (len >= MAX_PATH)
            return Win32ToHResult(ERROR_INSUFFICIENT_BUFFER);

        std::wstring script;
        if (!rgs::SubstituteModule(text, rgs::QuoteForScript(std::wstring_view(path, len)), script))
            return DISP_E_EXCEPTION;
        rgs::Script parsed;
        if (!rgs::Parse(script, parsed))
            return DISP_E_EXCEPTION;
        return ApplyRegistryScript(parsed, mode);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace kalvora
