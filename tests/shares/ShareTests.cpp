// The share store where a registry key refuses access, and RemoveShare's
// raw codes (listing, publishing and removing shares, odd texts and values
// over their limits are cases of tests/badinput). Every test starts without
// a store, and ends with every event checked and nothing leaked.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace kalvora::test {
namespace {

const HKEY kHklm = HKEY_LOCAL_MACHINE;
const std::wstring kKeyError = L"C000000B Error getting share key", kEnumError = L"C0001102 \\0";  // no text

class ShareStore : public ModuleTest {
protected:
    ShareStore()
    {
        file_ = L"shares/KalvoraShares.cpp";
        DeleteTree(kHklm, kShares);
    }
    ComPtr<IKalvoraShares> shares_ = Create<IKalvoraShares>(CLSID_KalvoraShares);
};

// Through the function table RemoveShare answers the raw Win32 code of a
// failed deletion, not an HRESULT (late binding sees a success code).
TEST_F(ShareStore, RemoveAnswersTheRawWin32Code)
{
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, shares_->RemoveShare(B(L"G").Get(), B(L"docs - [x]").Get()));
    ExpectEvents({L"C000000B Error Deleting key: (docs), Access Denied"});
}

// A key that refuses full access: the out values stay as they were (late binding: tests/badinput).
TEST_F(ShareStore, KeysWithoutFullAccessLeaveTheOutValues)
{
    const wchar_t kReadOnly[] = L"D:P(A;;KR;;;WD)";
    auto locked = Restrict(kHklm, kShares + L"\\Locked", kReadOnly);
    LONG count = 77;
    EXPECT_EQ(E_FAIL, shares_->GetShareCount(B(L"Locked").Get(), &count));
    auto list = Restrict(kHklm, kShares, kReadOnly);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shares_->GetRegGroupCount(&count));
    EXPECT_EQ(77, count);
    BSTR raw = reinterpret_cast<BSTR>(INT_PTR(0x1234));  // compared as a number: it is no string
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), shares_->GetRegGroupName(0, &raw));
    EXPECT_EQ(INT_PTR(0x1234), reinterpret_cast<INT_PTR>(raw));
    ExpectEvents({kKeyError, kKeyError, kEnumError, kKeyError, kEnumError});
}

}  // namespace
}  // namespace kalvora::test
