// ShareFixture.h: a KalvoraShares object over a clean share store in the
// registry, with helpers to call it and to check the events it reports.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace kalvora::test {

inline const std::wstring kStoreRoot = L"Software\\Kalvora\\Ostrel\\2.0";
inline const std::wstring kGroupList = kStoreRoot + L"\\shares";
inline const wchar_t kSourceFile[] = L"shares/KalvoraShares.cpp";

inline std::wstring GroupKey(const std::wstring& group) { return kGroupList + L"\\" + group; }

// An optional text as a BSTR: nullptr gives a null BSTR.
inline Bstr B(const wchar_t* text) { return Bstr(text); }

class ShareStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kStoreRoot);
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KalvoraShares, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraShares,
                                         reinterpret_cast<void**>(shares.GetAddressOf())));
    }

    void TearDown() override
    {
        shares.Reset();
        DeleteTree(HKEY_LOCAL_MACHINE, kStoreRoot);
    }

    // PutShare with plain texts (nullptr passes a null BSTR).
    HRESULT Put(LONG& error, const wchar_t* group, const wchar_t* name, const wchar_t* path,
                const wchar_t* pass = L"", const wchar_t* agent = L"", const wchar_t* appType = L"")
    {
        error = 12345;
        return shares->PutShare(B(group).get(), B(name).get(), B(path).get(), B(pass).get(), B(agent).get(),
                                B(appType).get(), &error);
    }

    // Publishes a share and expects it to be written.
    void PutOk(const wchar_t* group, const wchar_t* name, const wchar_t* path, const wchar_t* pass = L"",
               const wchar_t* agent = L"", const wchar_t* appType = L"")
    {
        LONG error = 0;
        ASSERT_EQ(S_OK, Put(error, group, name, path, pass, agent, appType)) << Narrow(name);
        ASSERT_EQ(0, error) << Narrow(name);
    }

    HRESULT Remove(const wchar_t* group, const wchar_t* display)
    {
        return shares->RemoveShare(B(group).get(), B(display).get());
    }

    // The display texts of a group, through GetShareCount and GetShareName.
    std::vector<std::wstring> List(const wchar_t* group)
    {
        std::vector<std::wstring> texts;
        LONG count = -1;
        HRESULT hr = shares->GetShareCount(B(group).get(), &count);
        EXPECT_EQ(S_OK, hr);
        if (hr != S_OK)
            return texts;
        for (LONG i = 0; i < count; ++i) {
            Bstr text;
            EXPECT_EQ(S_OK, shares->GetShareName(i, text.put()));
            texts.push_back(text.str());
        }
        return texts;
    }

    // The stored data of a share as text of its byte length.
    static std::wstring StoredData(const std::wstring& group, const wchar_t* name)
    {
        DWORD type = 0;
        auto raw = GetRaw(HKEY_LOCAL_MACHINE, GroupKey(group), name, &type);
        if (!raw)
            return L"<missing>";
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        return std::wstring(reinterpret_cast<const wchar_t*>(raw->data()), raw->size() / sizeof(wchar_t));
    }

    static void ExpectEvent(const EventRecord& event, unsigned long id, const wchar_t* text)
    {
        EXPECT_EQ(1, event.type);
        EXPECT_EQ(id, event.id);
        EXPECT_EQ(std::wstring(kSourceFile), event.file);
        EXPECT_GT(event.line, 0);
        if (text) {
            EXPECT_TRUE(event.hasText);
            EXPECT_EQ(std::wstring(text), event.text);
        } else {
            EXPECT_FALSE(event.hasText) << Narrow(event.text);
        }
    }

    EventCapture events;
    ComPtr<IKalvoraShares> shares;
};

// Gives a key a security descriptor that lets everyone read it only, and
// puts the original back when it goes away. The key is held open with full
// access from before the change, so that it can be restored.
class ReadOnlyKey {
public:
    explicit ReadOnlyKey(const std::wstring& path);
    ~ReadOnlyKey();
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;

private:
    HKEY m_key = nullptr;
    std::vector<BYTE> m_original;
};

}  // namespace kalvora::test
