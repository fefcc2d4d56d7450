#include "text_exception.h"

#include <utility>

CTextException::CTextException(int code, std::string text, DeclaredSize declared)
    : code_(code), text_(std::move(text)), declared_(declared) {}
