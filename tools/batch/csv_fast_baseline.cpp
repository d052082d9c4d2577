// The quick route for every CPU of the target (SSE2 on x86-64).
#define MINT_QUICK_ROUTE quick_route_baseline
#include "csv_fast_route.h"
