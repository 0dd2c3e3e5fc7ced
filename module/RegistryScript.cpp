// RegistryScript.cpp: tokenizer and parser of registrar scripts.
#include "RegistryScript.h"

namespace kalvora::rgs {
namespace {

constexpr int kMaxDepth = 32;

bool IsSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f' || c == L'\v';
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'A' && x <= L'Z')
            x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z')
            y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y)
            return false;
    }
    return true;
}

struct Token {
    std::wstring text;
    bool quoted = false;
    std::size_t offset = 0;
    bool end = false;
};

class Parser {
public:
    explicit Parser(std::wstring_view text) : m_text(text) {}

    bool Run(Script& out, ParseError* error)
    {
        Script script;
        for (;;) {
            Token root;
            if (!Next(root))
                return Fail(error);
            if (root.end)
                break;
            if (root.quoted || root.text == L"{" || root.text == L"}")
                return Fail(error, root.offset, L"root key expected");
            Key rootKey;
            rootKey.name = root.text;
            rootKey.rule = KeyRule::NoRemove;
            if (!Expect(L"{", error))
                return false;
            if (!Body(rootKey, 1, /*allowValues*/ false, error))
                return false;
            script.roots.push_back(std::move(rootKey));
        }
        out = std::move(script);
        return true;
    }

private:
    bool Fail(ParseError* error)
    {
        if (error) {
            error->offset = m_errOffset;
            error->message = m_errMessage;
        }
        return false;
    }
    bool Fail(ParseError* error, std::size_t offset, const wchar_t* message)
    {
        m_errOffset = offset;
        m_errMessage = message;
        return Fail(error);
    }

