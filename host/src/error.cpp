#include "VRNUtilities.h"

namespace ylt {
namespace vrnutilities {

error::error() : ylt::Error() {}

error::error(const std::string& className, const std::string& method, const std::string& message,
             ylt::errorType type)
    : ylt::Error("vrnutilities::error", className, method, message, type, 0) {}

error::error(const std::string& name, const std::string& className, const std::string& method,
             const std::string& message, ylt::errorType type)
    : ylt::Error(name, className, method, message, type, 0) {}

error::error(const error& other) : ylt::Error(other) {}

error& error::operator=(const error& other) {
    ylt::Error::operator=(other);
    return *this;
}

error::~error() {}

}  // namespace vrnutilities
}  // namespace ylt
