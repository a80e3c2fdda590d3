#include "call_error.h"

#include <stdexcept>

std::string callErrorText(const char* call, DWORD code) {
    return std::string("Error calling ") + call + " with code " +
           std::to_string(static_cast<unsigned long>(code));
}

void throwCallError(const char* call, DWORD code) {
    throw std::runtime_error(callErrorText(call, code));
}
