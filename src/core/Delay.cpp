#include "core/Delay.h"

#include <utility>

double Delay::Uni(double a, double b) const {
  if (a > b) std::swap(a, b);
  return a + (b - a) * rng.randu01();
}

double Delay::DUni(Long32 a, Long32 b) const {
  if (b < a) std::swap(a, b);
  return static_cast<double>(rng.randint(a, b));
}

double Delay::Triang(double a, double b) const {
  if (a > b) std::swap(a, b);
  double u1;
  double u2;
  do {
    u1 = rng.randu01();
    u2 = rng.randu01() / 2.0;
  } while (!((u1 < 0.5 && u1 > u2) || (u1 >= 0.5 && u2 > u1 - 0.5)));
  return a + (b - a) * u1;
}

double Delay::Norm(double mu, double sigma) const {
  static bool iset = false;
  static double gset = 0.0;
  double z;
  if (!iset) {
    double x;
    double y;
    double r;
    do {
      x = 2.0 * rng.randu01() - 1.0;
      y = 2.0 * rng.randu01() - 1.0;
      r = x * x + y * y;
    } while (r >= 1.0 || r == 0.0);
    const double f = std::sqrt(-2.0 * std::log(r) / r);
    gset = x * f;
    iset = true;
    z = y * f;
  } else {
    iset = false;
    z = gset;
  }
  return z * sigma + mu;
}

double Delay::LogNorm(double mu, double sigma) const { return std::exp(Norm(mu, sigma)); }

double Delay::Wei(double a, double b) const {
  return a * std::pow(-std::log(1.0 - rng.randu01()), 1.0 / b);
}
