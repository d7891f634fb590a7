#pragma once

// Everything needed to share tokens through reference-counted pointers.
#include "core/Ptr.h"
#include "core/PtrRefCounter.h"
#include "core/QuickMutex.h"
