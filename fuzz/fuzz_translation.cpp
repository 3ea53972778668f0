// Arbitrary bytes as an object file of the signal processor, read and
// flattened in memory.
#include "fuzz/fuzzmain.h"

UPS_MEMORY_FUZZ_TARGET(readObjectFile)
