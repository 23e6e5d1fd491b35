// The exported model query: runs the core query and turns its arrays into
// the caller's vectors, and its recorded errors into the exception.
#include <string>
#include <vector>

#include "VRNUtilities.h"
#include "call_lock.h"
#include "errors/error.h"
#include "errors/error_manager.h"
#include "process/tolv_query.h"
#include "support/cstring.h"
#include "support/memory.h"
#include "ylt/EncodingUtilities.h"

namespace {

// Releases the query's arrays however the operation is left.
struct QueryArrays {
    int* a = nullptr;
    int* b = nullptr;
    char** c = nullptr;
    char** d = nullptr;
    int length = 0;
    ~QueryArrays() {
        vrnCStringArray_free(c, length);
        vrnCStringArray_free(d, length);
        vrnFree(a, "VRNUtilities::getModelsFromTOLVFile");
        vrnFree(b, "VRNUtilities::getModelsFromTOLVFile");
    }
};

// Takes the text of every recorded error and discards them all, also when
// building the text throws.
struct RecordedErrors {
    int count = 0;
    vrnError** errors = nullptr;
    int status = 0;
    RecordedErrors() { status = vrnApp_getErrors(&count, &errors); }
    ~RecordedErrors() {
        vrnFree(errors, "VRNUtilities::getModelsFromTOLVFile");
        vrnApp_clearErrors();
    }
    std::string message() const {
        if (status != 1) return "vrnModel_getLastError has failed";
        if (count == 0 || !errors) return "Unable to retrieve error from VRN";
        std::string text;
        for (int i = 0; i < count; ++i) {
            if (i > 0) text += "\n\n";
            if (const char* m = vrnError_getMessage(errors[i])) text += m;
        }
        return text;
    }
};

}  // namespace

namespace ylt {
namespace VRNUtilities {

bool getModelsFromTOLVFile(const std::string& file, int& count, std::vector<int>& ids1,
                           std::vector<int>& ids2,
                           std::vector<std::basic_string<unsigned short> >& names1,
                           std::vector<std::basic_string<unsigned short> >& names2) {
    const std::lock_guard<std::mutex> oneCallAtATime(detail::exportedCallLock());
    QueryArrays arrays;
    int result = 0;
    if (file.find('\0') != std::string::npos) {
        // The query takes a C string: it would list the models of the file
        // named by the part before the NUL, a file other than the one asked for.
        vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "VRNUtilities::getModelsFromTOLVFile",
                                   __FILE__, __LINE__);
        vrnError_addMessage(e, "%s", "The file name holds a NUL character.\n");
        vrnError_publish(e);
    } else {
        result = vrnTOLVQuery_getModels(file.c_str(), &count, &arrays.a, &arrays.b, &arrays.c,
                                        &arrays.d);
        arrays.length = arrays.c || arrays.d ? count : 0;
    }
    if (result == 1) {
        // Room for every model at once: the vectors grow once, not about
        // log2(count) times with every name moved each time.
        const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
        ids1.reserve(ids1.size() + n);
        ids2.reserve(ids2.size() + n);
        names1.reserve(names1.size() + n);
        names2.reserve(names2.size() + n);
        for (int i = 0; i < count; ++i) {
            ids1.push_back(arrays.a[i]);
            ids2.push_back(arrays.b[i]);
            names1.push_back(ylt::EncodingUtilities::MakeWStringU(arrays.c[i]));
            names2.push_back(ylt::EncodingUtilities::MakeWStringU(arrays.d[i]));
        }
        return true;
    }
    std::string message;
    {
        RecordedErrors recorded;
        message = recorded.message();
    }
    throw ylt::vrnutilities::error("VRNUtilities", "getModelsFromTOLVFile", message,
                                   ylt::errorTypeLibrary);
}

}  // namespace VRNUtilities
}  // namespace ylt
