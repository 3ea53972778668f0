// Arbitrary arrivals into the first board engine in any step.
#include "fuzz/fuzzmain.h"

UPS_FUZZ_TARGET(feedFirstBoard)
