#pragma once

#include <cstdlib>

// Turns on the decoder helper's test faults (files named fault-crash*, fault-hang*, ...) for
// the helpers started while it lives.
class FaultSwitch {
public:
    FaultSwitch() { ::setenv("VT_DECODER_TEST_FAULTS", "1", 1); }
    ~FaultSwitch() { ::unsetenv("VT_DECODER_TEST_FAULTS"); }
    FaultSwitch(const FaultSwitch&) = delete;
    FaultSwitch& operator=(const FaultSwitch&) = delete;
};
