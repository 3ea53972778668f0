// The first board's replies alone, framed or preamble, in any pieces.
#include "fuzz/fuzzmain.h"

UPS_MEMORY_FUZZ_TARGET(decodeFirstBoard)
