#include "core/RngStream.h"

#include <cstdint>
#include <iostream>

namespace {

constexpr double two17 = 131072.0;
constexpr double two53 = 9007199254740992.0;

using Matrix = double[3][3];

// One-step transition matrices of the two components and their inverses.
constexpr Matrix A1p0 = {{0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, {-810728.0, 1403580.0, 0.0}};
constexpr Matrix A2p0 = {{0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, {-1370589.0, 0.0, 527612.0}};
constexpr Matrix InvA1 = {{184888585.0, 0.0, 1945170933.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}};
constexpr Matrix InvA2 = {{0.0, 360363334.0, 4225571728.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}};

// Substream jump (2^76 steps).
constexpr Matrix A1p76 = {{82758667.0, 1871391091.0, 4127413238.0},
                          {3672831523.0, 69195019.0, 1871391091.0},
                          {3672091415.0, 3528743235.0, 69195019.0}};
constexpr Matrix A2p76 = {{1511326704.0, 3759209742.0, 1610795712.0},
                          {4292754251.0, 1511326704.0, 3889917532.0},
                          {3859662829.0, 4292754251.0, 3708466080.0}};

// Stream jump (2^127 steps).
constexpr Matrix A1p127 = {{2427906178.0, 3580155704.0, 949770784.0},
                           {226153695.0, 1230515664.0, 3580155704.0},
                           {1988835001.0, 986791581.0, 1230515664.0}};
constexpr Matrix A2p127 = {{1464411153.0, 277697599.0, 1610723613.0},
                           {32183930.0, 1464411153.0, 1022607788.0},
                           {2824425944.0, 32183930.0, 2093834863.0}};

// (a * s + c) mod m, exact in doubles: when the product exceeds 53 bits, a is split at 2^17.
double MultModM(double a, double s, double c, double m) {
  double v = a * s + c;
  if (v >= two53 || v <= -two53) {
    std::int64_t a1 = static_cast<std::int64_t>(a / two17);
    a -= a1 * two17;
    v = a1 * s;
    a1 = static_cast<std::int64_t>(v / m);
    v -= a1 * m;
    v = v * two17 + a * s + c;
  }
  const std::int64_t a1 = static_cast<std::int64_t>(v / m);
  v -= a1 * m;
  return (v < 0.0) ? v + m : v;
}

// v = A * s mod m; v may be s.
void MatVecModM(const Matrix A, const double s[3], double v[3], double m) {
  double x[3];
  for (int i = 0; i < 3; ++i) {
    x[i] = MultModM(A[i][0], s[0], 0.0, m);
    x[i] = MultModM(A[i][1], s[1], x[i], m);
    x[i] = MultModM(A[i][2], s[2], x[i], m);
  }
  for (int i = 0; i < 3; ++i) v[i] = x[i];
}

// C = A * B mod m; C may be A or B.
void MatMatModM(const Matrix A, const Matrix B, Matrix C, double m) {
  double V[3];
  Matrix W;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) V[j] = B[j][i];
    MatVecModM(A, V, V, m);
    for (int j = 0; j < 3; ++j) W[j][i] = V[j];
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) C[i][j] = W[i][j];
}

// B = A^(2^e) mod m.
void MatTwoPowModM(const Matrix A, Matrix B, double m, std::int64_t e) {
  if (A != B) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) B[i][j] = A[i][j];
  }
  for (std::int64_t i = 0; i < e; ++i) MatMatModM(B, B, B, m);
}

// B = A^n mod m, by the binary decomposition of n.
void MatPowModM(const Matrix A, Matrix B, double m, std::int64_t n) {
  Matrix W;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      W[i][j] = A[i][j];
      B[i][j] = (i == j) ? 1.0 : 0.0;
    }
  while (n > 0) {
    if (n % 2 != 0) MatMatModM(W, B, B, m);
    MatMatModM(W, W, W, m);
    n /= 2;
  }
}

// s = A * s mod m for a matrix of nonnegative entries: the values are whole numbers below 2^32, so
// 64-bit integers hold every product and sum exactly and give what MatVecModM gives, in a
// fraction of its time. Each new stream makes this jump, and a transient run makes new streams for
// every replication.
template <std::uint64_t m>
void JumpModM(const Matrix A, double s[3]) {
  std::uint64_t x[3];
  for (int i = 0; i < 3; ++i) {
    std::uint64_t sum = 0;
    for (int j = 0; j < 3; ++j) {
      sum = (static_cast<std::uint64_t>(A[i][j]) * static_cast<std::uint64_t>(s[j]) + sum) % m;
    }
    x[i] = sum;
  }
  for (int i = 0; i < 3; ++i) s[i] = static_cast<double>(x[i]);
}

void writeVector(const char* label, const double v[6], const char* end) {
  std::cout << label;
  for (int i = 0; i < 5; ++i) std::cout << static_cast<unsigned long>(v[i]) << ", ";
  std::cout << static_cast<unsigned long>(v[5]) << end;
}

}  // namespace

