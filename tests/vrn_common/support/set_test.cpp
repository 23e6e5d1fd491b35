#include "support/set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/memory.h"
#include "test_support.h"

namespace {

void* word(long v) { return reinterpret_cast<void*>(v); }

std::vector<void*> members(const Set* set) {
    return std::vector<void*>(set->members, set->members + set->count);
}

TEST(Set, FromArraySkipsRepeatsAndKeepsOrder) {
    void* input[] = {word(1), word(2), word(1), word(3)};
    Set* set = Set_newFromArray(4, input);
    EXPECT_EQ(members(set), (std::vector<void*>{word(1), word(2), word(3)}));
    EXPECT_EQ(set->capacity, 4);
    Set_delete(set);

    Set* empty = Set_newFromArray(0, nullptr);
    EXPECT_EQ(empty->count, 0);
    EXPECT_EQ(empty->capacity, 5);
    Set_delete(empty);
}

TEST(Set, AddDoublesCapacityWhenFullAndRefusesDuplicates) {
    Set* set = Set_new(4);
    for (long i = 1; i <= 4; ++i) EXPECT_EQ(Set_add(set, word(i)), 1);
    EXPECT_EQ(set->capacity, 4);
    EXPECT_EQ(Set_add(set, word(3)), 0);
    EXPECT_EQ(Set_add(set, word(5)), 1);
    EXPECT_EQ(set->capacity, 8);
    EXPECT_EQ(members(set),
              (std::vector<void*>{word(1), word(2), word(3), word(4), word(5)}));
    Set_delete(set);
}

TEST(Set, ZeroCapacitySetStillGrows) {
    Set* set = Set_new(0);
    EXPECT_EQ(set->capacity, 0);
    EXPECT_EQ(Set_add(set, word(7)), 1);
    EXPECT_GE(set->capacity, 1);
    EXPECT_EQ(Set_add(set, word(8)), 1);
    EXPECT_EQ(members(set), (std::vector<void*>{word(7), word(8)}));
    Set_delete(set);

    Set* negative = Set_new(-3);
    EXPECT_EQ(Set_add(negative, word(1)), 1);
    EXPECT_TRUE(Set_contains(negative, word(1)));
    Set_delete(negative);
}

TEST(Set, RemoveKeepsOrderAndIgnoresAbsentMembers) {
    void* input[] = {word(1), word(2), word(3)};
    Set* set = Set_newFromArray(3, input);
    EXPECT_EQ(Set_remove(set, word(1)), 1);
    EXPECT_EQ(members(set), (std::vector<void*>{word(2), word(3)}));
    EXPECT_EQ(Set_remove(set, word(9)), 0);
    EXPECT_EQ(members(set), (std::vector<void*>{word(2), word(3)}));
    EXPECT_EQ(Set_remove(set, word(3)), 1);
    EXPECT_EQ(members(set), (std::vector<void*>{word(2)}));
    EXPECT_FALSE(Set_contains(set, word(3)));
    Set_delete(set);
}

TEST(Set, ClearKeepsCapacityAndCopyIsIndependent) {
    void* input[] = {word(1), word(2)};
    Set* set = Set_newFromArray(2, input);
    Set* copy = Set_newCopy(set);
    EXPECT_EQ(Set_clear(set), 1);
    EXPECT_EQ(set->count, 0);
    EXPECT_EQ(set->capacity, 2);
    EXPECT_EQ(members(copy), (std::vector<void*>{word(1), word(2)}));
    EXPECT_EQ(copy->capacity, 2);
    Set_delete(set);
    Set_delete(copy);

    Set* empty = Set_new(0);
    Set* emptyCopy = Set_newCopy(empty);
    EXPECT_EQ(Set_add(emptyCopy, word(4)), 1);
    Set_delete(empty);
    Set_delete(emptyCopy);
}

TEST(Set, ToArrayGivesAnOwnedCopyOrNullWhenEmpty) {
    void* input[] = {word(5), word(6)};
    Set* set = Set_newFromArray(2, input);
    void** array = reinterpret_cast<void**>(word(1));
    EXPECT_EQ(Set_toArray(set, &array), 2);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array[0], word(5));
    EXPECT_EQ(array[1], word(6));
    vrnFree(array, "test");
    Set_clear(set);
    array = reinterpret_cast<void**>(word(1));
    EXPECT_EQ(Set_toArray(set, &array), 0);
    EXPECT_EQ(array, nullptr);
    Set_delete(set);
}

