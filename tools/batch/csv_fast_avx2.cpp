// The quick route for x86-64 CPUs with AVX2 and the bit-manipulation
// instructions (BMI1, BMI2, POPCNT, LZCNT); the build compiles this file for
// them, and it is used only where the CPU has them.
#define MINT_QUICK_ROUTE quick_route_avx2
#include "csv_fast_route.h"
