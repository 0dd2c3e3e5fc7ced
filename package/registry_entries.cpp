// registry_entries.cpp: writes the COM registration of one bitness of the
// module as WiX registry entries (an include for the component that installs
// KalvoraAdminUser.dll), from what defines it:
//   - the registrar scripts (.rgs), read with the module's own reader, with
//     %MODULE% standing for the installed DLL;
//   - the interface definition, for the keys that RegisterTypeLib writes: the
//     type library under win32 or win64 with FLAGS and HELPDIR, and the
//     Interface keys of its dual and automation interfaces.
// A key that unregistration deletes with its subtree (ForceRemove, the type
// library's version, an interface) gets the row that makes the installer do
// the same on uninstall.
//
//   registry_entries [--remove-on-install COMPONENT] [--win32-beside-win64]
//                    BITS FILE_ID DIR_PROPERTY IDL RGS...
//
// writes the WiX to stdout. Of the classes' root only some keys have a copy
// of their own in each registry view (CLSID, Interface); the others, the
// ProgIDs and the type library among them, are one key for both views. Where
// a package holds both bitnesses, its 32-bit part (--win32-beside-win64)
// writes only the keys of the 32-bit view and its win32 path in the type
// library's key, and the 64-bit part writes the shared keys, as registering
// the 32-bit DLL and then the 64-bit one leaves them.
//
// With --remove-on-install, it writes instead the rows of the installer's
// RemoveRegistry table (tab separated, no header) that delete each ForceRemove
// key with its subtree when COMPONENT is installed, before the installer
// writes the key again, as registering does; wixl has no element for that
// table.
//
// A text that starts with '#' is written as it is: wixl writes a string value
// "#x" as "##x" in the Registry table, which the installer reads as the string
// "#x". An empty text gives a row without a value, which Wine's installer
// writes as an empty REG_SZ, as registering does. A byte outside ASCII in a
// script is refused: the module converts the script with the code page of the
// machine that registers it (CP_ACP), which a package cannot know.
//
// Built natively by scripts/package.sh.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "module/RegistryScript.h"

namespace {

namespace rgs = kalvora::rgs;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "registry_entries: %s\n", what.c_str());
    std::exit(1);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The definition is plain ASCII; bytes widen one to one.
std::wstring Widen(const std::string& s)
{
    std::wstring out;
    for (unsigned char c : s)
        out.push_back(static_cast<wchar_t>(c));
    return out;
}

// Stand-ins for the installed DLL and its folder in the texts, replaced by
// the installer's references to them ([#FILE_ID], [DIR_PROPERTY]).
constexpr wchar_t kModuleMark = 0xE000;
constexpr wchar_t kFolderMark = 0xE001;
std::string g_moduleRef, g_folderRef;

// XML attribute text, with square brackets escaped for the installer's
// formatted fields ([\[] and [\]]).
std::string Attr(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += "&amp;"; break;
        case L'<': out += "&lt;"; break;
        case L'>': out += "&gt;"; break;
        case L'"': out += "&quot;"; break;
        case L'[': out += "[\\[]"; break;
        case L']': out += "[\\]]"; break;
        case kModuleMark: out += g_moduleRef; break;
        case kFolderMark: out += g_folderRef; break;
        default:
            if (c >= 0x20 && c < 0x7F)
                out.push_back(static_cast<char>(c));
            else
                out += "&#" + std::to_string(static_cast<unsigned long>(c)) + ";";
        }
    }
    return out;
}

