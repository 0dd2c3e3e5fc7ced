// Class objects, aggregation and the module's unload answer.
#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace kalvora::test;

TEST(ClassObject, Smoke)
{
    ComPtr<IKalvoraUser> user;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                     reinterpret_cast<void**>(user.GetAddressOf())));
}
