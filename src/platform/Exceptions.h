#pragma once
// The exception classes the program raises for misuse and exhausted memory.
//
// Everything the zip library and the workers may catch as "unexpected" derives from
// RuntimeException. ThreadEnd, raised at a cancellation point of a killed Thread, derives from
// nothing the program catches, so catch-all handlers for RuntimeException let it pass.

#include <stdexcept>
#include <string>

namespace lv {

class RuntimeException : public std::runtime_error {
public:
    explicit RuntimeException(const std::string& message, int errorNumber = 0)
        : std::runtime_error(message), m_errorNumber(errorNumber) {}
    int errorNumber() const noexcept { return m_errorNumber; }

private:
    int m_errorNumber;
};

// An object was used that does not exist (a closed archive's stream, a missing item).
class NilObjectException : public RuntimeException {
public:
    explicit NilObjectException(const std::string& message = "Nil object") : RuntimeException(message, 1) {}
};

// An index or offset outside the bounds of an array, block or stream.
class OutOfBoundsException : public RuntimeException {
public:
    explicit OutOfBoundsException(const std::string& message = "Out of bounds") : RuntimeException(message, 2) {}
};

// A block could not be allocated.
class OutOfMemoryException : public RuntimeException {
public:
    explicit OutOfMemoryException(const std::string& message = "Out of memory") : RuntimeException(message, 3) {}
};

// Thrown at the next cancellation point of a killed Thread. Deliberately not a std::exception.
struct ThreadEnd {};

} // namespace lv