class Writer {
public:
    // With a component, only the rows that delete ForceRemove keys on install.
    explicit Writer(std::string removalComponent = std::string()) : m_component(std::move(removalComponent)) {}
    bool Removals() const { return !m_component.empty(); }
    // A string value; an empty name is the key's default value.
    void Value(const std::wstring& key, const std::wstring& name, const std::wstring& value)
    {
        if (Removals())
            return;
        m_out << "  <RegistryValue Root=\"HKCR\" Key=\"" << Attr(key) << "\"";
        if (!name.empty())
            m_out << " Name=\"" << Attr(name) << "\"";
        m_out << " Type=\"string\" Value=\"" << Attr(value) << "\"/>\n";
    }
    // A key that is created on install and deleted with its subtree on uninstall.
    void OwnedKey(const std::wstring& key)
    {
        if (Removals())
            return;
        m_out << "  <RegistryValue Root=\"HKCR\" Key=\"" << Attr(key) << "\" Name=\"*\"/>\n";
    }
    // A key deleted with its subtree when the component is installed ("-").
    void RemovedOnInstall(const std::wstring& key)
    {
        if (!Removals())
            return;
        std::string field;
        for (wchar_t c : key) {
            if (c < 0x20 || c >= 0x7F)
                Fail("a key name that the RemoveRegistry table cannot hold");
            field += c == L'[' ? "[\\[]" : c == L']' ? "[\\]]" : std::string(1, static_cast<char>(c));
        }
        m_out << "Remove" << m_component << "_" << ++m_removals << "\t0\t" << field << "\t-\t" << m_component << "\n";
    }
    std::string Text() const { return m_out.str(); }

private:
    std::ostringstream m_out;
    std::string m_component;
    int m_removals = 0;
};

// ---- registrar scripts -------------------------------------------------------------

void WriteKey(Writer& w, const std::wstring& parent, const rgs::Key& key, bool removed = false)
{
    const std::wstring path = parent.empty() ? key.name : parent + L"\\" + key.name;
    // Deleting the outermost ForceRemove key deletes those below it too.
    if (key.rule == rgs::KeyRule::ForceRemove && !removed) {
        w.RemovedOnInstall(path);
        removed = true;
    }
    if (key.hasDefault)
        w.Value(path, L"", key.defaultValue.text);
    for (const auto& value : key.values)
        w.Value(path, value.name, value.text);
    const bool empty = !key.hasDefault && key.values.empty() && key.subkeys.empty();
    if (key.rule == rgs::KeyRule::ForceRemove || (empty && key.rule == rgs::KeyRule::Normal))
        w.OwnedKey(path);
    for (const auto& sub : key.subkeys)
        WriteKey(w, path, sub, removed);
}

// Whether a key of the classes' root has a copy in each registry view.
bool HasViews(const std::wstring& name)
{
    std::wstring lower;
    for (wchar_t c : name)
        lower.push_back(c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c);
    return lower == L"clsid" || lower == L"interface";
}

void WriteScript(Writer& w, const std::string& file, bool viewKeysOnly)
{
    const std::string bytes = ReadFile(file);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) >= 0x80) {
            char where[64];
            std::snprintf(where, sizeof where, "line %zu: byte 0x%02X",
                          static_cast<size_t>(std::count(bytes.begin(), bytes.begin() + i, '\n') + 1),
                          static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
            Fail(file + ": " + where + " is not ASCII; the module reads its scripts in the code page of the "
                 "machine that registers it, which a package cannot know: write the text in ASCII");
        }
    }
    std::wstring text;
    if (!rgs::SubstituteModule(Widen(bytes), std::wstring(1, kModuleMark), text))
        Fail(file + ": a variable other than %MODULE%");
    rgs::Script script;
    if (!rgs::Parse(text, script))
        Fail(file + ": not a registrar script");
    for (const auto& root : script.roots) {
        if (root.name != L"HKCR" && root.name != L"HKEY_CLASSES_ROOT")
            Fail(file + ": keys outside HKCR");
        for (const auto& key : root.subkeys)
            if (!viewKeysOnly || HasViews(key.name))
                WriteKey(w, L"", key);
    }
}

// ---- interface definition ------------------------------------------------------------

struct Declaration {
    std::string kind;  // interface, dispinterface, library, coclass
    std::string name;
    std::map<std::string, std::string> attrs;  // attribute name -> argument ("" without one)
    std::string body;                          // text between its braces
};

