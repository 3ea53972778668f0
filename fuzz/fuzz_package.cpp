// Arbitrary bytes as a firmware package, unpacked and checked.
#include "fuzz/fuzzmain.h"

UPS_FUZZ_TARGET(unpackPackage)
