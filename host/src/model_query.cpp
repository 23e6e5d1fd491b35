// The exported model query: runs the core query with the models going
// straight into the caller's vectors, and turns its recorded errors into the
// exception.
#include <algorithm>
#include <new>
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

using WString = std::basic_string<unsigned short>;

// A name as UTF-16: ASCII, what names almost always are, widened in one
// step; anything else by the string library.
WString widen(const char* name, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(name[i]) >= 0x80) return ylt::EncodingUtilities::MakeWStringU(name);
    return WString(name, name + length);
}

// The caller's four vectors as the query's models arrive, each model
// appended at once; when the query fails they are cut back to what they
// held before, so that a failure appends nothing.
class CallerVectors : public vrn::TolvModelSink {
public:
    CallerVectors(std::vector<int>& ids1, std::vector<int>& ids2, std::vector<WString>& names1,
                  std::vector<WString>& names2)
        : ids1_(ids1), ids2_(ids2), names1_(names1), names2_(names2),
          before_{ids1.size(), ids2.size(), names1.size(), names2.size()} {}
    ~CallerVectors() override {
        if (!kept_) reset();
    }
    void expect(int n) override {
        // Room at once for a listing of usual size; a count that the output
        // may not back never decides a large allocation.
        const size_t room = static_cast<size_t>(std::min(n, 1 << 17));
        ids1_.reserve(before_[0] + room);
        ids2_.reserve(before_[1] + room);
        names1_.reserve(before_[2] + room);
        names2_.reserve(before_[3] + room);
    }
    bool add(int id1, const char* name1, size_t length1, int id2, const char* name2,
             size_t length2) override {
        // Memory that runs out fails the query, which cuts the vectors back.
        try {
            ids1_.push_back(id1);
            ids2_.push_back(id2);
            names1_.push_back(widen(name1, length1));
            names2_.push_back(widen(name2, length2));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    void reset() override {
        ids1_.resize(before_[0]);
        ids2_.resize(before_[1]);
        names1_.resize(before_[2]);
        names2_.resize(before_[3]);
    }
    void keep() { kept_ = true; }

private:
    std::vector<int>& ids1_;
    std::vector<int>& ids2_;
    std::vector<WString>& names1_;
    std::vector<WString>& names2_;
    const size_t before_[4];
    bool kept_ = false;
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
    int result = 0;
    if (file.find('\0') != std::string::npos) {
        // The query takes a C string: it would list the models of the file
        // named by the part before the NUL, a file other than the one asked for.
        vrnError* e = vrnError_new(VRN_U_INVALID_INPUT, "VRNUtilities::getModelsFromTOLVFile",
                                   __FILE__, __LINE__);
        vrnError_addMessage(e, "%s", "The file name holds a NUL character.\n");
        vrnError_publish(e);
    } else {
        CallerVectors models(ids1, ids2, names1, names2);
        result = vrn::TOLVQuery_listModels(file.c_str(), &count, models);
        if (result == 1) {
            models.keep();
            return true;
        }
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
