// The growable pointer array behind the user list.
#include <gtest/gtest.h>

#include "collection/PtrArray.h"

namespace kalvora {
namespace {

using Array = PtrArray<int>;

TEST(PtrArrayGrowthStep, IsFivePerCentRoundedUpPlusOne)
{
    EXPECT_EQ(1u, Array::GrowthStep(0));
    EXPECT_EQ(2u, Array::GrowthStep(1));
    EXPECT_EQ(2u, Array::GrowthStep(20));
    EXPECT_EQ(3u, Array::GrowthStep(21));
    EXPECT_EQ(3u, Array::GrowthStep(40));
    EXPECT_EQ(4u, Array::GrowthStep(41));
    EXPECT_EQ(6u, Array::GrowthStep(100));
    EXPECT_EQ(51u, Array::GrowthStep(1000));
    EXPECT_EQ(2501u, Array::GrowthStep(50000));
    EXPECT_EQ(214748366u, Array::GrowthStep(0xFFFFFFFFu));
}

TEST(PtrArray, SizedArrayHoldsEmptyEntriesAndGrowsByItsStep)
{
    Array a;
    ASSERT_TRUE(a.SetSize(21, Array::GrowthStep(21)));
    EXPECT_EQ(21u, a.Size());
    EXPECT_EQ(21u, a.Capacity());
    for (size_t i = 0; i < a.Size(); ++i)
        EXPECT_EQ(nullptr, a.At(i));

    int x = 0;
    ASSERT_TRUE(a.Append(&x));
    EXPECT_EQ(22u, a.Size());
    EXPECT_EQ(24u, a.Capacity());
    ASSERT_TRUE(a.Append(nullptr));
    ASSERT_TRUE(a.Append(&x));
    EXPECT_EQ(24u, a.Capacity());
    ASSERT_TRUE(a.Append(&x));
    EXPECT_EQ(25u, a.Size());
    EXPECT_EQ(27u, a.Capacity());
    EXPECT_EQ(&x, a.At(21));
    EXPECT_EQ(nullptr, a.At(22));
    EXPECT_EQ(&x, a.At(24));
}

TEST(PtrArray, EmptyArrayGrowsOneAtATime)
{
    Array a;
    ASSERT_TRUE(a.SetSize(0, Array::GrowthStep(0)));
    int v[3] = {};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(a.Append(&v[i]));
        EXPECT_EQ(static_cast<size_t>(i + 1), a.Capacity());
    }
    EXPECT_EQ(&v[2], a.At(2));
}

TEST(PtrArray, RemoveAtMovesTheLaterEntriesDown)
{
    int v[4] = {};
    Array a;
    for (int& e : v)
        ASSERT_TRUE(a.Append(&e));
    a.RemoveAt(1);
    ASSERT_EQ(3u, a.Size());
    EXPECT_EQ(&v[0], a.At(0));
    EXPECT_EQ(&v[2], a.At(1));
    EXPECT_EQ(&v[3], a.At(2));
    a.RemoveAt(2);
    ASSERT_EQ(2u, a.Size());
    EXPECT_EQ(&v[2], a.At(1));
    a.RemoveAt(0);
    a.RemoveAt(0);
    EXPECT_EQ(0u, a.Size());
    ASSERT_TRUE(a.Append(&v[1]));
    EXPECT_EQ(&v[1], a.At(0));
}

TEST(PtrArray, CopyHoldsTheSameEntriesIndependently)
{
    int v[2] = {};
    Array a;
    ASSERT_TRUE(a.SetSize(3, 5));
    a.SetAt(0, &v[0]);
    a.SetAt(2, &v[1]);
    Array copy;
    ASSERT_TRUE(copy.Append(&v[1]));
    ASSERT_TRUE(copy.CopyFrom(a));
    ASSERT_EQ(3u, copy.Size());
    EXPECT_EQ(&v[0], copy.At(0));
    EXPECT_EQ(nullptr, copy.At(1));
    EXPECT_EQ(&v[1], copy.At(2));
    copy.Clear();
    EXPECT_EQ(0u, copy.Size());
    EXPECT_EQ(3u, a.Size());
    EXPECT_EQ(&v[1], a.At(2));
}

TEST(PtrArray, ImpossibleSizeIsRefusedAndChangesNothing)
{
    int x = 0;
    Array a;
    ASSERT_TRUE(a.Append(&x));
    EXPECT_FALSE(a.SetSize(static_cast<size_t>(-1), 1));
    EXPECT_EQ(1u, a.Size());
    EXPECT_EQ(&x, a.At(0));
}

}  // namespace
}  // namespace kalvora
