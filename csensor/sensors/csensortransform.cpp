#include "csensor/sensors/csensortransform.h"

#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

double radians(double degrees) {
    return degrees / 180.0 * kPi;
}

} // namespace

CSensorMatrix CSensorMatrix::FromAngles(double alphaDeg, double betaDeg, double gammaDeg) {
    double ca = std::cos(radians(alphaDeg)), sa = std::sin(radians(alphaDeg));
    double cb = std::cos(radians(betaDeg)), sb = std::sin(radians(betaDeg));
    double cg = std::cos(radians(gammaDeg)), sg = std::sin(radians(gammaDeg));
    CSensorMatrix rx, ry, rz;
    rx.m[1][1] = ca;
    rx.m[1][2] = -sa;
    rx.m[2][1] = sa;
    rx.m[2][2] = ca;
    ry.m[0][0] = cb;
    ry.m[0][2] = sb;
    ry.m[2][0] = -sb;
    ry.m[2][2] = cb;
    rz.m[0][0] = cg;
    rz.m[0][1] = -sg;
    rz.m[1][0] = sg;
    rz.m[1][1] = cg;
    return rz * ry * rx;
}

CSensorMatrix CSensorMatrix::operator*(const CSensorMatrix& other) const {
    CSensorMatrix r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k)
                sum += m[i][k] * other.m[k][j];
            r.m[i][j] = sum;
        }
    return r;
}

void CSensorMatrix::Apply(double v[3]) const {
    double r[3];
    for (int i = 0; i < 3; ++i)
        r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    for (int i = 0; i < 3; ++i)
        v[i] = r[i];
}
