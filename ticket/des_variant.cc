// Which bitsliced variant a process runs: what the build has, what the CPU
// and the operating system offer, and what DES_ENGINE asks for.

#include "ticket/des_engine.h"

#include <cstdint>
#include <cstdlib>

#if defined(TICKET_DES_X86_LANES)
#include <cpuid.h>
#endif

namespace {

struct cpu_offers {
  bool avx2 = false;
  bool avx512 = false;  // F and VL, which every AVX-512 core here needs
};

#if defined(TICKET_DES_X86_LANES)
// The register state the OS saves on a context switch (XCR0). A CPU bit alone
// is not enough: without the OS's support the wide registers fault or lose
// their contents.
std::uint64_t os_saved_state() {
  std::uint32_t low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return static_cast<std::uint64_t>(high) << 32 | low;
}

cpu_offers detect() {
  cpu_offers offers;
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return offers;
  const bool os_uses_xsave = (c & (1U << 27)) != 0;
  const bool avx = (c & (1U << 28)) != 0;
  if (!os_uses_xsave || !avx) return offers;
  const std::uint64_t state = os_saved_state();
  const bool ymm_saved = (state & 0x06U) == 0x06U;  // SSE and AVX state
  const bool zmm_saved = (state & 0xE6U) == 0xE6U;  // and opmask, upper ZMM, ZMM16-31
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return offers;
  offers.avx2 = ymm_saved && (b & (1U << 5)) != 0;
  offers.avx512 = zmm_saved && (b & (1U << 16)) != 0 && (b & (1U << 31)) != 0;
  return offers;
}
#else
cpu_offers detect() { return {}; }
#endif

const cpu_offers& offers() {
  static const cpu_offers detected = detect();
  return detected;
}

des_variant best_available() {
  for (auto i = des_variants.size(); i-- > 0;)
    if (variant_available(des_variants[i])) return des_variants[i];
  return des_variant::portable;
}

}  // namespace

std::string_view variant_name(des_variant variant) {
  switch (variant) {
    case des_variant::openssl:
      return "openssl";
    case des_variant::portable:
      return "portable";
    case des_variant::avx2:
      return "avx2";
    case des_variant::avx512vl:
      return "avx512vl";
    case des_variant::avx512:
      return "avx512";
  }
  return "unknown";
}

bool variant_available(des_variant variant) {
  switch (variant) {
    case des_variant::openssl:
    case des_variant::portable:
      return true;
    case des_variant::avx2:
      return offers().avx2;
    case des_variant::avx512vl:
    case des_variant::avx512:
      return offers().avx512;
  }
  return false;
}

variant_choice choose_variant(const char* forced) {
  if (forced == nullptr || *forced == '\0') return {best_available(), variant_source::best_available};
  for (const des_variant variant : des_variants) {
    if (variant_name(variant) != forced) continue;
    if (!variant_available(variant)) return {best_available(), variant_source::unavailable};
    return {variant, variant_source::forced};
  }
  return {best_available(), variant_source::unknown_name};
}

const variant_choice& engine_choice() {
  static const variant_choice choice = choose_variant(std::getenv(des_engine_variable));
  return choice;
}

des_engine default_engine() { return {engine_choice().variant, true}; }
