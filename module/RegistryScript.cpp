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
    bool end = false;

    // An unquoted token that is exactly `word` (a brace, '=', a keyword).
    bool Is(std::wstring_view word) const { return !end && !quoted && EqualsNoCase(text, word); }
};

class Parser {
public:
    explicit Parser(std::wstring_view text) : m_text(text) {}

    bool Run(Script& out)
    {
        Script script;
        for (;;) {
            Token root;
            if (!Next(root))
                return false;
            if (root.end)
                break;
            if (root.quoted || root.Is(L"{") || root.Is(L"}"))
                return false;
            Key rootKey;
            rootKey.name = root.text;
            rootKey.rule = KeyRule::NoRemove;
            if (!Expect(L"{") || !Body(rootKey, 1, /*allowValues*/ false))
                return false;
            script.roots.push_back(std::move(rootKey));
        }
        out = std::move(script);
        return true;
    }

private:
    // Reads the next token; false on an unterminated quoted string.
    bool Next(Token& tok)
    {
        tok = Token{};
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
            ++m_pos;
        if (m_pos >= m_text.size()) {
            tok.end = true;
            return true;
        }
        if (m_text[m_pos] != L'\'') {
            while (m_pos < m_text.size() && !IsSpace(m_text[m_pos]))
                tok.text.push_back(m_text[m_pos++]);
            return true;
        }
        tok.quoted = true;
        for (++m_pos;; ++m_pos) {
            if (m_pos >= m_text.size())
                return false;
            if (m_text[m_pos] == L'\'') {
                if (m_pos + 1 >= m_text.size() || m_text[m_pos + 1] != L'\'') {
                    ++m_pos;
                    return true;
                }
                ++m_pos;  // a doubled quote stands for one
            }
            tok.text.push_back(m_text[m_pos]);
        }
    }

    bool Peek(Token& tok)
    {
        std::size_t saved = m_pos;
        bool ok = Next(tok);
        m_pos = saved;
        return ok;
    }

    bool Expect(std::wstring_view what)
    {
        Token tok;
        return Next(tok) && tok.Is(what);
    }

    bool ParseValue(Value& value)
    {
        Token type, data;
        if (!Next(type) || !Next(data) || !type.Is(L"s") || data.end)
            return false;
        value.text = data.text;
        return true;
    }

    // Reads keys (and, below a root, named values) up to the closing brace.
    bool Body(Key& parent, int depth, bool allowValues)
    {
        if (depth > kMaxDepth)
            return false;
        for (;;) {
            Token tok;
            if (!Next(tok) || tok.end || tok.Is(L"{"))
                return false;
            if (tok.Is(L"}"))
                return true;

            if (tok.Is(L"val")) {
                Token name;
                if (!allowValues || !Next(name) || name.end || name.Is(L"{") || name.Is(L"}"))
                    return false;
                Value value;
                value.name = name.text;
                if (!Expect(L"=") || !ParseValue(value))
                    return false;
                parent.values.push_back(std::move(value));
                continue;
            }

            Key key;
            if (tok.Is(L"NoRemove") || tok.Is(L"ForceRemove")) {
                key.rule = tok.Is(L"NoRemove") ? KeyRule::NoRemove : KeyRule::ForceRemove;
                if (!Next(tok))
                    return false;
            }
            if (tok.end || tok.Is(L"{") || tok.Is(L"}") || tok.Is(L"=") || tok.text.empty())
                return false;
            key.name = tok.text;

            Token look;
            if (!Peek(look))
                return false;
            if (look.Is(L"=")) {
                Next(look);
                key.hasDefault = true;
                if (!ParseValue(key.defaultValue) || !Peek(look))
                    return false;
            }
            if (look.Is(L"{")) {
                Next(look);
                if (!Body(key, depth + 1, /*allowValues*/ true))
                    return false;
            }
            parent.subkeys.push_back(std::move(key));
        }
    }

    std::wstring_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace

bool SubstituteModule(std::wstring_view text, std::wstring_view module, std::wstring& out)
{
    std::wstring result;
    result.reserve(text.size() + module.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') {
            result.push_back(text[i]);
            continue;
        }
        const std::size_t close = text.find(L'%', i + 1);
        if (close == std::wstring_view::npos)
            return false;
        const std::wstring_view name = text.substr(i + 1, close - i - 1);
        if (name.empty())
            result.push_back(L'%');
        else if (EqualsNoCase(name, L"MODULE"))
            result += module;
        else
            return false;
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

bool Parse(std::wstring_view text, Script& out)
{
    return Parser(text).Run(out);
}

}  // namespace kalvora::rgs
