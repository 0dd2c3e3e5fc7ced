// The directory lists, asked of the test directory providers: the domain's
// user accounts and organizational units (the user collection) and its
// groups (the share store). The paths bound, what is listed, what a failure keeps.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace kalvora::test {
namespace {

class DirectoryLists : public ModuleTest {
protected:
    // Entries -1 to n of a list, through its Name method: one call and outcome each.
    static std::vector<std::pair<std::wstring, std::wstring>> Entries(const std::wstring& name, const Texts& list)
    {
        std::vector<std::pair<std::wstring, std::wstring>> rows{{name + L"|-1", L"!E_INVALIDARG"}};
        for (size_t i = 0; i <= list.size(); ++i)
            rows.emplace_back(name + L"|" + std::to_wstring(i), i < list.size() ? list[i] : L"!E_INVALIDARG");
        return rows;
    }
    // A directory fixture: the container at path with these children.
    static std::string Children(const std::string& path, std::initializer_list<const char*> children)
    {
        std::string text = "container\t" + path + "\n";
        for (const char* child : children)
            text += "object\t" + path + "\t" + child + "\n";
        return text;
    }

    ComPtr<IEnumKalvoraUser> users_ = Create<IEnumKalvoraUser>(CLSID_EnumKalvoraUser);
    ComPtr<IKalvoraShares> shares_ = Create<IKalvoraShares>(CLSID_KalvoraShares);
};

TEST_F(DirectoryLists, PathsComeFromTheDomainsDnsName)
{
    const std::wstring abc = L"DC=a,DC=b,DC=c";
    // The DNS name, the unit asked for, and the paths bound for its users and for the units.
    const std::tuple<const wchar_t*, std::wstring, std::wstring, std::wstring> cases[] = {
        {L"a.b.c", L"", L"LDAP://a/CN=Users," + abc, L"LDAP://a/" + abc},
        {L"a.b.c", L"East,OU=Sales", L"LDAP://a/OU=East,OU=Sales," + abc, L"LDAP://a/" + abc},  // deeper, unescaped
        {L"a.b.c", L"Sales...", L"LDAP://a/CN=Users," + abc, L"LDAP://a/" + abc},
        {L"..a..b.", L"", L"LDAP://a/CN=Users,DC=a,DC=b,DC=", L"LDAP://a/DC=a,DC=b,DC="},  // (the labels: a fuzz target's)
        {nullptr, L"S", L"LDAP:///OU=S,DC=", L"LDAP:///DC="},  // outside a domain: nothing binds
    };
    for (const auto& [dns, unit, users, units] : cases) {
        Domain(dns, L"D", "");
        ExpectCalls(users_.Get(), {{L"GetDomainUserCount|" + unit, L"0"}, {L"GetUserGroupCount", L"0"}});
        EXPECT_EQ(L"bind " + users + L";bind " + units, Join(DirectoryLog(), L";")) << (dns ? dns : L"<none>") << L" " << unit;
    }
}

TEST_F(DirectoryLists, UsersAndUnitsAreReplacedOnlyOnceAnEnumeratorExists)
{
    Domain(L"a.b", L"A",
           Children("LDAP://a/CN=Users,DC=a,DC=b",
                    {"user\tCN=A\tsAMAccountName=s:alice", "user\tCN=G\tsAMAccountName=s:staff\tgroupType=i:-2147483646",
                     "user\tCN=B\tsAMAccountName=s:bob\tgroupType=s:2", "user\tCN=N", "user\tCN=I\tsAMAccountName=i:7",
                     "contact\tCN=C\tsAMAccountName=s:carol", "user\tCN=D\tsAMAccountName=s:dave"}) +
               Children("LDAP://a/DC=a,DC=b", {"organizationalUnit\tOU=Sales\tou=s:Sales", "organizationalUnit\tOU=X\tou=i:3",
                                               "organizationalUnit\tOU=Y", "container\tCN=Users\tou=s:Users",
                                               "organizationalUnit\tOU=East\tou=s:East"}) +
               "container\tLDAP://a/OU=Filter,DC=a,DC=b\tfilterfail=0x80005000\n"
               "container\tLDAP://a/OU=Enum,DC=a,DC=b\tenumfail=0x80070005\n");
    ExpectCalls(users_.Get(), {{L"GetDomainUserCount|", L"3"}, {L"GetDomainUserCount|...", L"3"}, {L"GetUserGroupCount", L"2"}});
    EXPECT_EQ(L"bind LDAP://a/CN=Users,DC=a,DC=b;filter 8 user;bind LDAP://a/CN=Users,DC=a,DC=b;filter 8 user;"
              L"bind LDAP://a/DC=a,DC=b;filter 8 organizationalUnit", Join(DirectoryLog(), L";"));
    // Failures before the enumeration: no count, and the lists stay.
    ExpectCalls(users_.Get(), {{L"GetDomainUserCount|Filter", L"0"}, {L"GetDomainUserCount|Enum", L"0"}, {L"GetDomainUserCount|Missing", L"0"}});
    SetRaw(HKEY_LOCAL_MACHINE, L"Software\\KalvoraTest\\ADSystemInfo", L"CreateResult", REG_DWORD, "\5\0\7\x80", 4);
    ExpectCalls(users_.Get(), {{L"GetDomainUserCount|", L"0"}, {L"GetUserGroupCount", L"0"}});
    ExpectCalls(users_.Get(), Entries(L"GetDomainUserName", {L"alice", L"bob", L"dave"}));
    ExpectCalls(users_.Get(), Entries(L"GetUserGroupName", {L"Sales", L"East"}));
}

TEST_F(DirectoryLists, GroupsAreTheDomainsChildrenOfClassGroup)
{
    const std::string bad = "container\tWinNT://BAD\tenumfail=0x8007203A\n";
    Domain(L"corp.example", L"CORP", Children("WinNT://CORP", {"Group\tAdmins", "User\tbob", "Computer\tPC1", "group\tlower", "Groups\tplural",
                                                                 "Group\tHidden\t!adspath=0x80004005", "Group\tNameless\t!name=0x80004005",
                                                                 "Group\tSales"}) + bad);
    // A group whose Name cannot be read is listed all the same, with an empty name.
    ExpectCalls(shares_.Get(), {{L"GetGroupCount", L"3"}, {L"GetGroupCount", L"3"}});
    EXPECT_EQ(Texts({L"bind WinNT://CORP", L"bind WinNT://CORP"}), DirectoryLog());  // no filter
    // Failures come back unchanged, and the last list stays.
    for (const auto& [domain, failure] : {std::pair(L"BAD", L"!0x8007203A"), std::pair(L"NONE", L"!0x80070035")}) {
        Domain(nullptr, domain, bad);
        ExpectCalls(shares_.Get(), {{L"GetGroupCount", failure}});
    }
    SetRaw(HKEY_LOCAL_MACHINE, L"Software\\KalvoraTest\\ADSystemInfo", L"CreateResult", REG_DWORD, "\5\0\7\x80", 4);
    ExpectCalls(shares_.Get(), {{L"GetGroupCount", L"!0x80070005"}});
    ExpectCalls(shares_.Get(), Entries(L"GetGroupName", {L"Admins", L"", L"Sales"}));
}

}  // namespace
}  // namespace kalvora::test
