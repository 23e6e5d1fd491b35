// The host interface of libvrnutilities: the exception class that carries
// every failure and the two queries that list what a mesh file holds. The
// queries may be called from any thread: they take one process-wide lock,
// so calls made at the same time run one after another.
#pragma once

#include <string>
#include <vector>

#include "ylt/Error.h"

#if defined(VRNUTILITIES_BUILD)
#define VRNUTILITIES_API __attribute__((visibility("default")))
#else
#define VRNUTILITIES_API
#endif

namespace ylt {
namespace vrnutilities {

// The only way the library reports a failure to its host. All state lives
// in ylt::Error; a host may catch either class.
class VRNUTILITIES_API error : public ylt::Error {
public:
    error();
    error(const std::string& className, const std::string& method, const std::string& message,
          ylt::errorType type);
    error(const error& other);
    error& operator=(const error& other);
    virtual ~error();

protected:
    error(const std::string& name, const std::string& className, const std::string& method,
          const std::string& message, ylt::errorType type);
};

}  // namespace vrnutilities

namespace VRNUtilities {

// Lists the models of a TOLV meshing-database file through the reader
// program. Appends each model's two integers and two names to the vectors
// (they are not emptied first) and sets count. Returns true or throws
// ylt::vrnutilities::error.
VRNUTILITIES_API bool getModelsFromTOLVFile(const std::string& file, int& count,
                                            std::vector<int>& ids1, std::vector<int>& ids2,
                                            std::vector<std::basic_string<unsigned short> >& names1,
                                            std::vector<std::basic_string<unsigned short> >& names2);

// Lists the bases of a CGNS file: 1-based indices and UTF-16 names. Empties
// both vectors first; sets count to the number of names returned. Returns
// true or throws ylt::vrnutilities::error.
VRNUTILITIES_API bool getBasesFromCGNSFile(const std::string& file, int& count,
                                           std::vector<int>& baseIndices,
                                           std::vector<std::basic_string<unsigned short> >& baseNames);

}  // namespace VRNUtilities
}  // namespace ylt
