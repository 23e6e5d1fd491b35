#include "region_hash.h"
#include "region_list.h"
#include "region_test_util.h"

#include <string>
#include <vector>

using regiontest::take;

namespace {

// A list of the given texts (interned in order of first appearance).
RegionStringList* listOf(std::vector<const char*> texts)
{
    RegionStringList* l = nullptr;
    RegionStringList_new(&l, 0);
    for (const char* t : texts)
        RegionStringList_addText(l, t);
    return l;
}

std::string joined(RegionStringList* l)
{
    char* text = nullptr;
    RegionStringList_exportArgs(l, 4, &text);
    return take(text);
}

struct Lists : testing::Test {
    void SetUp() override
    {
        // Interning order fixes the key order: 1 < 2 < 3 < 4.
        unsigned key;
        for (const char* t : {"one", "two", "three", "four"})
            RegionDictionary_intern(t, &key);
    }
};

}  // namespace

TEST_F(Lists, AddingKeepsOrderAndSortedMark)
{
    RegionStringList* l = listOf({"two", "one"});
    EXPECT_EQ(joined(l), "two, one");
    EXPECT_FALSE(l->flags & REGION_LIST_ASCENDING);
    RegionStringList* m = listOf({"b-new", "a-new"});  // interned b then a
    EXPECT_TRUE(m->flags & REGION_LIST_ASCENDING);
    EXPECT_OK(RegionStringList_addText(m, "b-new"));
    EXPECT_EQ(m->count, 2u);
    EXPECT_CODE(RegionStringList_addText(m, "a,b"), 100007);
    EXPECT_CODE(RegionStringList_addText(m, " "), 300000);
    EXPECT_CODE(RegionStringList_addKey(m, 999999), 800000);
    int found = 0;
    EXPECT_OK(RegionStringList_findText(m, "a-new", &found));
    EXPECT_EQ(found, 1);
    EXPECT_EQ(m->cursor, 1u);
    EXPECT_OK(RegionStringList_findText(m, "never interned", &found));
    EXPECT_EQ(found, 0);
    RegionStringList_delete(&l);
    RegionStringList_delete(&m);
}

TEST_F(Lists, RemovalKeepsOrderAndReportsAbsentTexts)
{
    RegionStringList* l = listOf({"three", "one", "four", "two"});
    EXPECT_OK(RegionStringList_removeText(l, "one"));
    EXPECT_EQ(joined(l), "three, four, two");
    EXPECT_EQ(l->capacity, 3u);
    RegionStatus* s = RegionStringList_removeText(l, "one");
    EXPECT_EQ(s->code, 900000);
    EXPECT_STREQ(s->message, "String \"one\" is not in the list");
    RegionStringList_delete(&l);
}

TEST_F(Lists, SetOperationsGiveTheirResultOrders)
{
    RegionStringList* a = listOf({"one", "three"});
    RegionStringList* b = listOf({"two", "three"});
    EXPECT_OK(RegionStringList_union(a, b));
    EXPECT_EQ(joined(a), "one, two, three");
    RegionStringList_delete(&a);

    a = listOf({"one", "two", "three"});
    RegionStringList* c = listOf({"two"});
    EXPECT_OK(RegionStringList_difference(a, c));
    EXPECT_EQ(joined(a), "one, three");
    RegionStringList_delete(&a);
    RegionStringList_delete(&b);

    a = listOf({"one", "two"});
    b = listOf({"two", "three"});
    EXPECT_OK(RegionStringList_symmetricDifference(a, b));
    EXPECT_EQ(joined(a), "one, three");
    EXPECT_EQ(joined(b), "three");

    // With itself: union keeps the set, symmetric difference empties it.
    RegionStringList* d = listOf({"three", "one"});
    EXPECT_OK(RegionStringList_union(d, d));
    EXPECT_EQ(joined(d), "one, three");
    EXPECT_OK(RegionStringList_symmetricDifference(d, d));
    EXPECT_EQ(d->count, 0u);

    // Intersection keeps a's order; an empty operand empties it.
    RegionStringList* e = listOf({"four", "two", "one"});
    RegionStringList* f = listOf({"one", "four"});
    EXPECT_OK(RegionStringList_intersection(e, f));
    EXPECT_EQ(joined(e), "one, four");
    RegionStringList* empty = listOf({});
    EXPECT_OK(RegionStringList_intersection(e, empty));
    EXPECT_EQ(e->count, 0u);
    EXPECT_CODE(RegionStringList_union(nullptr, f), 100009);
    for (RegionStringList** l : {&a, &b, &c, &d, &e, &f, &empty})
        RegionStringList_delete(l);
}

