#pragma once

// Root of the image library's class tree: a virtual destructor and a validity hook that
// debug builds may call; nothing in the library overrides it with real checks yet.
class CPLObject {
public:
    virtual ~CPLObject() = default;
    virtual void CheckValid() const {}

protected:
    CPLObject() = default;
    CPLObject(const CPLObject&) = default;
    CPLObject& operator=(const CPLObject&) = default;
};
