// The growable pointer array behind the user list.
#include <gtest/gtest.h>

#include <vector>

#include "collection/PtrArray.h"

namespace kalvora {
namespace {

using Array = PtrArray<int>;

// The sizes come from a table, so the step is computed at run time as in the load.
void ExpectGrowthSteps(const std::vector<std::pair<std::uint32_t, std::size_t>>& cases)
{
    for (const auto& [n, step] : cases)
        EXPECT_EQ(step, Array::GrowthStep(n)) << "n = " << n;
}

TEST(PtrArray, GrowthStepIsFivePerCentRoundedUpPlusOne)
{
    ExpectGrowthSteps({{0, 1},       {1, 2},       {20, 2},        {21, 3},
                       {40, 3},      {41, 4},      {100, 6},       {101, 7},
                       {1000, 51},   {50000, 2501}, {0xFFFFFFFFu, 214748366u}});
}

std::vector<int*> Entries(const Array& a)
{
    std::vector<int*> entries;
    for (size_t i = 0; i < a.Size(); ++i)
        entries.push_back(a.At(i));
    return entries;
}

TEST(PtrArray, SizedArrayHoldsEmptyEntriesAndGrowsByItsStep)
{
    int x = 0;
    Array a;
    ASSERT_TRUE(a.SetSize(21, 3));
    std::vector<int*> expected(21, nullptr);
    EXPECT_EQ(expected, Entries(a));
    // Each row: the size and the capacity after one more append.
    const std::pair<size_t, size_t> growth[] = {{22, 24}, {23, 24}, {24, 24}, {25, 27}};
    for (const auto& [size, capacity] : growth) {
        expected.push_back(size == 23 ? nullptr : &x);
        ASSERT_TRUE(a.Append(expected.back()));
        EXPECT_EQ(std::pair(size, capacity), std::pair(a.Size(), a.Capacity()));
    }
    EXPECT_EQ(expected, Entries(a));
}

TEST(PtrArray, RemoveAtCopyFromAndClear)
{
    int v[4] = {};
    Array a, copy;
    for (int& e : v)
        ASSERT_TRUE(a.Append(&e));
    a.RemoveAt(1);
    a.RemoveAt(2);  // the last entry
    a.SetAt(0, nullptr);
    ASSERT_TRUE(copy.Append(&v[3]));
    ASSERT_TRUE(copy.CopyFrom(a));
    EXPECT_EQ((std::vector<int*>{nullptr, &v[2]}), Entries(copy));
    copy.Clear();
    EXPECT_EQ(0u, copy.Size());
    EXPECT_EQ((std::vector<int*>{nullptr, &v[2]}), Entries(a));

    a.RemoveAt(0);
    EXPECT_EQ((std::vector<int*>{&v[2]}), Entries(a));
    // An impossible size is refused and changes nothing.
    EXPECT_FALSE(a.SetSize(static_cast<size_t>(-1), 1));
    EXPECT_EQ((std::vector<int*>{&v[2]}), Entries(a));
}

}  // namespace
}  // namespace kalvora
