#pragma once

#include "pl_object.h"

#include <cstdint>
#include <exception>
#include <string>

// Error codes carried by CTextException. Values are stable: callers and tools print them.
enum ErrorCode : int {
    ERR_CANNOT_CREATE = -1,       // an output file or its buffer cannot be made
    ERR_NOT_THIS_FORMAT = 1,      // data lacks the format's signature
    ERR_BAD_DATA = 2,             // a header or data field breaks the format
    ERR_NO_SUCH_PATH = 3,         // the file's directory does not exist
    ERR_CANNOT_OPEN = 4,          // the file cannot be opened (missing file among others)
    ERR_NO_ACCESS = 5,            // access denied, or the file cannot be mapped (empty file)
    ERR_FEATURE_UNAVAILABLE = 6,  // the build cannot decode this, or a codec library failed
    ERR_CANNOT_HANDLE = 7,        // a variant the decoder cannot handle
    ERR_UNKNOWN_TYPE = 8,         // no format recognised
    ERR_OUT_OF_MEMORY = 10,       // allocation failed or a size exceeds the storage limit
    ERR_END_OF_DATA = 11,         // read past the end of data, or encoder buffer overflow
    ERR_CANCELLED = 12,           // the caller cancelled the decode ("Decoding was cancelled.")
};

// The picture size a header declared, carried by a failure about that size (a picture over
// a limit, code 10) so that the user can be told how large it is; 0 x 0 when unknown.
struct DeclaredSize {
    int64_t width = 0;
    int64_t height = 0;
};

// The one failure signal of the image library: a code and a message a person can act on.
// Thrown by value, caught by reference.
class CTextException : public CPLObject, public std::exception {
public:
    CTextException(int code, std::string text, DeclaredSize declared = {});

    virtual int Code() const { return code_; }
    virtual const std::string& Text() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }
    DeclaredSize Declared() const { return declared_; }

private:
    int code_;
    std::string text_;
    DeclaredSize declared_;
};