    // Reads the next token; false on a malformed quoted string.
    bool Next(Token& tok)
    {
        tok = Token{};
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
            ++m_pos;
        tok.offset = m_pos;
        if (m_pos >= m_text.size()) {
            tok.end = true;
            return true;
        }
        if (m_text[m_pos] == L'\'') {
            tok.quoted = true;
            ++m_pos;
            for (;;) {
                if (m_pos >= m_text.size()) {
                    m_errOffset = tok.offset;
                    m_errMessage = L"unterminated string";
                    return false;
                }
                wchar_t c = m_text[m_pos++];
                if (c == L'\'') {
                    if (m_pos < m_text.size() && m_text[m_pos] == L'\'') {
                        tok.text.push_back(L'\'');
                        ++m_pos;
                        continue;
                    }
                    break;
                }
                tok.text.push_back(c);
            }
            return true;
        }
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos]))
            tok.text.push_back(m_text[m_pos++]);
        return true;
    }

    bool Peek(Token& tok)
    {
        std::size_t saved = m_pos;
        bool ok = Next(tok);
        m_pos = saved;
        return ok;
    }

    bool Expect(const wchar_t* what, ParseError* error)
    {
        Token tok;
        if (!Next(tok))
            return Fail(error);
        if (tok.end || tok.quoted || tok.text != what) {
            std::wstring msg = L"'";
            msg += what;
            msg += L"' expected";
            m_errOffset = tok.offset;
            m_errMessage = msg;
            return Fail(error);
        }
        return true;
    }

    static int HexDigit(wchar_t c)
    {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'a' && c <= L'f')
            return c - L'a' + 10;
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        return -1;
    }

    bool ParseValue(Value& value, ParseError* error)
    {
        Token type, data;
        if (!Next(type) || !Next(data))
            return Fail(error);
        if (type.end || data.end)
            return Fail(error, type.offset, L"value expected");
        if (type.quoted)
            return Fail(error, type.offset, L"value type expected");
        if (EqualsNoCase(type.text, L"s")) {
            value.type = ValueType::String;
            value.text = data.text;
            return true;
        }
        if (EqualsNoCase(type.text, L"d")) {
            // Decimal, or hexadecimal with a 0x prefix; must fit 32 bits.
            value.type = ValueType::Dword;
            std::wstring_view digits = data.text;
            unsigned base = 10;
            if (digits.size() > 2 && digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X')) {
                base = 16;
                digits.remove_prefix(2);
            }
            if (digits.empty())
                return Fail(error, data.offset, L"number expected");
            std::uint64_t v = 0;
            for (wchar_t c : digits) {
                int d = HexDigit(c);
                if (d < 0 || static_cast<unsigned>(d) >= base)
                    return Fail(error, data.offset, L"bad number");
                v = v * base + static_cast<unsigned>(d);
                if (v > 0xFFFFFFFFull)
                    return Fail(error, data.offset, L"number too large");
            }
            value.dword = static_cast<std::uint32_t>(v);
            return true;
        }
        if (EqualsNoCase(type.text, L"b")) {
            value.type = ValueType::Binary;
            if (data.text.size() % 2 != 0)
                return Fail(error, data.offset, L"odd number of hex digits");
            value.binary.clear();
            for (std::size_t i = 0; i < data.text.size(); i += 2) {
                int hi = HexDigit(data.text[i]), lo = HexDigit(data.text[i + 1]);
                if (hi < 0 || lo < 0)
                    return Fail(error, data.offset, L"bad hex digit");
                value.binary.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
            }
            return true;
        }
        return Fail(error, type.offset, L"unknown value type");
    }

    // Reads keys (and, below a root, named values) up to the closing brace.
    bool Body(Key& parent, int depth, bool allowValues, ParseError* error)
    {
        if (depth > kMaxDepth)
            return Fail(error, m_pos, L"nesting too deep");
        for (;;) {
            Token tok;
            if (!Next(tok))
                return Fail(error);
            if (tok.end)
                return Fail(error, tok.offset, L"'}' expected");
            if (!tok.quoted && tok.text == L"}")
                return true;
            if (!tok.quoted && tok.text == L"{")
                return Fail(error, tok.offset, L"key name expected");

            if (!tok.quoted && EqualsNoCase(tok.text, L"val")) {
                if (!allowValues)
                    return Fail(error, tok.offset, L"named value outside a key");
                Token name;
                if (!Next(name))
                    return Fail(error);
                if (name.end || (!name.quoted && (name.text == L"{" || name.text == L"}")))
                    return Fail(error, name.offset, L"value name expected");
                Value value;
                value.name = name.text;
                if (!Expect(L"=", error) || !ParseValue(value, error))
                    return false;
                parent.values.push_back(std::move(value));
                continue;
            }

            Key key;
            if (!tok.quoted) {
                if (EqualsNoCase(tok.text, L"NoRemove"))
                    key.rule = KeyRule::NoRemove;
                else if (EqualsNoCase(tok.text, L"ForceRemove"))
                    key.rule = KeyRule::ForceRemove;
                else if (EqualsNoCase(tok.text, L"Delete"))
                    key.rule = KeyRule::Delete;
                if (key.rule != KeyRule::Normal && !Next(tok))
                    return Fail(error);
            }
            if (tok.end || (!tok.quoted && (tok.text == L"{" || tok.text == L"}" || tok.text == L"=")))
                return Fail(error, tok.offset, L"key name expected");
            if (tok.text.empty())
                return Fail(error, tok.offset, L"empty key name");
            key.name = tok.text;

            Token look;
            if (!Peek(look))
                return Fail(error);
            if (!look.end && !look.quoted && look.text == L"=") {
                Next(look);
                key.hasDefault = true;
                if (!ParseValue(key.defaultValue, error))
                    return false;
                if (!Peek(look))
                    return Fail(error);
            }
            if (!look.end && !look.quoted && look.text == L"{") {
                Next(look);
                if (!Body(key, depth + 1, /*allowValues*/ true, error))
                    return false;
            }
            parent.subkeys.push_back(std::move(key));
        }
    }

    std::wstring_view m_text;
    std::size_t m_pos = 0;
    std::size_t m_errOffset = 0;
    std::wstring m_errMessage;
};

}  // namespace

bool Substitute(std::wstring_view text,
                const std::vector<std::pair<std::wstring, std::wstring>>& variables,
                std::wstring& out, ParseError* error)
{
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') {
            result.push_back(text[i]);
            continue;
        }
        std::size_t close = text.find(L'%', i + 1);
        if (close == std::wstring_view::npos) {
            if (error) {
                error->offset = i;
                error->message = L"unterminated variable";
            }
            return false;
        }
        std::wstring_view name = text.substr(i + 1, close - i - 1);
        if (name.empty()) {
            result.push_back(L'%');
        } else {
            bool found = false;
            for (const auto& var : variables) {
                if (EqualsNoCase(var.first, name)) {
                    result += var.second;
                    found = true;
                    break;
                }
            }
            if (!found) {
                if (error) {
                    error->offset = i;
                    error->message = L"unknown variable";
                }
                return false;
            }
        }
        i = close;
    }
    out = std::move(result);
    return true;
}

std::wstring QuoteForScript(std::wstring_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        out.push_back(c);
        if (c == L'\'')
            out.push_back(L'\'');
    }
    return out;
}

bool Parse(std::wstring_view text, Script& out, ParseError* error)
{
    Parser parser(text);
    return parser.Run(out, error);
}

}  // namespace kalvora::rgs
