#include "geometry/default_placement.h"

namespace {

struct DefaultPlacement {
    Vec3 origin;
    Matrix3 orientation = Matrix3SetDiagonal(1.0);
    double length = 25.0;
};

DefaultPlacement& TheDefaults() {
    static DefaultPlacement defaults;
    return defaults;
}

}  // namespace

const Vec3& DefaultOrigin() { return TheDefaults().origin; }
const Matrix3& DefaultOrientation() { return TheDefaults().orientation; }
double DefaultLength() { return TheDefaults().length; }

void SetDefaultOrigin(const Vec3& origin) { TheDefaults().origin = origin; }
void SetDefaultOrientation(const Matrix3& orientation) { TheDefaults().orientation = orientation; }
void SetDefaultLength(double length) { TheDefaults().length = length; }
