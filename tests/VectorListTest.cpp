#include "src/VectorList.h"

#include <gtest/gtest.h>

#include <new>
#include <random>

#include "tests/support/FailingAlloc.h"

namespace {

using rcnet::Vector;
using rcnet::VectorList;
using Lists = std::vector<Vector>;

// Appends like the library does: room first, then the vector.
void Append(VectorList& list, const Vector& values) {
    list.Reserve(1, values.size());
    list.PushBack(values);
}

TEST(VectorList, HoldsVectorsOfChangingLengthsInOrder) {
    // Runs of equal lengths, empty vectors among them, and a length that comes back after another.
    std::mt19937 random(7);
    Lists model;
    VectorList list;
    for (int i = 0; i < 500; ++i) {
        const size_t length = random() % 4 == 0 ? random() % 5 : model.empty() ? 2 : model.back().size();
        Vector values(length);
        for (double& v : values) v = static_cast<double>(random()) / 7.0;
        model.push_back(values);
        Append(list, values);
    }
    ASSERT_EQ(list.size(), model.size());
    EXPECT_EQ(list.ToLists(), model);
    // Random access as well as the walk through ToLists.
    for (size_t i = model.size(); i-- > 0;) {
        const VectorList::View view = list[i];
        ASSERT_EQ(view.size(), model[i].size()) << i;
        EXPECT_EQ(view.ToVector(), model[i]) << i;
    }
    EXPECT_EQ(VectorList(model).ToLists(), model);

    list.Clear();
    EXPECT_TRUE(list.empty());
    Append(list, {1, 2});
    EXPECT_EQ(list.ToLists(), (Lists{{1, 2}}));
}

TEST(VectorList, ReservingManyAtOnceAndOneAtATimeBothStayCheap) {
    VectorList list;
    list.Reserve(3, 2);
    const double pair[] = {4, 5};
    for (int i = 0; i < 3; ++i) list.PushBack(pair, 2);
    EXPECT_EQ(list.ToLists(), (Lists{{4, 5}, {4, 5}, {4, 5}}));
    EXPECT_THROW(list.Reserve(size_t(-1) / 2, 3), std::bad_alloc);
    EXPECT_EQ(list.size(), 3u);

    // One vector at a time must not reallocate per vector: that made storing a million patterns
    // quadratic.
    const long allocations = rcnet::test::ForEachAllocationFailure(
        [] {
            try {
                const double triple[] = {1, 2, 3};
                VectorList grown;
                for (int i = 0; i < 10000; ++i) {
                    grown.Reserve(1, 3);
                    grown.PushBack(triple, 3);
                }
            } catch (const std::bad_alloc&) {
            }
        },
        [](long, bool) {});
    EXPECT_LT(allocations, 60);
}

TEST(VectorList, AFailedReservationChangesNothing) {
    VectorList list(Lists{{1}, {2}});
    const long allocations = rcnet::test::ForEachAllocationFailure(
        [&] {
            try {
                Append(list, {3, 4, 5});  // a new length: a new run and more values
            } catch (const std::bad_alloc&) {
            }
        },
        [&](long k, bool failed) {
            if (failed) {
                EXPECT_EQ(list.ToLists(), (Lists{{1}, {2}})) << "allocation " << k;
            } else {
                EXPECT_EQ(list.ToLists(), (Lists{{1}, {2}, {3, 4, 5}}));
            }
        });
    EXPECT_GE(allocations, 2);
}

}  // namespace
