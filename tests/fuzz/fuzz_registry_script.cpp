// The registrar scripts: the module path substituted, the script parsed; and
// a quoted key name and value that come back as they were written.
#include "FuzzSupport.h"
#include "module/RegistryScript.h"

namespace rgs = kalvora::rgs;

// Characters of the names and texts, one more per key and value.
static std::size_t Size(const std::vector<rgs::Key>& keys)
{
    std::size_t size = 0;
    for (const rgs::Key& key : keys) {
        size += 1 + key.name.size() + key.defaultValue.text.size() + Size(key.subkeys);
        for (const rgs::Value& value : key.values)
            size += 1 + value.name.size() + value.text.size();
    }
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<wchar_t> chars = Widen(data, size);
    const std::wstring_view input(chars.data(), size);
    const std::wstring module = rgs::QuoteForScript(L"C:\\Kalvora's 100%\\KalvoraAdminUser.dll");
    // Each "%MODULE%" (8 characters) gives the path; a parsed script holds no more than its text.
    std::wstring script(input);
    FUZZ_CHECK(!rgs::SubstituteModule(input, module, script) || script.size() <= size + size / 8 * module.size());
    rgs::Script parsed;
    FUZZ_CHECK(!rgs::Parse(script, parsed) || Size(parsed.roots) <= script.size());

    const std::wstring_view name = input.substr(0, size / 2), text = input.substr(size / 2);
    script = L"HKCR\n{\n\t'" + rgs::QuoteForScript(name) + L"' = s '" + rgs::QuoteForScript(text) + L"'\n}\n";
    FUZZ_CHECK(rgs::Parse(script, parsed) == !name.empty());  // an empty key name is refused
    const rgs::Key* key = name.empty() ? nullptr : &parsed.roots.at(0).subkeys.at(0);
    FUZZ_CHECK(!key || (parsed.roots.size() == 1 && parsed.roots[0].subkeys.size() == 1 && key->name == name &&
                        key->hasDefault && key->defaultValue.text == text && key->subkeys.empty()));
    return 0;
}
