// Arbitrary bytes as an object file of the signal processor.
#include "fuzz/fuzzmain.h"

UPS_FUZZ_TARGET(translateObjectFile)
