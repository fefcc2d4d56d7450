#pragma once

// The weighting function of the resampler: how much a source sample at distance x from a
// destination sample's centre contributes to it.
class CResampleKernel {
public:
    explicit CResampleKernel(double width) : width_(width) {}
    virtual ~CResampleKernel() = default;

    virtual double Evaluate(double x) const = 0;
    double Width() const { return width_; }

protected:
    double width_;
};

// width - |x| inside the width, 0 outside: linear interpolation at width 1.
class CTriangleKernel : public CResampleKernel {
public:
    explicit CTriangleKernel(double width) : CResampleKernel(width) {}

    double Evaluate(double x) const override;
};
