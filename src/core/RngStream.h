#pragma once

#include "core/IntTypes.h"

#include <cstdint>
#include <string>

// One stream of the combined multiple-recursive generator MRG32k3a (L'Ecuyer, Simard, Chen and
// Kelton, 2002). Streams are 2^127 steps apart and are handed out in construction order from the
// package seed; each stream is split into substreams 2^76 steps apart.
class RngStream {
 public:
  explicit RngStream(const char* name = "");

  // Start of the next stream to be created; refused (with a message on standard error) unless
  // the first three values are below m1, the last three below m2 and neither triple is all 0.
  static bool SetPackageSeed(const unsigned long seed[6]);

  void ResetStartStream();
  void ResetStartSubstream();
  void ResetNextSubstream();
  void SetAntithetic(bool a);
  void IncreasedPrecis(bool incp);
  bool SetSeed(const unsigned long seed[6]);
  // Moves the state 2^e + c steps on (e > 0), -2^-e + c steps (e < 0) or c steps (e == 0).
  void AdvanceState(Long32 e, Long32 c);
  void GetState(unsigned long seed[6]) const;
  void WriteState() const;
  void WriteStateFull() const;

  double RandU01() { return incPrec ? U01d() : U01(); }
  // Uniform on {i, ..., j}.
  int RandInt(int i, int j);

 private:
  static constexpr double m1 = 4294967087.0;
  static constexpr double m2 = 4294944443.0;
  static constexpr double norm = 2.328306549295728e-10;  // 1 / (m1 + 1)
  static constexpr double a12 = 1403580.0;
  static constexpr double a13n = 810728.0;
  static constexpr double a21 = 527612.0;
  static constexpr double a23n = 1370589.0;
  static constexpr double fact = 5.960464477539063e-8;  // 2^-24

  // One step of a component: p mod m is shifted into its three state values and returned.
  // `inverse` is 1 / m: the quotient comes from a multiplication, not a division.
  static double Recur(double s[3], double p, double m, double inverse);
  double U01();
  double U01d();
  static bool CheckSeed(const unsigned long seed[6]);

  double Cg[6];  // current state
  double Bg[6];  // start of the current substream
  double Ig[6];  // start of the stream
  bool anti;
  bool incPrec;
  std::string name;

  static double nextSeed[6];
};

inline double RngStream::Recur(double s[3], double p, double m, double inverse) {
  // |p / m| stays below 2^21, so the quotient fits an int. Taken by the rounded inverse it may be
  // one off either way; every value here is a whole number below 2^53, so the remainder is exact
  // and, put back into [0, m), is the same as after a division, which costs several times more.
  // Which way it is off is a coin toss, so it is put back by arithmetic, not by a branch the
  // processor would mispredict half the time; adding 0 changes no whole number.
  p -= static_cast<int>(p * inverse) * m;
  p += m * ((p < 0.0) - (p >= m));
  s[0] = s[1];
  s[1] = s[2];
  s[2] = p;
  return p;
}

inline double RngStream::U01() {
  const double p1 = Recur(&Cg[0], a12 * Cg[1] - a13n * Cg[0], m1, 1.0 / m1);
  const double p2 = Recur(&Cg[3], a21 * Cg[5] - a23n * Cg[3], m2, 1.0 / m2);
  // (p1 - p2) when p1 > p2, else (p1 - p2 + m1); without a branch, as above.
  const double d = p1 - p2;
  const double u = (d + m1 * (d <= 0.0)) * norm;
  return anti ? 1.0 - u : u;
}

// Inline: every conflict and every choice among several candidates draws one.
inline int RngStream::RandInt(int i, int j) {
  // The span j - i + 1 needs 33 bits in general; the result lies between i and j, so it fits.
  const double span = static_cast<double>(static_cast<std::int64_t>(j) - i) + 1.0;
  return static_cast<int>(i + static_cast<std::int64_t>(RandU01() * span));
}

inline double RngStream::U01d() {
  double u = U01();
  if (anti) {
    // U01() already returns 1 - u here, so the low-order part is shifted down by one.
    u += (U01() - 1.0) * fact;
    return (u < 0.0) ? u + 1.0 : u;
  }
  u += U01() * fact;
  return (u < 1.0) ? u : u - 1.0;
}