TEST(Set, ResizeRefusesCapacitiesBelowCountOrZero) {
    void* input[] = {word(1), word(2), word(3)};
    Set* set = Set_newFromArray(3, input);
    EXPECT_EQ(Set_resize(set, 2), 0);
    EXPECT_EQ(Set_resize(set, 0), 0);
    EXPECT_EQ(set->capacity, 3);
    EXPECT_EQ(Set_resize(set, 3), 1);
    EXPECT_EQ(Set_resize(set, 10), 1);
    EXPECT_EQ(set->capacity, 10);
    EXPECT_EQ(members(set), (std::vector<void*>{word(1), word(2), word(3)}));
    Set_delete(set);
}

TEST(Set, CapacityTooLargeForTheAllocatorEndsInsteadOfOverrunning) {
    // 2^29 + 1 members need 4 GiB + 8 bytes, which wraps to 8 bytes in a
    // 32-bit size; the set must take the allocator's failure path rather
    // than keep a tiny array with a huge capacity.
    const int huge = (1 << 29) + 1;
    for (int which = 0; which < 2; ++which) {
        auto r = vrntest::runInChild([which, huge] {
            Set* set = which == 0 ? Set_new(huge) : Set_new(1);
            if (which == 1) Set_resize(set, huge);
            for (long i = 1; i <= 3; ++i) Set_add(set, word(i));
            return 0;
        });
        const char* routine = which == 0 ? "Set_new" : "Set_resize";
        EXPECT_EQ(1, r.exitStatus) << routine;
        EXPECT_NE(std::string::npos,
                  r.err.find(std::string("Unable to allocate enough memory in function\n\n") +
                             routine + "\n"))
            << r.err;
    }
}

TEST(SetIterator, WalksInOrderAndNextBeforeFirstGivesNothing) {
    void* input[] = {word(1), word(2), word(3)};
    Set* set = Set_newFromArray(3, input);
    SetIterator* it = SetIterator_new(set);
    EXPECT_EQ(SetIterator_next(it), nullptr);
    std::vector<void*> seen;
    for (void* m = SetIterator_first(it); m; m = SetIterator_next(it)) seen.push_back(m);
    EXPECT_EQ(seen, members(set));
    EXPECT_EQ(SetIterator_next(it), nullptr);
    SetIterator_delete(it);
    Set_delete(set);
}

TEST(SetIterator, SingleMemberAndEmptySet) {
    Set* set = Set_new(1);
    SetIterator* it = SetIterator_new(set);
    EXPECT_EQ(SetIterator_first(it), nullptr);
    Set_add(set, word(9));
    EXPECT_EQ(SetIterator_first(it), word(9));
    EXPECT_EQ(SetIterator_next(it), nullptr);
    SetIterator_delete(it);
    Set_delete(set);
}

TEST(SetIterator, SeesMembersAddedDuringIteration) {
    Set* set = Set_new(2);
    Set_add(set, word(1));
    SetIterator* it = SetIterator_new(set);
    EXPECT_EQ(SetIterator_first(it), word(1));
    Set_add(set, word(2));
    EXPECT_EQ(SetIterator_next(it), word(2));
    SetIterator_delete(it);
    Set_delete(set);
}

TEST(Pair, NewIsZeroedAndFirstWordReaderWorksOnAnyRecord) {
    Pair* pair = Pair_new();
    EXPECT_EQ(pair->first, nullptr);
    EXPECT_EQ(pair->second, nullptr);
    Pair_set(pair, word(3), word(4));
    EXPECT_EQ(Pair_getFirst(pair), word(3));
    EXPECT_EQ(pair->second, word(4));
    Pair_delete(pair);

    struct Record {
        void* head;
        int other;
    } record{word(42), 7};
    EXPECT_EQ(Pair_getFirst(&record), word(42));
}

}  // namespace
