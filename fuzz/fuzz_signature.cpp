// Arbitrary bytes as a package's SIGNATURE member.
#include "fuzz/fuzzmain.h"

UPS_MEMORY_FUZZ_TARGET(parseSignature)
