#include "ylt/Error.h"

namespace ylt {

Error::Error() : type_(errorTypeNone), code_(0) {}

Error::Error(const std::string& errorClass, const std::string& className, const std::string& method,
             const std::string& message, errorType type, int code)
    : errorClass_(errorClass),
      className_(className),
      method_(method),
      message_(message),
      type_(type),
      code_(code) {}

Error::Error(const Error& other) = default;
Error& Error::operator=(const Error& other) = default;
Error::~Error() = default;

errorType Error::getType() const { return type_; }

void Error::write(std::ostream& out) const { out << errorMessage() << '\n'; }

std::string Error::getClass() const { return className_; }

std::string Error::getMethod() const { return method_; }

std::string Error::errorMessage() const {
    std::string text = errorClass_;
    text += " in ";
    text += className_;
    text += "::";
    text += method_;
    text += ": ";
    text += message_;
    return text;
}

std::string Error::getMessage() const { return message_; }

}  // namespace ylt
