// UserStoreFixture.h: registry fixtures and helpers for the user collection
// tests. Every test starts and ends without a users key.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/TestSupport.h"

namespace kalvora::test {

// The users key under HKEY_LOCAL_MACHINE, and a user's key below it.
extern const wchar_t kUsersPath[];
std::wstring UserPath(const std::wstring& name);

// Source file named in the collection's events.
extern const wchar_t kCollectionSource[];
constexpr unsigned long kFailureId = 0xC000000BUL;

// Everything a user object shows through its interface.
struct UserView {
    std::wstring name, computer, myComputer, myDesktop, myDocuments, myFavorites, myNetwork, myRecent,
        securityLevel;
    LONG isNetwork = 0;
    bool mailboxNull = false;
    std::wstring mailbox;
};
UserView View(IKalvoraUser* user);

// The eight values that SeedFullUser writes for a user, derived from its name.
UserView ExpectedFullUser(const std::wstring& name);

// Current reference count of an object (direct objects only).
ULONG RefCount(IUnknown* object);

// Changes the access list of a key for the lifetime of the object and then
// gives everyone full access again, so the key can be deleted.
class KeyAccess {
public:
    KeyAccess(const std::wstring& path, const wchar_t* sddl);
    ~KeyAccess();
    KeyAccess(const KeyAccess&) = delete;
    KeyAccess& operator=(const KeyAccess&) = delete;

private:
    std::wstring m_path;
};

// Removes the registration of the user class for the lifetime of the object,
// so that creating a user fails, and then restores it.
class UserClassHidden {
public:
    UserClassHidden();
    ~UserClassHidden();
    UserClassHidden(const UserClassHidden&) = delete;
    UserClassHidden& operator=(const UserClassHidden&) = delete;

private:
    std::wstring m_path;
    std::wstring m_backup;
};

class UserStoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A user key with no values.
    static void SeedKey(const std::wstring& name);
    // A user key with the given REG_SZ values.
    static void SeedUser(const std::wstring& name,
                         const std::vector<std::pair<const wchar_t*, std::wstring>>& values);
    // A user key with all eight values (see ExpectedFullUser).
    static void SeedFullUser(const std::wstring& name);

    static HRESULT Create(ComPtr<IEnumKalvoraUser>& out);
    // Creates the collection and fails the test when that does not succeed.
    static ComPtr<IEnumKalvoraUser> Load();

    static LONG Count(IEnumKalvoraUser* users);
    // One NextUser call: its result and, on S_OK, the name.
    static std::pair<HRESULT, std::wstring> Next(IEnumKalvoraUser* users);
    // Reset and then as many NextUser calls as GetCount reports; an entry
    // without a user shows as "<E_FAIL>".
    static std::vector<std::wstring> Walk(IEnumKalvoraUser* users);
    static ComPtr<IKalvoraUser> Find(IEnumKalvoraUser* users, const wchar_t* name);
    static ComPtr<IKalvoraUser> NewUser(IEnumKalvoraUser* users, const wchar_t* name);

    // Checks that an event is a failure of the collection with this text.
    static void ExpectFailure(const EventRecord& event, const std::wstring& text);
    // Checks that exactly one event was reported, with this text; returns it.
    EventRecord ExpectOneFailure(const std::wstring& text);

    EventCapture m_events;
};

}  // namespace kalvora::test
