// The registrar scripts: the module path substituted, the script parsed; and
// a quoted key name and value that come back as they were written.
#include "FuzzSupport.h"
#include "module/RegistryScript.h"

namespace rgs = kalvora::rgs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<wchar_t> chars = Widen(data, size);
    const std::wstring_view input(chars.data(), size);
    const std::wstring module = rgs::QuoteForScript(L"C:\\Kalvora's 100%\\KalvoraAdminUser.dll");
    // Each "%MODULE%" (8 characters) gives the path; any text parses or is refused.
    std::wstring script(input);
    FUZZ_CHECK(!rgs::SubstituteModule(input, module, script) || script.size() <= size + size / 8 * module.size());
    rgs::Script parsed;
    rgs::Parse(script, parsed);

    const std::wstring_view name = input.substr(0, size / 2), text = input.substr(size / 2);
    script = L"HKCR\n{\n\t'" + rgs::QuoteForScript(name) + L"' = s '" + rgs::QuoteForScript(text) + L"'\n}\n";
    FUZZ_CHECK(rgs::Parse(script, parsed) == !name.empty());  // an empty key name is refused
    const rgs::Key* key = name.empty() ? nullptr : &parsed.roots.at(0).subkeys.at(0);
    FUZZ_CHECK(!key || (parsed.roots.size() == 1 && parsed.roots[0].subkeys.size() == 1 && key->name == name &&
                        key->hasDefault && key->defaultValue.text == text && key->subkeys.empty()));
    return 0;
}
