// Directory.cpp: LDAP and WinNT namespaces that bind containers declared in a
// fixture file, whose Windows path is the REG_SZ value Fixture of
// HKLM\Software\KalvoraTest\Directory. The file is read again on every bind.
//
// The fixture file: UTF-8 text (a BOM is allowed), one record per line, the
// fields separated by tabs. Blank lines and lines starting with '#' are
// skipped; a CR before the line feed is dropped.
//
//   container<TAB>ADsPath[<TAB>filterfail=HR][<TAB>enumfail=HR]
//       A container that binds, with or without children. filterfail makes
//       put_Filter fail with HR, enumfail makes get__NewEnum fail with HR.
//   object<TAB>parent-ADsPath<TAB>class<TAB>name[<TAB>attribute]...[<TAB>!adspath=HR][<TAB>!name=HR]
//       A child of the container parent-ADsPath, enumerated in file order.
//       attribute is name=s:text (VT_BSTR), name=i:number (VT_I4) or
//       name=b:0|1 (VT_BOOL); !adspath makes reading the child's ADsPath fail, !name its Name.
//
// HR is 0x followed by hex digits, or decimal. Paths compare as whole
// strings, ignoring case. A child's ADsPath is made of the path its container
// was bound with and its name: LDAP://srv/DC=x,DC=y and CN=a give
// LDAP://srv/CN=a,DC=x,DC=y; WinNT://DOM and a give WinNT://DOM/a. An object
// whose ADsPath is the bound container's path gives the container its Name,
// Class and attributes (IADs); without one they answer E_NOTIMPL.
//
// A path that no container line declares fails to bind (0x80072030 for LDAP,
// 0x80070035 for WinNT); a malformed line makes every bind fail with
// 0x8007000D and logs "fixture-error <line number>".
//
// When the REG_SZ value Log of the same key names a file, each bind appends
// "bind <path>" and each put_Filter "filter <vt> <class names joined by ,>".
#include "TestAds.h"

#include <adserr.h>

#include <climits>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <vector>

