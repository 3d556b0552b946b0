#pragma once

class QNL_random;

// Draws of a normal distribution restricted to an interval, by inversion of its distribution
// function: exact however far into a tail the interval lies, and without redraws, so that a
// range keeping a share of 1e-6 costs what a plain draw costs. Tails are inverted through
// their own small probabilities (1 - Phi would keep no digits beyond about 8 sd).

// P(Z > z) for a standard normal Z.
double NormalUpperTail(double z);
// The z at which NormalUpperTail(z) equals q, for q in (0, 1); NaN outside.
double InverseNormalUpperTail(double q);
// A draw of Normal(mean, sd) within [lower, upper], from 30 bits of the generator; false, with
// nothing drawn, for an sd that is not a positive finite number, an interval that is empty or
// not finite where it matters, or one too far out to hold any mass a double can represent.
bool TruncatedNormalDraw(QNL_random& random, double mean, double sd, double lower, double upper,
                         double& out);
