// RegistryScript.h: parser of the module's registrar scripts (REGISTRY resources).
//
// Plain C++ with no Windows headers, so that it also builds natively (fuzzing).
//
// Grammar (tokens are separated by white space; a name or string may be
// quoted with single quotes, a doubled quote standing for one quote):
//   script  := { root '{' { key } '}' }
//   key     := [ 'NoRemove' | 'ForceRemove' | 'Delete' ] name [ '=' value ]
//              [ '{' { key | 'val' name '=' value } '}' ]
//   value   := 's' string | 'd' number | 'b' hexdigits
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kalvora::rgs {

enum class ValueType { String, Dword, Binary };

struct Value {
    std::wstring name;  // empty for a key's default value
    ValueType type = ValueType::String;
    std::wstring text;            // String
    std::uint32_t dword = 0;      // Dword
    std::vector<std::uint8_t> binary;  // Binary
};

enum class KeyRule {
    Normal,       // created where missing; removed when no subkeys remain
    NoRemove,     // never removed
    ForceRemove,  // deleted with its subtree before it is written, and on removal
    Delete,       // deleted with its subtree when registering; left alone when removing
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
    // Each root names a predefined key (HKCR, HKLM, ...) and holds the keys below it.
    std::vector<Key> roots;
};

struct ParseError {
    std::size_t offset = 0;  // character offset of the offending token
    std::wstring message;
};

// Replaces each %NAME% by its replacement; "%%" stands for one '%'.
// Fails (returns false) on an unknown or unterminated variable.
bool Substitute(std::wstring_view text,
                const std::vector<std::pair<std::wstring, std::wstring>>& variables,
                std::wstring& out, ParseError* error = nullptr);

// Doubles every single quote, so that the text can stand inside a quoted string.
std::wstring QuoteForScript(std::wstring_view text);

// Parses a script. Nesting deeper than a fixed limit is refused.
bool Parse(std::wstring_view text, Script& out, ParseError* error = nullptr);

}  // namespace kalvora::rgs