namespace kalvora::doubles {

namespace {

const HRESULT kBadFixture = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

struct Attribute {
    std::wstring name;
    VARTYPE type = VT_EMPTY;
    std::wstring text;
    LONG number = 0;
};

struct Entry {
    std::wstring parent, cls, name, path;
    HRESULT pathFailure = S_OK, nameFailure = S_OK;
    std::vector<Attribute> attributes;
};
using EntryList = std::vector<std::shared_ptr<const Entry>>;

struct Container {
    std::wstring path;
    HRESULT filterFailure = S_OK;
    HRESULT enumFailure = S_OK;
    std::shared_ptr<const Entry> self;
    EntryList children;
};

// ---- the fixture file -----------------------------------------------------------------

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

// A 32-bit value: 0x and hex digits, or decimal digits.
bool ParseHr(const std::wstring& text, HRESULT& out) {
    const bool hex = StartsWith(text, L"0x") || StartsWith(text, L"0X");
    const wchar_t* digits = text.c_str() + (hex ? 2 : 0);
    if (!iswxdigit(*digits)) return false;
    wchar_t* end = nullptr;
    unsigned long long value = wcstoull(digits, &end, hex ? 16 : 10);
    if (*end || value > 0xFFFFFFFFull) return false;
    out = static_cast<HRESULT>(static_cast<ULONG>(value));
    return true;
}

// `field` is `option` followed by an HR.
bool ParseOption(const std::wstring& field, const wchar_t* option, HRESULT& out) {
    return StartsWith(field, option) && ParseHr(field.substr(wcslen(option)), out);
}

// name=s:text, name=i:number or name=b:0|1.
bool ParseAttribute(const std::wstring& field, Attribute& out) {
    size_t equals = field.find(L'=');
    if (equals == 0 || equals == std::wstring::npos || field.size() < equals + 3 || field[equals + 2] != L':')
        return false;
    out.name = field.substr(0, equals);
    const std::wstring value = field.substr(equals + 3);
    wchar_t* end = nullptr;
    switch (field[equals + 1]) {
    case L's':
        out.type = VT_BSTR;
        out.text = value;
        return true;
    case L'i': {
        long long number = wcstoll(value.c_str(), &end, 10);
        if (value.empty() || *end || number < LONG_MIN || number > LONG_MAX) return false;
        out.type = VT_I4;
        out.number = static_cast<LONG>(number);
        return true;
    }
    case L'b':
        out.type = VT_BOOL;
        out.number = value == L"1";
        return value == L"0" || value == L"1";
    default:
        return false;
    }
}

// The ADsPath of the child `name` of the container `parent`.
std::wstring ChildPath(const std::wstring& parent, const std::wstring& name) {
    const size_t colon = parent.find(L':');
    const std::wstring scheme = parent.substr(0, colon);
    if (colon == std::wstring::npos || !(SameText(scheme, L"LDAP") || SameText(scheme, L"GC")))
        return parent + (!parent.empty() && parent.back() == L'/' ? L"" : L"/") + name;
    // LDAP://[server/]DN: the name goes in front of the distinguished name.
    size_t at = colon + 1;
    if (parent.compare(at, 2, L"//") == 0) at += 2;
    const std::wstring rest = parent.substr(at);
    const size_t slash = rest.find(L'/');
    std::wstring server, dn;
    if (slash != std::wstring::npos) {
        server = rest.substr(0, slash + 1);
        dn = rest.substr(slash + 1);
    } else if (rest.find(L'=') != std::wstring::npos) {
        dn = rest;
    } else if (!rest.empty()) {
        server = rest + L"/";
    }
    return parent.substr(0, at) + server + name + (dn.empty() ? L"" : L"," + dn);
}

// Takes one record into `out` when it concerns the container `out.path`;
// false when the record is malformed.
bool ParseRecord(const std::vector<std::wstring>& fields, Container& out, bool& found) {
    if (fields[0] == L"container") {
        if (fields.size() < 2 || fields[1].empty()) return false;
        HRESULT filterFailure = S_OK, enumFailure = S_OK;
        for (size_t i = 2; i < fields.size(); ++i)
            if (!fields[i].empty() && !ParseOption(fields[i], L"filterfail=", filterFailure) &&
                !ParseOption(fields[i], L"enumfail=", enumFailure))
                return false;
        if (!found && SameText(fields[1], out.path)) {
            found = true;
            out.filterFailure = filterFailure;
            out.enumFailure = enumFailure;
        }
        return true;
    }
    if (fields[0] != L"object" || fields.size() < 4 || fields[1].empty() || fields[2].empty() ||
        fields[3].empty())
        return false;
    auto entry = std::make_shared<Entry>();
    entry->parent = fields[1];
    entry->cls = fields[2];
    entry->name = fields[3];
    for (size_t i = 4; i < fields.size(); ++i) {
        if (fields[i].empty()) continue;
        if (fields[i][0] == L'!') {
            if (!ParseOption(fields[i], L"!adspath=", entry->pathFailure) &&
                !ParseOption(fields[i], L"!name=", entry->nameFailure))
                return false;
            continue;
        }
        Attribute attribute;
        if (!ParseAttribute(fields[i], attribute)) return false;
        entry->attributes.push_back(std::move(attribute));
    }
    entry->path = ChildPath(entry->parent, entry->name);
    if (!out.self && SameText(entry->path, out.path)) out.self = entry;
    if (SameText(entry->parent, out.path)) {
        // Children's paths are spelled after the path the caller bound.
        entry->parent = out.path;
        entry->path = ChildPath(out.path, entry->name);
        out.children.push_back(std::move(entry));
    }
    return true;
}

HRESULT ReadWholeFile(const std::wstring& path, std::string& out) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = S_OK;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size)) hr = HRESULT_FROM_WIN32(GetLastError());
    else if (size.QuadPart > 0x7FFFFFFF) hr = E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &read, nullptr))
            hr = HRESULT_FROM_WIN32(GetLastError());
        out.resize(read);
    }
    CloseHandle(file);
    return hr;
}