TEST_F(Lists, SortingAndIteration)
{
    RegionStringList* l = listOf({"two", "four", "one"});
    EXPECT_OK(RegionStringList_sort(l, 1));
    EXPECT_EQ(joined(l), "four, two, one");
    EXPECT_TRUE(l->flags & REGION_LIST_DESCENDING);
    int found = 0;
    RegionStringList_findText(l, "one", &found);
    EXPECT_EQ(found, 1);
    EXPECT_OK(RegionStringList_sort(l, 0));
    EXPECT_EQ(joined(l), "one, two, four");
    char* text = nullptr;
    std::vector<std::string> seen;
    for (RegionStatus* s = RegionStringList_first(l, &text); !RegionStatus_isError(s);
         s = RegionStringList_next(l, &text))
        seen.emplace_back(text);
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two", "four"}));
    EXPECT_CODE(RegionStringList_next(l, &text), 900002);

    RegionStringList* empty = listOf({});
    EXPECT_CODE(RegionStringList_first(empty, &text), 900002);
    EXPECT_OK(RegionStringList_forEach(empty, [](const char*, void**) -> RegionStatus* { return nullptr; }, nullptr));
    RegionStringList_delete(&empty);
    RegionStringList_delete(&l);
}

TEST_F(Lists, VisitorThatAddsEntriesTerminates)
{
    RegionStringList* l = listOf({"one", "two"});
    int visits = 0;
    struct Arg {
        RegionStringList* list;
        int* visits;
    } arg{l, &visits};
    auto grow = [](const char* text, void** a) -> RegionStatus* {
        Arg* x = static_cast<Arg*>(*a);
        ++*x->visits;
        return RegionStringList_addText(x->list, (std::string(text) + "+").c_str());
    };
    EXPECT_OK(RegionStringList_forEach(l, grow, &arg));
    EXPECT_EQ(visits, 2);
    EXPECT_EQ(l->count, 4u);
    RegionStringList_delete(&l);
}

TEST_F(Lists, ExportForms)
{
    RegionStringList* l = listOf({"one", "two"});
    unsigned* keys = nullptr;
    unsigned n = 0;
    EXPECT_OK(RegionStringList_exportArgs(l, 1, &keys, &n));
    ASSERT_EQ(n, 2u);
    unsigned one = 0;
    RegionDictionary_lookup("one", &one);
    EXPECT_EQ(keys[0], one);
    std::free(keys);
    unsigned small[1];
    keys = small;
    n = 1;
    EXPECT_CODE(RegionStringList_exportArgs(l, 1, &keys, &n), 8);
    char** texts = nullptr;
    EXPECT_OK(RegionStringList_exportArgs(l, 2, &texts, &n));
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(take(texts[1]), "two");
    std::free(texts[0]);
    std::free(texts);
    RegionStringList* copy = nullptr;
    EXPECT_OK(RegionStringList_exportArgs(l, 3, &copy));
    EXPECT_EQ(joined(copy), "one, two");
    RegionStringList_delete(&copy);
    EXPECT_CODE(RegionStringList_exportArgs(l, 2, nullptr, &n), 8);
    RegionStringList* empty = listOf({});
    char* text = nullptr;
    EXPECT_OK(RegionStringList_toJoinedText(empty, &text));
    EXPECT_EQ(text, nullptr);
    EXPECT_OK(RegionStringList_exportArgs(empty, 2, &texts, &n));
    EXPECT_EQ(texts, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_CODE(RegionStringList_toJoinedText(nullptr, &text), 100009);
    RegionStringList_delete(&empty);
    RegionStringList_delete(&l);
}
