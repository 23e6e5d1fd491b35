// A small persistent class for the model-database tests, installed in the
// "vrnBlob" row: an integer, a name, one reference and a set of references.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "../handed_over.h"
#include "database/state_manager.h"
#include "database/type_manager.h"
#include "support/set.h"
#include "test_support.h"

namespace modeltest {

struct Blob {
    vrnObject header;
    int value;
    char* name;
    vrnObject* ref;
    Set* members;
};

inline int blobSize() { return static_cast<int>(sizeof(Blob)); }

inline void blobDump(vrnObject* o) {
    Blob* b = reinterpret_cast<Blob*>(o);
    vrnObject_setInt(o, "value", b->value);
    vrnObject_setString(o, "name", b->name);
    vrnObject_setPointer(o, "ref", b->ref);
    vrnObject_setSet(o, "members", b->members);
}

inline void blobRestore(vrnObject* o, int onlyIfChanged) {
    Blob* b = reinterpret_cast<Blob*>(o);
    vrnObject_getInt(o, onlyIfChanged, "value", &b->value);
    vrnObject_getString(o, onlyIfChanged, "name", &b->name);
    vrnObject_getPointer(o, onlyIfChanged, "ref", &b->ref);
    vrnObject_getSet(o, onlyIfChanged, "members", &b->members);
}

inline void blobDestroy(vrnObject* o) {
    Blob* b = reinterpret_cast<Blob*>(o);
    vrnCString_free(b->name);
    Set_delete(b->members);
    vrnObject_delete(o);
}

inline void installBlob() {
    vrnTypeManager_setRoutines(vrnTypeManager_getIndexOfName("vrnBlob"), blobSize, blobDump,
                               blobRestore, blobDestroy);
}

inline std::string uuidText(const vrnObject* o) {
    char text[VRN_UUID_STRING_SIZE];
    vrnObject_getUUIDString(o, text);
    return text;
}

// A fresh model database in a temporary folder, its manager process-wide.
struct ModelFixture : ::testing::Test {
    vrntest::TempDir dir;
    std::string name = dir.file("model.vrn");
    vrnStateManager* m = nullptr;

    void SetUp() override {
        installBlob();
        open();
    }
    void TearDown() override {
        vrnStateManager_delete(m);
        commontest::takeErrors();
    }
    void open() {
        m = vrnStateManager_new();
        vrnStateManager_setGlobal(m);
        ASSERT_TRUE(vrnStateManager_openDatabase(m, name.c_str()));
    }
    void reopen(int mode) {
        vrnStateManager_closeDatabase(m, mode);
        vrnStateManager_delete(m);
        open();
    }
    Blob* make(int value, const char* label) {
        Blob* b = reinterpret_cast<Blob*>(vrnObject_new("vrnBlob"));
        b->value = value;
        b->name = vrnCString_clone(label);
        vrnObject_markModified(&b->header);
        return b;
    }
    Blob* find(const std::string& uuid) {
        return reinterpret_cast<Blob*>(Dictionary_contains(m->objects, uuid.c_str()));
    }
    int live() { return Dictionary_getSize(m->objects); }
};

}  // namespace modeltest
