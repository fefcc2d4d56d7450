#pragma once

#include <csetjmp>
#include <utility>

// libjpeg and libpng report a fatal error by calling the decoder's error routine, which must
// not return to them, and a C++ exception must not unwind through their C frames. So the
// routine records the failure and longjmps to the jump buffer; RunGuarded, wrapped around
// each stretch of library calls, then returns false, and the decoder raises the recorded
// failure from its own frames.
//
// Between the setjmp here and a longjmp lie only the library's frames, the decoder's
// callbacks and the call's own frame; none of them may hold an object with a destructor.
template <typename Call>
bool RunGuarded(std::jmp_buf& jump, Call&& call) {
    if (setjmp(jump) != 0) return false;
    std::forward<Call>(call)();
    return true;
}