// Loads the container `path` with its children from the fixture file.
HRESULT LoadContainer(const std::wstring& path, HRESULT notFound, Container& out) {
    std::wstring fixture;
    if (!ReadText(OpenConfig(L"Directory").Get(), L"Fixture", fixture) || fixture.empty()) return notFound;
    std::string data;
    HRESULT hr = ReadWholeFile(fixture, data);
    if (FAILED(hr)) return hr;

    out.path = path;
    bool found = false;
    size_t lineNumber = 0;
    size_t at = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::vector<std::wstring> fields;
    while (at < data.size()) {
        size_t end = data.find('\n', at);
        if (end == std::string::npos) end = data.size();
        size_t length = end - at;
        if (length && data[at + length - 1] == '\r') --length;
        const std::wstring line = FromUtf8(data.data() + at, length);
        at = end + 1;
        ++lineNumber;
        if (line.empty() || line[0] == L'#') continue;
        fields.clear();
        for (size_t start = 0;;) {
            size_t tab = line.find(L'\t', start);
            fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        if (!ParseRecord(fields, out, found)) {
            AppendLog(L"Directory", L"fixture-error " + std::to_wstring(lineNumber));
            return kBadFixture;
        }
    }
    return found ? S_OK : notFound;
}

// ---- directory objects -------------------------------------------------------------------

// IADs over an entry of the fixture (which a container may lack).
template <class... I>
class AdsObject : public DispObject<I...> {
public:
    AdsObject(std::shared_ptr<const Entry> entry, std::wstring path, HRESULT pathFailure)
        : m_entry(std::move(entry)), m_path(std::move(path)), m_pathFailure(pathFailure) {}

    STDMETHODIMP get_Name(BSTR* retval) override {
        if (m_entry && FAILED(m_entry->nameFailure)) {
            if (retval) *retval = nullptr;
            return m_entry->nameFailure;
        }
        return m_entry ? ReturnText(m_entry->name, retval) : E_NOTIMPL;
    }
    STDMETHODIMP get_Class(BSTR* retval) override { return m_entry ? ReturnText(m_entry->cls, retval) : E_NOTIMPL; }
    STDMETHODIMP get_Parent(BSTR* retval) override {
        return m_entry ? ReturnText(m_entry->parent, retval) : E_NOTIMPL;
    }
    STDMETHODIMP get_ADsPath(BSTR* retval) override {
        if (!retval) return E_POINTER;
        *retval = nullptr;
        return FAILED(m_pathFailure) ? m_pathFailure : ReturnText(m_path, retval);
    }
    STDMETHODIMP Get(BSTR name, VARIANT* value) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        if (!m_entry) return E_ADS_PROPERTY_NOT_FOUND;
        const std::wstring wanted = Text(name);
        for (const Attribute& a : m_entry->attributes) {
            if (!SameText(a.name, wanted)) continue;
            if (a.type == VT_BSTR) {
                value->bstrVal = SysAllocStringLen(a.text.data(), static_cast<UINT>(a.text.size()));
                if (!value->bstrVal) return E_OUTOFMEMORY;
            } else if (a.type == VT_I4) {
                value->lVal = a.number;
            } else {
                value->boolVal = a.number ? VARIANT_TRUE : VARIANT_FALSE;
            }
            value->vt = a.type;
            return S_OK;
        }
        return E_ADS_PROPERTY_NOT_FOUND;
    }
    // The fixture holds every property already: there is nothing to load.
    STDMETHODIMP GetInfo() override { return S_OK; }
    STDMETHODIMP GetInfoEx(VARIANT, LONG) override { return S_OK; }

    STDMETHODIMP get_GUID(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Schema(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetInfo() override { return E_NOTIMPL; }
    STDMETHODIMP Put(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetEx(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }

private:
    std::shared_ptr<const Entry> m_entry;
    std::wstring m_path;
    HRESULT m_pathFailure;
};

class DirectoryObject : public AdsObject<IADs> {
public:
    explicit DirectoryObject(const std::shared_ptr<const Entry>& entry)
        : AdsObject(entry, entry->path, entry->pathFailure) {}
};

// Enumerates a fixed list of entries as VT_DISPATCH directory objects.
class Enumerator : public ComObject<IEnumVARIANT> {
public:
    Enumerator(std::shared_ptr<const EntryList> list, size_t position)
        : m_list(std::move(list)), m_position(position) {}

    STDMETHODIMP Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (count && !items) return E_POINTER;
        ULONG done = 0;
        for (; done < count && m_position < m_list->size(); ++done, ++m_position) {
            ComPtr<DirectoryObject> object(new DirectoryObject((*m_list)[m_position]));
            VariantInit(&items[done]);
            items[done].vt = VT_DISPATCH;
            items[done].pdispVal = object.Detach();
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        size_t left = m_list->size() - m_position;
        m_position += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        ComPtr<Enumerator> copy(new Enumerator(m_list, m_position));
        *out = copy.Detach();
        return S_OK;
    }

private:
    std::shared_ptr<const EntryList> m_list;
    size_t m_position;
};

// Reads the class names of a filter: a string, or an array of strings or of
// VARIANTs holding strings. VT_EMPTY clears the filter.
HRESULT FilterClasses(VARIANT& filter, std::vector<std::wstring>& out) {
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = VariantCopyInd(&value, &filter);
    if (FAILED(hr)) return hr;
    if (value.vt == VT_BSTR) {
        out.push_back(Text(value.bstrVal));
    } else if (value.vt == (VT_ARRAY | VT_BSTR) || value.vt == (VT_ARRAY | VT_VARIANT)) {
        LONG low = 0, high = -1;
        if (SafeArrayGetDim(value.parray) != 1 || FAILED(SafeArrayGetLBound(value.parray, 1, &low)) ||
            FAILED(SafeArrayGetUBound(value.parray, 1, &high)))
            hr = E_INVALIDARG;
        for (LONG i = low; SUCCEEDED(hr) && i <= high; ++i) {
            VARIANT item;
            VariantInit(&item);
            if (value.vt == (VT_ARRAY | VT_BSTR)) {
                item.vt = VT_BSTR;
                hr = SafeArrayGetElement(value.parray, &i, &item.bstrVal);
            } else {
                hr = SafeArrayGetElement(value.parray, &i, &item);
            }
            if (SUCCEEDED(hr) && item.vt != VT_BSTR) hr = E_INVALIDARG;
            if (SUCCEEDED(hr)) out.push_back(Text(item.bstrVal));
            VariantClear(&item);
        }
    } else if (value.vt != VT_EMPTY) {
        hr = E_INVALIDARG;
    }
    VariantClear(&value);
    return hr;
}

class DirectoryContainer : public AdsObject<IADsContainer, IADs> {
public:
    explicit DirectoryContainer(Container data)
        : AdsObject(data.self, data.path, S_OK), m_data(std::move(data)) {}

    STDMETHODIMP put_Filter(VARIANT filter) override {
        std::vector<std::wstring> classes;
        HRESULT hr = FilterClasses(filter, classes);
        std::wstring joined;
        for (const std::wstring& c : classes) joined += (joined.empty() ? L"" : L",") + c;
        AppendLog(L"Directory", L"filter " + std::to_wstring(filter.vt) + L" " + joined);
        if (m_data.filterFailure != S_OK) return m_data.filterFailure;
        if (SUCCEEDED(hr)) m_classes = std::move(classes);
        return hr;
    }
    STDMETHODIMP get__NewEnum(IUnknown** retval) override {
        if (!retval) return E_POINTER;
        *retval = nullptr;
        if (m_data.enumFailure != S_OK) return m_data.enumFailure;
        auto list = std::make_shared<EntryList>();
        for (const auto& entry : m_data.children)
            if (Matches(entry->cls)) list->push_back(entry);
        ComPtr<Enumerator> enumerator(new Enumerator(std::move(list), 0));
        *retval = enumerator.Detach();
        return S_OK;
    }

    STDMETHODIMP get_Count(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Filter(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Hints(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Hints(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetObject(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP Create(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP Delete(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP CopyHere(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP MoveHere(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }

private:
    bool Matches(const std::wstring& cls) const {
        if (m_classes.empty()) return true;
        for (const std::wstring& c : m_classes)
            if (SameText(c, cls)) return true;
        return false;
    }

    Container m_data;
    std::vector<std::wstring> m_classes;
};

// ---- the namespaces -------------------------------------------------------------------------

class Namespace : public DispObject<IADsOpenDSObject> {
public:
    Namespace(const wchar_t* scheme, HRESULT notFound) : m_scheme(scheme), m_notFound(notFound) {}

    STDMETHODIMP OpenDSObject(BSTR path, BSTR, BSTR, LONG, IDispatch** out) override {
        const std::wstring wanted = Text(path);
        AppendLog(L"Directory", L"bind " + wanted);
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!SameText(wanted.substr(0, m_scheme.size() + 1), m_scheme + L":")) return E_ADS_BAD_PATHNAME;
        Container data;
        HRESULT hr = LoadContainer(wanted, m_notFound, data);
        if (FAILED(hr)) return hr;
        ComPtr<DirectoryContainer> container(new DirectoryContainer(std::move(data)));
        *out = static_cast<IADsContainer*>(container.Detach());
        return S_OK;
    }

private:
    std::wstring m_scheme;
    HRESULT m_notFound;
};

HRESULT CreateNamespace(const wchar_t* scheme, HRESULT notFound, REFIID riid, void** ppv) {
    ComPtr<Namespace> object(new Namespace(scheme, notFound));
    return object->QueryInterface(riid, ppv);
}

}  // namespace

HRESULT CreateLdapNamespace(REFIID riid, void** ppv) {
    return CreateNamespace(L"LDAP", HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT), riid, ppv);
}

HRESULT CreateWinNTNamespace(REFIID riid, void** ppv) {
    return CreateNamespace(L"WinNT", HRESULT_FROM_WIN32(ERROR_BAD_NETPATH), riid, ppv);
}

}  // namespace kalvora::doubles
