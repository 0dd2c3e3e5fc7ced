// Bad input through IDispatch and the function tables: every row of
// cases.txt and of cpp-cases.txt is a test of its own, that checks the
// outcome of each call, the events, the keys and values of the store that
// changed, leaks and the module's unload answer (the format is described at
// the head of cases.txt). Then the null pointers that IDispatch's own members
// refuse.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/TestSupport.h"

namespace kalvora::test {
namespace {

const HKEY kHklm = HKEY_LOCAL_MACHINE;

struct Row {
    std::string name;  // the file and the line
    Texts cols;        // class, steps, events, store changes
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

std::vector<Row> Load(const std::string& file)
{
    std::vector<Row> rows;
    for (auto& [line, cols] : ReadTable("badinput/" + file))
        rows.push_back({file.substr(0, file.find_first_of("-.")) + "_line" + std::to_string(line), std::move(cols)});
    return rows.empty() ? std::vector<Row>{{"no_rows_in_" + file.substr(0, 3), {}}} : rows;
}

// The escapes {#N} (the character N), {temp} (the temporary folder), {bytes}
// (the characters 0 to 255) and {text*N} (text N times).
std::wstring Expand(const std::wstring& s)
{
    wchar_t temp[MAX_PATH];
    std::wstring out;
    for (size_t i = 0, end; i < s.size(); ++i) {
        if (s[i] != L'{' || (end = s.find(L'}', i)) == std::wstring::npos) {
            out += s[i];
            continue;
        }
        const std::wstring t = s.substr(i + 1, end - i - 1);
        const size_t star = t.rfind(L'*');
        i = end;
        if (t.size() > 1 && t[0] == L'#' && iswdigit(t[1]))
            out += wchar_t(std::stoi(t.substr(1)));
        else if (t == L"temp")
            out.append(temp, GetTempPathW(MAX_PATH, temp));
        else if (t == L"bytes")
            for (wchar_t b = 0; b < 256; ++b)
                out += b;
        else if (star != std::wstring::npos)
            for (long n = std::stol(t.substr(star + 1)); n > 0; --n)
                out.append(t, 0, star);
        else
            out += L'{' + t + L'}';
    }
    return out;
}

// Runs a preparing step: "@key|path", "@seed|path|name|type|data", "@file|name|a or u|text", and
// (C++ only) "@raw|path|name|type number|text": the text's characters, without a terminator,
// "@folder|computer|path": a folder of the test network, "@domain|DNS name|short name|fixture".
void Prepare(const Texts& p, std::vector<std::shared_ptr<void>>& held)
{
    const std::wstring path = L"SOFTWARE\\" + p[1], &text = p.back();
    if (p[0] == L"@key")
        return CreateKey(kHklm, path);
    if (p[0] == L"@folder")
        return Folders(p[1], {p[2]});
    if (p[0] == L"@domain")
        return Domain(p[1] == L"<null>" ? nullptr : p[1].c_str(), p[2].c_str(), p.size() > 3 ? Narrow(p[3]) : "");
    if (p[0] == L"@raw")  // "#" keeps the registry from adding a terminator after the text
        return SetRaw(kHklm, path, p[2].c_str(), std::stoul(p[3]), (text + L"#").c_str(), DWORD(text.size() * sizeof(wchar_t)));
    std::string bytes = p[0] == L"@file" && p[2] == L"u" ? "\xFF\xFE" : "";  // UTF-16 after a byte-order mark
    if (p[0] == L"@file") {
        for (wchar_t c : text)
            bytes.append(reinterpret_cast<const char*>(&c), p[2] == L"u" ? 2 : 1);
        return held.push_back(std::shared_ptr<void>(nullptr, [file = TempFile(p[1], bytes)](void*) { DeleteFileW(file.c_str()); }));
    }
    const DWORD type = p[3] == L"REG_DWORD" ? REG_DWORD : p[3] == L"REG_BINARY" ? REG_BINARY : p[3] == L"REG_EXPAND_SZ" ? REG_EXPAND_SZ : REG_SZ;
    const DWORD number = type == REG_DWORD ? std::stoul(text) : 0;
    for (size_t i = 0; type == REG_BINARY && i + 1 < text.size(); i += 2)
        bytes += char(std::stoi(text.substr(i, 2), nullptr, 16));
    if (type == REG_DWORD)
        bytes.assign(reinterpret_cast<const char*>(&number), sizeof number);
    else if (type != REG_BINARY)
        bytes.assign(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
    SetRaw(kHklm, path, p[2].c_str(), type, bytes.data(), DWORD(bytes.size()));
}

// What changed: "-line" for each line gone, "+line" for each new one; "=" for nothing.
std::wstring Changes(const Texts& before, const Texts& after)
{
    Texts changes;
    for (const auto& [from, to, sign] : {std::tuple(&before, &after, L"-"), std::tuple(&after, &before, L"+")})
        for (const std::wstring& line : *from)
            if (!std::binary_search(to->begin(), to->end(), line))
                changes.push_back(sign + line);
    return changes.empty() ? L"=" : Join(changes, L" ; ");
}
class BadInput : public ModuleTest, public testing::WithParamInterface<Row> {};

TEST_P(BadInput, Row)
{
    const Texts& c = GetParam().cols;
    ASSERT_EQ(4u, c.size()) << "a row: class, steps, events, store changes";
    file_ = c[0] == L"KalvoraShares" ? L"shares/KalvoraShares.cpp" : L"collection/EnumKalvoraUser.cpp";
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID((L"KalvoraAdminUser." + c[0]).c_str(), &clsid));
    WipeStore();
    Texts before;
    std::vector<Texts> denials;                // "@deny|path|access list" (C++ only), until the case ends
    std::vector<std::shared_ptr<void>> held;  // temporary files, and access lists
    ComPtr<IDispatch> object;
    for (const std::wstring& step : Split(c[1], L" ; ")) {
        const size_t at = step.find(L" =>");  // the expected outcome follows; without: ""
        Texts p = Split(step.substr(0, at), L'|');
        std::transform(p.begin(), p.end(), p.begin(), Expand);
        if (p[0][0] == L'@' && p[0] != L"@lines") {
            p[0] == L"@deny" ? denials.push_back(p) : Prepare(p, held);
            continue;
        }
        if (!object) {  // created once the case is prepared, and its access lists set
            before = Store();
            for (const Texts& d : denials)
                held.push_back(Restrict(kHklm, L"SOFTWARE\\" + d[1], d[2].c_str()));
            object = Create<IDispatch>(clsid);
        }
        // "Item|name|Property" reads a property of the user that Item returns.
        ComPtr<IEnumKalvoraUser> users;
        ComPtr<IKalvoraUser> user;
        const bool ofUser = p[0] == L"Item" && p.size() == 3 && SUCCEEDED(object.As(&users)) &&
                            SUCCEEDED(users->Item(B(p[1]).Get(), &user));
        EXPECT_EQ(Expand(at == std::wstring::npos ? L"" : step.substr(std::min(at + 4, step.size()))),
                  p[0] == L"@lines" ? Join(TakeLines(p[1]), L";")  // "@lines|file": a log of the doubles, taken
                  : ofUser          ? Call(user.Get(), p[2])
                  : p[0][0] == L'^' ? CallTable(object.Get(), Join(p, L"|").substr(1))  // through the function table
                                    : Call(object.Get(), Join(p, L"|"))) << step;
    }
    held.clear();
    EXPECT_EQ(Expand(c[3]), Changes(before, Store()));
    ExpectEvents(c[2] == L"-" ? Texts{} : Split(Expand(c[2]), L" ; "));
}

INSTANTIATE_TEST_SUITE_P(Shared, BadInput, testing::ValuesIn(Load("cases.txt")), [](const auto& row) { return row.param.name; });
INSTANTIATE_TEST_SUITE_P(Cpp, BadInput, testing::ValuesIn(Load("cpp-cases.txt")), [](const auto& row) { return row.param.name; });

// IDispatch's own members refuse null pointers (those of the interfaces' own
// members, through the function table, are rows of cpp-cases.txt).
TEST(NullOut, DispatchMembersRefuseNullPointers)
{
    LPOLESTR name = const_cast<LPOLESTR>(L"Name");
    DISPID id = 0;
    for (const CLSID* clsid : {&CLSID_KalvoraUser, &CLSID_EnumKalvoraUser, &CLSID_KalvoraShares}) {
        LeakCheck leaks;
        auto object = Create<IDispatch>(*clsid);
        EXPECT_EQ(E_POINTER, object->GetTypeInfoCount(nullptr));
        EXPECT_EQ(E_POINTER, object->GetTypeInfo(0, 0, nullptr));
        EXPECT_EQ(E_POINTER, object->GetIDsOfNames(IID_NULL, &name, 1, 0, nullptr));
        EXPECT_EQ(E_POINTER, object->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id));
        EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IDispatch, nullptr));
    }
}

}  // namespace
}  // namespace kalvora::test
