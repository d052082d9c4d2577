// Picks the quick route's compilation for this CPU, once, on first use.
#include "csv_fast.h"

#include <cstring>

#if MINT_QUICK_ROUTE_AVX2
#include <cpuid.h>
#endif

namespace quick_route_baseline {
fast_line read_line(const char* line, size_t length, uuid_hash_data* record);
const char* find_stop(const char* text, char stop);
}  // namespace quick_route_baseline

#if MINT_QUICK_ROUTE_AVX2
namespace quick_route_avx2 {
fast_line read_line(const char* line, size_t length, uuid_hash_data* record);
}  // namespace quick_route_avx2
#endif

namespace {

bool always_supported() {
    return true;
}

#if MINT_QUICK_ROUTE_AVX2
// AVX2 with the operating system saving its registers, BMI1, BMI2, POPCNT
// and LZCNT, as the AVX2 compilation is built for.
bool avx2_supported() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    constexpr unsigned popcnt_bit = 1u << 23, osxsave_bit = 1u << 27;
    if ((ecx & popcnt_bit) == 0 || (ecx & osxsave_bit) == 0) return false;
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    constexpr unsigned sse_and_avx_state = 0x6;
    if ((xcr0_low & sse_and_avx_state) != sse_and_avx_state) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    constexpr unsigned bmi1_bit = 1u << 3, avx2_bit = 1u << 5, bmi2_bit = 1u << 8;
    if ((ebx & bmi1_bit) == 0 || (ebx & avx2_bit) == 0 || (ebx & bmi2_bit) == 0) return false;
    if (!__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx)) return false;
    constexpr unsigned lzcnt_bit = 1u << 5;
    return (ecx & lzcnt_bit) != 0;
}
#endif

constexpr quick_route all_routes[] = {
    {"baseline", quick_route_baseline::read_line, always_supported},
#if MINT_QUICK_ROUTE_AVX2
    {"avx2", quick_route_avx2::read_line, avx2_supported},
#endif
};

const quick_route* detect() {
    const quick_route* best = &all_routes[0];
    for (const quick_route& route : all_routes) {
        if (route.supported()) best = &route;
    }
    return best;
}

}  // namespace

std::span<const quick_route> quick_routes() {
    return all_routes;
}

const quick_route& selected_quick_route() {
    static const quick_route* const selected = detect();
    return *selected;
}

const char* find_csv_stop_portable(const char* text, char stop) {
    while (*text != stop && *text != '\0') ++text;
    return text;
}

const char* find_csv_stop(const char* text, char stop) {
    return quick_route_baseline::find_stop(text, stop);
}

fast_line read_csv_line_fast(const char* line, size_t length, uuid_hash_data* record) {
    return selected_quick_route().read(line, length, record);
}

fast_line derive_csv_line_fast(const char* line, size_t length, char (&uuid)[12]) {
    uuid_hash_data record;
    if (read_csv_line_fast(line, length, &record) != fast_line::derived || !uuid_create(&record)) {
        return fast_line::general_path;
    }
    std::memcpy(uuid, record.uuid, sizeof uuid);
    return fast_line::derived;
}
