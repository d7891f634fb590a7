#include "core/RandomWrapper.h"

RandomWrapper::RandomWrapper() : stream("") {}

bool RandomWrapper::SetPackageSeed(const unsigned long seed[6]) {
  return RngStream::SetPackageSeed(seed);
}
