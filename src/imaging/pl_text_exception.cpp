#include "imaging/pl_text_exception.h"

#include <utility>

PLTextException::PLTextException(std::int32_t errorCode, std::string errorText)
    : code(errorCode), text(std::move(errorText)) {}
