// SystemInfo.cpp: ADSystemInfo whose domain names come from the values
// DomainDNSName and DomainShortName of HKLM\Software\KalvoraTest\ADSystemInfo.
// A missing value answers as a computer outside a domain does; a failure
// HRESULT in the DWORD value CreateResult makes creating the object fail.
#include "TestAds.h"

namespace kalvora::doubles {

namespace {

class SystemInfo : public DispObject<IADsADSystemInfo> {
public:
    STDMETHODIMP get_DomainShortName(BSTR* retval) override { return Name(L"DomainShortName", retval); }
    STDMETHODIMP get_DomainDNSName(BSTR* retval) override { return Name(L"DomainDNSName", retval); }

    STDMETHODIMP get_UserName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ComputerName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_SiteName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ForestDNSName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_PDCRoleOwner(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_SchemaRoleOwner(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_IsNativeMode(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAnyDCName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDCSiteName(BSTR, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP RefreshSchemaCache() override { return E_NOTIMPL; }
    STDMETHODIMP GetTrees(VARIANT*) override { return E_NOTIMPL; }

private:
    static HRESULT Name(const wchar_t* value, BSTR* out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::wstring text;
        if (!ReadText(OpenConfig(L"ADSystemInfo").Get(), value, text))
            return HRESULT_FROM_WIN32(ERROR_NO_SUCH_DOMAIN);
        return ReturnText(text, out);
    }
};

}  // namespace

HRESULT CreateSystemInfo(REFIID riid, void** ppv) {
    DWORD result = 0;
    if (ReadDword(OpenConfig(L"ADSystemInfo").Get(), L"CreateResult", result) &&
        FAILED(static_cast<HRESULT>(result)))
        return static_cast<HRESULT>(result);
    ComPtr<SystemInfo> info(new SystemInfo);
    return info->QueryInterface(riid, ppv);
}

}  // namespace kalvora::doubles