double RngStream::nextSeed[6] = {12345.0, 12345.0, 12345.0, 12345.0, 12345.0, 12345.0};

RngStream::RngStream(const char* s) : anti(false), incPrec(false), name(s != nullptr ? s : "") {
  for (int i = 0; i < 6; ++i) Bg[i] = Cg[i] = Ig[i] = nextSeed[i];
  JumpModM<static_cast<std::uint64_t>(m1)>(A1p127, nextSeed);
  JumpModM<static_cast<std::uint64_t>(m2)>(A2p127, &nextSeed[3]);
}

bool RngStream::CheckSeed(const unsigned long seed[6]) {
  for (int i = 0; i < 3; ++i) {
    if (seed[i] >= 4294967087UL) {
      std::cerr << "****************************************\n"
                << "ERROR: Seed[" << i << "] >= 4294967087, Seed is not set."
                << "\n****************************************\n\n";
      return false;
    }
  }
  for (int i = 3; i < 6; ++i) {
    if (seed[i] >= 4294944443UL) {
      std::cerr << "*****************************************\n"
                << "ERROR: Seed[" << i << "] >= 4294944443, Seed is not set."
                << "\n*****************************************\n\n";
      return false;
    }
  }
  if (seed[0] == 0 && seed[1] == 0 && seed[2] == 0) {
    std::cerr << "****************************\n"
              << "ERROR: First 3 seeds = 0.\n"
              << "****************************\n\n";
    return false;
  }
  if (seed[3] == 0 && seed[4] == 0 && seed[5] == 0) {
    std::cerr << "****************************\n"
              << "ERROR: Last 3 seeds = 0.\n"
              << "****************************\n\n";
    return false;
  }
  return true;
}

bool RngStream::SetPackageSeed(const unsigned long seed[6]) {
  if (!CheckSeed(seed)) return false;
  for (int i = 0; i < 6; ++i) nextSeed[i] = static_cast<double>(seed[i]);
  return true;
}

void RngStream::ResetStartStream() {
  for (int i = 0; i < 6; ++i) Cg[i] = Bg[i] = Ig[i];
}

void RngStream::ResetStartSubstream() {
  for (int i = 0; i < 6; ++i) Cg[i] = Bg[i];
}

void RngStream::ResetNextSubstream() {
  MatVecModM(A1p76, Bg, Bg, m1);
  MatVecModM(A2p76, &Bg[3], &Bg[3], m2);
  for (int i = 0; i < 6; ++i) Cg[i] = Bg[i];
}

void RngStream::SetAntithetic(bool a) { anti = a; }

void RngStream::IncreasedPrecis(bool incp) { incPrec = incp; }

bool RngStream::SetSeed(const unsigned long seed[6]) {
  if (!CheckSeed(seed)) return false;
  for (int i = 0; i < 6; ++i) Cg[i] = Bg[i] = Ig[i] = static_cast<double>(seed[i]);
  return true;
}

void RngStream::AdvanceState(Long32 e, Long32 c) {
  // Negated in 64 bits so that the most negative e or c is safe.
  const std::int64_t e64 = e;
  const std::int64_t c64 = c;
  Matrix B1, C1, B2, C2;

  if (e64 > 0) {
    MatTwoPowModM(A1p0, B1, m1, e64);
    MatTwoPowModM(A2p0, B2, m2, e64);
  } else if (e64 < 0) {
    MatTwoPowModM(InvA1, B1, m1, -e64);
    MatTwoPowModM(InvA2, B2, m2, -e64);
  }

  if (c64 >= 0) {
    MatPowModM(A1p0, C1, m1, c64);
    MatPowModM(A2p0, C2, m2, c64);
  } else {
    MatPowModM(InvA1, C1, m1, -c64);
    MatPowModM(InvA2, C2, m2, -c64);
  }

  if (e64 != 0) {
    MatMatModM(B1, C1, C1, m1);
    MatMatModM(B2, C2, C2, m2);
  }

  MatVecModM(C1, Cg, Cg, m1);
  MatVecModM(C2, &Cg[3], &Cg[3], m2);
}

void RngStream::GetState(unsigned long seed[6]) const {
  for (int i = 0; i < 6; ++i) seed[i] = static_cast<unsigned long>(Cg[i]);
}

void RngStream::WriteState() const {
  std::cout << "The current state of the Rngstream";
  if (!name.empty()) std::cout << " " << name;
  writeVector(":\n   Cg = { ", Cg, " }\n\n");
}

void RngStream::WriteStateFull() const {
  std::cout << "The RngStream";
  if (!name.empty()) std::cout << " " << name;
  std::cout << ":\n   anti = " << (anti ? "true" : "false") << "\n";
  std::cout << "   incPrec = " << (incPrec ? "true" : "false") << "\n";
  writeVector("   Ig = { ", Ig, " }\n");
  writeVector("   Bg = { ", Bg, " }\n");
  writeVector("   Cg = { ", Cg, " }\n\n");
}
