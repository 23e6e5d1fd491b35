// The type registry and the field layer of persistent objects.
#include "database/type_manager.h"
#include "model_fixture.h"
#include "maths/vrnAffineTransform3D.h"
#include "support/hash_set.h"

#include <map>
#include <string>
#include <vector>

using modeltest::Blob;
using modeltest::ModelFixture;

TEST(TypeRegistry, FixedRowsAndStoredListChecks) {
    EXPECT_EQ(vrnTypeManager_getIndexOfId(100), 20);
    EXPECT_EQ(vrnTypeManager_getIndexOfId(20), -1);
    EXPECT_STREQ(vrnTypeManager_getNameOfIndex(20), "Projection");
    EXPECT_EQ(vrnTypeManager_getNameOfIndex(21), nullptr);
    EXPECT_EQ(vrnTypeManager_getNameOfIndex(-1), nullptr);
    EXPECT_EQ(vrnTypeManager_getIdOfName("Model"), 12);
    EXPECT_EQ(vrnTypeManager_getIndexOfName("model"), -1);

    char** names = nullptr;
    int* ids = nullptr;
    int n = vrnTypeManager_getKnownTypes(&names, &ids);
    ASSERT_EQ(n, 21);
    EXPECT_EQ(vrnTypeManager_checkTypes(21, names, ids), 1);
    EXPECT_EQ(vrnTypeManager_checkTypes(19, names, ids), 2);
    ids[12] = 13;
    EXPECT_EQ(vrnTypeManager_checkTypes(19, names, ids), 0);
    ids[12] = 12;
    vrnCString_free(names[3]);
    names[3] = vrnCString_clone("Unknown");
    EXPECT_EQ(vrnTypeManager_checkTypes(21, names, ids), 0);
    vrnCStringArray_free(names, n);
    vrnFree(ids, "test");
}

TEST_F(ModelFixture, ReferencesSetsAndMissingKeys) {
    Blob* a = make(1, "a");
    Blob* b = make(2, "b");
    vrnObject* o = &a->header;
    vrnObject_setPointer(o, "none", nullptr);
    vrnObject* targets[] = {&a->header, &b->header, &b->header};
    ASSERT_TRUE(vrnObject_setPointers(o, "three", targets, 3));
    vrnObject* withNull[] = {&a->header, nullptr};
    EXPECT_FALSE(vrnObject_setPointers(o, "bad", withNull, 2));
    Set* set = Set_new(2);
    Set_add(set, &a->header);
    Set_add(set, &b->header);
    vrnObject_setSet(o, "set", set);
    vrnStateManager_closeState(m);

    vrnObject* target = o;
    EXPECT_TRUE(vrnObject_getPointer(o, 0, "none", &target));
    EXPECT_EQ(target, nullptr);
    vrnObject* caller[2] = {nullptr, nullptr};
    EXPECT_FALSE(vrnObject_getPointerArray(o, 0, "three", caller, 2));
    EXPECT_EQ(caller[0], nullptr);
    Set* back = nullptr;
    EXPECT_TRUE(vrnObject_getSet(o, 0, "set", &back));
    ASSERT_EQ(back->count, 2);
    EXPECT_EQ(back->members[0], &a->header);
    EXPECT_EQ(back->members[1], &b->header);
    EXPECT_TRUE(vrnObject_getSet(o, 0, "missing", &back));
    EXPECT_EQ(back->count, 0);
    HashSet* hash = nullptr;
    EXPECT_TRUE(vrnObject_getHashSet(o, 0, "set", &hash));
    EXPECT_EQ(hash->count, 2);
    HashSet_delete(hash);
    Set_delete(back);
    Set_delete(set);

    char* s = vrnCString_clone("old");
    EXPECT_FALSE(vrnObject_getString(o, 0, "missing", &s));
    EXPECT_EQ(s, nullptr);
    int ints = 0, uuids = 0;
    ASSERT_TRUE(vrnObject_getSignature(o, "three", &ints, nullptr, nullptr, nullptr, nullptr, &uuids));
    EXPECT_EQ(uuids, 3);
    char text[VRN_UUID_STRING_SIZE];
    EXPECT_FALSE(vrnObject_getUUIDString(nullptr, text));
    EXPECT_STREQ(text, "<UNKNOWN>");
    EXPECT_TRUE(commontest::takeErrors().empty());

    // A reference to an object that is not live reads as NULL and is reported.
    vrnUUID* stranger = vrnUUID_new();
    vrnStateManager_writeUUID(m, o->uuid, "stranger", stranger);
    vrnUUID_delete(stranger);
    target = o;
    EXPECT_TRUE(vrnObject_getPointer(o, 0, "stranger", &target));
    EXPECT_EQ(target, nullptr);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_I_INTERNAL_ERROR);
}

TEST_F(ModelFixture, UnchangedFieldsAreNotReadAgainAfterUndo) {
    Blob* a = make(1, "a");
    vrnStateManager_closeState(m);
    vrnObject_setInt(&a->header, "other", 2);
    vrnStateManager_closeState(m);
    a->value = 99;  // memory only: "value" did not change in state 2
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -1), 1);
    EXPECT_EQ(a->value, 99);
    m->applying = 1;
    m->applyFrom = m->applyTo = 2;
    EXPECT_TRUE(vrnObject_isParameterChanged(&a->header, "other"));
    EXPECT_FALSE(vrnObject_isParameterChanged(&a->header, "value"));
    m->applying = 0;
    EXPECT_FALSE(vrnObject_isParameterChanged(&a->header, "other"));
}

