#pragma once

// Eigenvalues and eigenvectors of a symmetric 3x3 matrix in closed form: the eigenvalue of
// largest magnitude from the normalised characteristic cubic, its eigenvector from the
// adjugate, and the remaining 2x2 block by one plane rotation. No iteration to convergence,
// so the cost is fixed.

#include "core/matrix3.h"

#include <array>

// Reads the upper triangle of m. The eigenvectors are the columns of a right-handed
// orthonormal frame, column i belonging to eigenvalue i. With sortDescending false they
// come in the order found (the one of largest magnitude about the mean first); with it true
// the eigenvalues are descending and the third column is negated after an odd reordering.
void SymEigen3(const Matrix3& m, bool sortDescending, std::array<double, 3>& eigenvalues,
               Matrix3& eigenvectors);
