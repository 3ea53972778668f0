// Arbitrary arrivals into the second board engine in any state.
#include "fuzz/fuzzmain.h"

UPS_FUZZ_TARGET(feedSecondBoard)
