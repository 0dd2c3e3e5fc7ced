// RegistryScript.h: parser of the module's registrar scripts (REGISTRY resources).
//
// Plain C++ with no Windows headers, so that it also builds natively (fuzzing).
//
// Grammar (tokens are separated by white space; a name or string may be
// quoted with single quotes, a doubled quote standing for one quote):
//   script  := { root '{' { key } '}' }
//   key     := [ 'NoRemove' | 'ForceRemove' ] name [ '=' value ]
//              [ '{' { key | 'val' name '=' value } '}' ]
//   value   := 's' string
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalvora::rgs {

struct Value {
    std::wstring name;  // empty for a key's default value
    std::wstring text;
};

enum class KeyRule {
    Normal,       // created where missing; removed when no subkeys remain
    NoRemove,     // never removed
    ForceRemove,  // deleted with its subtree before it is written, and on removal
};

struct Key {
    std::wstring name;
    KeyRule rule = KeyRule::Normal;
    bool hasDefault = false;
    Value defaultValue;
    std::vector<Value> values;  // named values ('val')
    std::vector<Key> subkeys;
};

struct Script {
    // Each root names a predefined key (HKCR) and holds the keys below it.
    std::vector<Key> roots;
};

// Replaces each %MODULE% by `module` ("%%" stands for one '%'). Fails
// (returns false) on any other or an unterminated variable.
bool SubstituteModule(std::wstring_view text, std::wstring_view module, std::wstring& out);

// Doubles every single quote, so that the text can stand inside a quoted string.
std::wstring QuoteForScript(std::wstring_view text);

// Parses a script. Nesting deeper than a fixed limit is refused.
bool Parse(std::wstring_view text, Script& out);

}  // namespace kalvora::rgs