TEST_F(ModelFixture, TransformsReadFromTheirThreeKeys) {
    Blob* a = make(1, "a");
    vrnObject* o = &a->header;
    double A[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    double v[3] = {1, 2, 3};
    vrnObject_setDoubles(o, "place - A", A, 9);
    vrnObject_setDoubles(o, "place - v", v, 3);
    vrnObject_setString(o, "place - units", "mm");
    vrnObject_setDoubles(o, "short - A", A, 8);
    vrnObject_setDoubles(o, "short - v", v, 3);
    vrnObject_setString(o, "short - units", "mm");
    vrnObject_setDoubles(o, "odd - A", A, 9);
    vrnObject_setDoubles(o, "odd - v", v, 3);
    vrnObject_setString(o, "odd - units", "furlongs");
    vrnStateManager_closeState(m);

    vrnAffineTransform3D* t = vrnAffineTransform3D_new();
    ASSERT_TRUE(vrnObject_getAffineTransform3D(o, 0, "place", &t));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(memcmp(t->A, A, sizeof A), 0);
    EXPECT_EQ(memcmp(t->v, v, sizeof v), 0);
    EXPECT_STREQ(t->units, "mm");
    EXPECT_FALSE(vrnObject_getAffineTransform3D(o, 0, "short", &t));
    EXPECT_EQ(t, nullptr);
    EXPECT_TRUE(vrnObject_getAffineTransform3D(o, 0, "missing", &t));
    EXPECT_EQ(t, nullptr);
    EXPECT_TRUE(commontest::takeErrors().empty());
    ASSERT_TRUE(vrnObject_getAffineTransform3D(o, 0, "odd", &t));
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->units, "furlongs");
    EXPECT_EQ(t->v[2], 3.0);
    auto errors = commontest::takeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, VRN_U_INVALID_LENGTH_UNITS);
    EXPECT_TRUE(vrnObject_hasAffineTransform3D(o, 0, "odd"));
    EXPECT_FALSE(vrnObject_hasAffineTransform3D(o, 1, "odd"));
    vrnAffineTransform3D_delete(t);
}

// Keys are names, never patterns: one holding '*', '?', '[' or ']' reads
// its own value and no other key's, and a key that merely begins with the
// deletion mark is an ordinary key, through undo, redo, the erase of
// discarded states, every close mode and reopen.
TEST_F(ModelFixture, KeysHoldingPatternCharactersAreReadAsNames) {
    const std::vector<std::pair<std::string, int>> keys = {
        {"w1", 100}, {"w[12]", 101}, {"w2", 102}, {"w[", 103}, {"[", 104}, {"w?", 105}, {"__DELETED__x", 106}};
    const std::map<std::string, int> all(keys.begin(), keys.end());
    const char* const never[] = {"w*", "*", "?", "w[12", "[12]", "w[1-2]"};
    Blob* b = make(1, "b");
    vrnStateManager_closeState(m);
    const std::string id = modeltest::uuidText(&b->header);
    // Exactly the keys of `expected` read, each its own value.
    auto expectKeys = [&](const std::map<std::string, int>& expected, const std::string& step) {
        Blob* live = find(id);
        ASSERT_NE(live, nullptr) << step;
        for (const auto& k : keys) {
            int v = -1;
            auto it = expected.find(k.first);
            int found = vrnObject_getInt(&live->header, 0, k.first.c_str(), &v);
            EXPECT_EQ(found, it != expected.end() ? 1 : 0) << step << ": " << k.first;
            if (found && it != expected.end()) {
                EXPECT_EQ(v, it->second) << step << ": " << k.first;
            }
        }
        for (const char* key : never) {
            int v = -1;
            EXPECT_EQ(vrnObject_getInt(&live->header, 0, key, &v), 0) << step << ": " << key;
        }
    };
    for (const auto& k : keys) {
        vrnObject_setInt(&b->header, k.first.c_str(), k.second);
        ASSERT_GT(vrnStateManager_closeState(m), 0);
    }
    expectKeys(all, "written");
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -5), 1);
    expectKeys({{"w1", 100}, {"w[12]", 101}}, "undone");
    ASSERT_EQ(vrnStateManager_changeState(m, 1, 5), 1);
    expectKeys(all, "redone");
    // A new write after an undo erases the discarded states whole.
    ASSERT_EQ(vrnStateManager_changeState(m, 1, -6), 1);
    vrnObject_setInt(&find(id)->header, "w2", 300);
    ASSERT_GT(vrnStateManager_closeState(m), 0);
    expectKeys({{"w1", 100}, {"w2", 300}}, "rolled back");
    for (const auto& k : keys) vrnObject_setInt(&find(id)->header, k.first.c_str(), k.second);
    ASSERT_GT(vrnStateManager_closeState(m), 0);
    for (int mode : {-1, 0, 1}) {
        reopen(mode);
        expectKeys(all, "closed with mode " + std::to_string(mode));
    }
}
