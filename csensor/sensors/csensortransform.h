#pragma once
// 3x3 matrices for the sensor's orientation: the probe system's mounting angles, its
// matrix and the tip angles combine into the direction in which the probe points.

struct CSensorMatrix {
    double m[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};

    static CSensorMatrix Identity() { return CSensorMatrix(); }
    // Rotation about x by alpha, then y by beta, then z by gamma (degrees): Rz * Ry * Rx.
    static CSensorMatrix FromAngles(double alphaDeg, double betaDeg, double gammaDeg);

    CSensorMatrix operator*(const CSensorMatrix& other) const;
    // this * (x, y, z), in place.
    void Apply(double v[3]) const;
    bool operator==(const CSensorMatrix& other) const = default;
};
