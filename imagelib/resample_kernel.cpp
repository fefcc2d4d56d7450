#include "resample_kernel.h"

#include <cmath>

double CTriangleKernel::Evaluate(double x) const {
    const double distance = std::fabs(x);
    return distance < width_ ? width_ - distance : 0.0;
}
