// ylt::Error: the base of every exception that the product's libraries throw
// across a library boundary. Stand-in for the closed sibling exception
// library; built as a shared library of its own so that the type has one
// identity in the host process.
#pragma once

#include <ostream>
#include <string>

namespace ylt {

// Kinds of error. The host interface throws value 4.
enum errorType {
    errorTypeNone = 0,
    errorTypeWarning = 1,
    errorTypeUser = 2,
    errorTypeInternal = 3,
    errorTypeLibrary = 4
};

class Error {
public:
    Error(const Error& other);
    Error& operator=(const Error& other);
    virtual ~Error();

    // Virtual operations, in this order.
    virtual errorType getType() const;
    // Writes "<errorClass> in <class>::<method>: <message>" and a newline.
    virtual void write(std::ostream& out) const;
    virtual std::string getClass() const;
    virtual std::string getMethod() const;
    // The full text that write() prints, without the newline.
    virtual std::string errorMessage() const;
    virtual std::string getMessage() const;

    // The error-class name given at construction ("vrnutilities::error").
    const std::string& getErrorClass() const { return errorClass_; }
    int getCode() const { return code_; }

protected:
    Error();
    Error(const std::string& errorClass, const std::string& className, const std::string& method,
          const std::string& message, errorType type, int code);

private:
    std::string errorClass_;
    std::string className_;
    std::string method_;
    std::string message_;
    errorType type_;
    int code_;
};

}  // namespace ylt
