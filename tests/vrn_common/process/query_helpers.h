// Running the meshing-database query against the test reader.
#pragma once

#include <errno.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <utility>
#include <vector>

#include "../handed_over.h"
#include "errors/error.h"
#include "errors/error_manager.h"
#include "process/tolv_query.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "test_support.h"

namespace querytest {

using commontest::Recorded;
using commontest::takeErrors;

struct QueryResult {
    int rc = -1;
    int n = -1;
    std::vector<int> ids1, ids2;
    std::vector<std::string> names1, names2;
    bool outputsNull = false;   // every array output came back NULL
};

// The installation variables point at a folder, and the reader override at
// the test reader.
inline void useTestReader(const vrntest::TempDir& dir) {
    setenv("KWX5BINDIR", dir.path().c_str(), 1);
    setenv("KWX5EXECDIR", dir.path().c_str(), 1);
    setenv("KWX5_KWXTOLVREADER_EXEC", VRN_TEST_READER, 1);
}

inline QueryResult query(const std::string& file) {
    QueryResult r;
    int* a = nullptr;
    int* b = nullptr;
    char** c = nullptr;
    char** d = nullptr;
    r.rc = vrnTOLVQuery_getModels(file.c_str(), &r.n, &a, &b, &c, &d);
    r.outputsNull = !a && !b && !c && !d;
    if (c) {
        for (int i = 0; i < r.n; ++i) {
            r.ids1.push_back(a[i]);
            r.ids2.push_back(b[i]);
            r.names1.push_back(c[i] ? c[i] : "<null>");
            r.names2.push_back(d[i] ? d[i] : "<null>");
        }
        vrnCStringArray_free(c, r.n);
        vrnCStringArray_free(d, r.n);
    }
    vrnFree(a, "test");
    vrnFree(b, "test");
    return r;
}

// Writes the reader's output to a file and queries it.
inline QueryResult queryOutput(const vrntest::TempDir& dir, const std::string& output) {
    const std::string file = dir.file("model.tolv");
    vrntest::writeFile(file, output);
    return query(file);
}

using vrntest::noChildLeft;
using vrntest::splitNul;

const char kParse[] = "There was a problem parsing the output from kwxtolvreader.\n";
const char kErrorLead[] =
    "There was a problem querying the meshing database. The\nfollowing problem was reported:\n\n";
const char kWarningLead[] =
    "The process of querying the meshing database reported the\nfollowing warning(s):\n\n";
const char kSpawn[] =
    "Unable to run kwxtolvreader. Are you sure that the appropriate\nexecutable exists?\n";

}  // namespace querytest
