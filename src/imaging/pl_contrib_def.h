#pragma once

// Kernels of the two-pass scaler: a narrow tent ("bilinear") and a Gaussian. Constant
// factors need not be exact, since the scaler normalises the weights of every output pixel.

class PLContribDef {
public:
    explicit PLContribDef(double kernelWidth) : width(kernelWidth) {}
    virtual ~PLContribDef() = default;

    double GetWidth() const { return width; }

    // The kernel's value at distance x from the centre.
    virtual double Filter(double x) const = 0;

private:
    double width = 0;
};

class PLBilinearContribDef : public PLContribDef {
public:
    using PLContribDef::PLContribDef;

    // width - |x| inside the width, else 0.
    double Filter(double x) const override;
};

class PLGaussianContribDef : public PLContribDef {
public:
    using PLContribDef::PLContribDef;

    // exp(-x^2 / width - 1) / sqrt(2 pi) up to the width, else 0.
    double Filter(double x) const override;
};
