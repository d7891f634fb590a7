#pragma once

#include "core/IntTypes.h"
#include "core/RandomWrapper.h"

#include <cmath>

// Firing-delay samplers of timed transitions, in seconds. Each Delay draws from its own stream.
class Delay {
 public:
  double Exp(double m) const { return (m < 0.0) ? 0.0 : -std::log(1.0 - rng.randu01()) * m; }
  double Det(double x) const { return x; }
  double Uni(double a, double b) const;
  double DUni(Long32 a, Long32 b) const;
  // Symmetric triangular on [a, b].
  double Triang(double a, double b) const;
  // The polar method yields deviates in pairs; the spare one is kept for the next call on any
  // Delay of the process.
  double Norm(double mu, double sigma) const;
  double LogNorm(double mu, double sigma) const;
  // a: scale, b: shape.
  double Wei(double a, double b) const;

 private:
  // Drawing advances the stream but is no change to the sampler a caller sees.
  mutable RandomWrapper rng;
};
