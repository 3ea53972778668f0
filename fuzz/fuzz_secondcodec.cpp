// The second board's replies alone, in any pieces.
#include "fuzz/fuzzmain.h"

UPS_MEMORY_FUZZ_TARGET(decodeSecondBoard)