std::string StripComments(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') {
            size_t end = s.find('"', i + 1);
            end = end == std::string::npos ? s.size() - 1 : end;
            out += s.substr(i, end - i + 1);
            i = end;
        } else if (s.compare(i, 2, "//") == 0) {
            i = s.find('\n', i);
            if (i == std::string::npos)
                break;
            out.push_back('\n');
        } else if (s.compare(i, 2, "/*") == 0) {
            i = s.find("*/", i + 2);
            if (i == std::string::npos)
                break;
            ++i;
            out.push_back(' ');
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool IsIdent(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The end of the bracketed text that opens at `open` (its closing character).
size_t Matching(const std::string& s, size_t open, char o, char c)
{
    int depth = 0;
    for (size_t i = open; i < s.size(); ++i) {
        if (s[i] == '"') {
            i = s.find('"', i + 1);
            if (i == std::string::npos)
                break;
        } else if (s[i] == o) {
            ++depth;
        } else if (s[i] == c && --depth == 0) {
            return i;
        }
    }
    Fail(std::string("unbalanced '") + o + "' in the interface definition");
}

std::map<std::string, std::string> Attributes(const std::string& list)
{
    std::map<std::string, std::string> attrs;
    int depth = 0;
    std::string item;
    auto flush = [&] {
        std::string t = Trim(item);
        item.clear();
        if (t.empty())
            return;
        size_t p = t.find('(');
        if (p == std::string::npos)
            attrs[t] = "";
        else
            attrs[Trim(t.substr(0, p))] = Trim(t.substr(p + 1, t.rfind(')') - p - 1));
    };
    for (size_t i = 0; i < list.size(); ++i) {
        char c = list[i];
        if (c == '"') {
            size_t end = list.find('"', i + 1);
            item += list.substr(i, end - i + 1);
            i = end;
            continue;
        }
        if (c == '(')
            ++depth;
        if (c == ')')
            --depth;
        if (c == ',' && depth == 0)
            flush();
        else
            item.push_back(c);
    }
    flush();
    return attrs;
}

// The declarations with an attribute list: [attrs] kind Name ... { body }.
std::vector<Declaration> Declarations(const std::string& idl)
{
    std::vector<Declaration> out;
    for (size_t i = idl.find('['); i != std::string::npos; i = idl.find('[', i + 1)) {
        size_t close = Matching(idl, i, '[', ']');
        size_t p = idl.find_first_not_of(" \t\r\n", close + 1);
        size_t q = p;
        while (q < idl.size() && IsIdent(idl[q]))
            ++q;
        Declaration d;
        d.kind = p == std::string::npos ? "" : idl.substr(p, q - p);
        if (d.kind != "interface" && d.kind != "dispinterface" && d.kind != "library" && d.kind != "coclass")
            continue;
        size_t n = idl.find_first_not_of(" \t\r\n", q);
        size_t m = n;
        while (m < idl.size() && IsIdent(idl[m]))
            ++m;
        d.name = idl.substr(n, m - n);
        size_t brace = idl.find_first_of("{;", m);
        if (brace == std::string::npos || idl[brace] == ';')
            continue;  // a forward declaration
        size_t end = Matching(idl, brace, '{', '}');
        d.body = idl.substr(brace + 1, end - brace - 1);
        d.attrs = Attributes(idl.substr(i + 1, close - i - 1));
        out.push_back(std::move(d));
        i = close;
    }
    return out;
}

bool MentionsName(const std::string& text, const std::string& name)
{
    for (size_t p = text.find(name); p != std::string::npos; p = text.find(name, p + 1)) {
        bool before = p == 0 || !IsIdent(text[p - 1]);
        bool after = p + name.size() >= text.size() || !IsIdent(text[p + name.size()]);
        if (before && after)
            return true;
    }
    return false;
}

std::wstring Guid(const Declaration& d)
{
    auto it = d.attrs.find("uuid");
    if (it == d.attrs.end() || it->second.size() != 36)
        Fail(d.name + " has no uuid");
    std::string g = it->second;
    for (char& c : g)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return L"{" + Widen(g) + L"}";
}

std::wstring Hex(unsigned long v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%lx", v);
    return Widen(buf);
}

std::wstring Unquote(const std::string& s)
{
    return Widen(s.size() >= 2 && s.front() == '"' ? s.substr(1, s.size() - 2) : s);
}

void WriteTypeLibrary(Writer& w, const std::string& file, int bits, bool pathOnly)
{
    const auto decls = Declarations(StripComments(ReadFile(file)));
    const Declaration* lib = nullptr;
    for (const auto& d : decls)
        if (d.kind == "library")
            lib = lib ? (Fail(file + ": more than one library"), lib) : &d;
    if (!lib)
        Fail(file + ": no library");

    // Version "major.minor" and locale, as RegisterTypeLib names their keys (hex).
    unsigned long major = 0, minor = 0, lcid = 0;
    if (auto v = lib->attrs.find("version"); v != lib->attrs.end())
        std::sscanf(v->second.c_str(), "%lu.%lu", &major, &minor);
    if (auto l = lib->attrs.find("lcid"); l != lib->attrs.end())
        lcid = std::strtoul(l->second.c_str(), nullptr, 0);
    // The library loaded from the DLL has a disk image (LIBFLAG_FHASDISKIMAGE),
    // which RegisterTypeLib writes with the flags of its attributes.
    unsigned long flags = (lib->attrs.count("restricted") ? 1 : 0) | (lib->attrs.count("control") ? 2 : 0) |
                          (lib->attrs.count("hidden") ? 4 : 0) | 8;
    const std::wstring libid = Guid(*lib);
    const std::wstring version = Hex(major) + L"." + Hex(minor);
    const std::wstring key = L"TypeLib\\" + libid + L"\\" + version;

    if (!pathOnly) {
        w.OwnedKey(key);
        if (auto h = lib->attrs.find("helpstring"); h != lib->attrs.end())
            w.Value(key, L"", Unquote(h->second));
        w.Value(key + L"\\FLAGS", L"", std::to_wstring(flags));
        w.Value(key + L"\\HELPDIR", L"", std::wstring(1, kFolderMark));
    }
    w.Value(key + L"\\" + Hex(lcid) + (bits == 64 ? L"\\win64" : L"\\win32"), L"", std::wstring(1, kModuleMark));

    // The interfaces in the library: named in it, or by an interface in it.
    std::set<std::string> inLibrary;
    std::string reach = lib->body;
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& d : decls) {
            if ((d.kind == "interface" || d.kind == "dispinterface") && !inLibrary.count(d.name) &&
                MentionsName(reach, d.name)) {
                inLibrary.insert(d.name);
                reach += " " + d.body;
                grew = true;
            }
        }
    }
    // RegisterTypeLib registers dispatch interfaces (dual ones through their
    // dispatch side) and automation-compatible interfaces.
    for (const auto& d : decls) {
        if (!inLibrary.count(d.name))
            continue;
        const bool dispatchOnly = d.kind == "dispinterface";
        if (!dispatchOnly && !d.attrs.count("dual") && !d.attrs.count("oleautomation"))
            continue;
        const std::wstring ikey = L"Interface\\" + Guid(d);
        const std::wstring proxy = dispatchOnly ? L"{00020420-0000-0000-C000-000000000046}"
                                                : L"{00020424-0000-0000-C000-000000000046}";
        w.OwnedKey(ikey);
        w.Value(ikey, L"", Widen(d.name));
        w.Value(ikey + L"\\ProxyStubClsid", L"", proxy);
        w.Value(ikey + L"\\ProxyStubClsid32", L"", proxy);
        w.Value(ikey + L"\\TypeLib", L"", libid);
        w.Value(ikey + L"\\TypeLib", L"Version", version);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string removalComponent;
    if (argc > 2 && std::string(argv[1]) == "--remove-on-install") {
        removalComponent = argv[2];
        if (removalComponent.empty())
            Fail("--remove-on-install needs a component");
        argc -= 2;
        argv += 2;
    }
    bool pathOnly = false;
    if (argc > 1 && std::string(argv[1]) == "--win32-beside-win64") {
        pathOnly = true;
        --argc;
        ++argv;
    }
    if (argc < 6 || (std::string(argv[1]) != "32" && std::string(argv[1]) != "64") ||
        (pathOnly && std::string(argv[1]) != "32"))
        Fail("usage: registry_entries [--remove-on-install COMPONENT] [--win32-beside-win64] "
             "32|64 FILE_ID DIR_PROPERTY IDL RGS...");
    const int bits = std::atoi(argv[1]);
    g_moduleRef = std::string("[#") + argv[2] + "]";
    g_folderRef = std::string("[") + argv[3] + "]";

    Writer w(removalComponent);
    for (int i = 5; i < argc; ++i)
        WriteScript(w, argv[i], pathOnly);
    WriteTypeLibrary(w, argv[4], bits, pathOnly);
    if (w.Removals()) {
        std::fputs(w.Text().c_str(), stdout);
        return 0;
    }

    std::printf("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                "<!-- The COM registration of the %d-bit module, written by scripts/package.sh\n"
                "     (package/registry_entries.cpp) from the registrar scripts and the\n"
                "     interface definition. -->\n"
                "<Include xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n%s</Include>\n",
                bits, w.Text().c_str());
    return 0;
}
