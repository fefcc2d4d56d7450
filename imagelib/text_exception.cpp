#include "text_exception.h"

#include <utility>

CTextException::CTextException(int code, std::string text) : code_(code), text_(std::move(text)) {}
