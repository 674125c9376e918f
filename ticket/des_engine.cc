// The engine's calls: key masks, the choice of core per batch, and the CBC
// chaining around the cores. Blocks move between the callers' areas and the
// cores' staging areas by byte copies, so host byte order never shows.

#include "ticket/des_engine.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "ticket/des_lanes.h"
#include "ticket/des_tables.h"

namespace {

constexpr std::size_t block_len = 8;
constexpr std::size_t max_lanes = 512;

// The least work per call that the bitsliced cores take over from OpenSSL,
// measured with bench_des_engine on 978-byte parts: a core's batch costs the
// same however few of its lanes are used (two transposes of 64 words, 16
// rounds over every lane), so below these OpenSSL's block-at-a-time DES wins.
// Encryption counts parts (one lane each), decryption blocks.
struct break_even {
  std::size_t encrypt_parts;
  std::size_t decrypt_blocks;
};

break_even break_even_of(des_variant variant) {
  constexpr std::size_t never = std::numeric_limits<std::size_t>::max();
  switch (variant) {
    case des_variant::openssl:
      return {never, never};
    case des_variant::portable:
      return {24, 24};
    case des_variant::avx2:
    case des_variant::avx512vl:
      return {16, 16};
    case des_variant::avx512:
      return {12, 16};
  }
  return {never, never};
}

// The cores of a variant, narrowest first.
std::span<const des_lanes::core* const> cores_of(des_variant variant) {
  static const des_lanes::core* const portable[] = {&des_lanes::portable_64};
#if defined(TICKET_DES_X86_LANES)
  static const des_lanes::core* const avx2[] = {&des_lanes::avx2_128, &des_lanes::avx2_256};
  static const des_lanes::core* const avx512vl[] = {&des_lanes::ternary_128, &des_lanes::ternary_256};
  static const des_lanes::core* const avx512[] = {&des_lanes::ternary_128, &des_lanes::ternary_256,
                                                  &des_lanes::ternary_512};
  if (variant == des_variant::avx2) return avx2;
  if (variant == des_variant::avx512vl) return avx512vl;
  if (variant == des_variant::avx512) return avx512;
#endif
  (void)variant;
  return portable;
}

// The narrowest core that takes all the work left, or else the widest.
const des_lanes::core& core_for(std::span<const des_lanes::core* const> cores, std::size_t work) {
  for (const des_lanes::core* core : cores)
    if (core->lanes >= work) return *core;
  return *cores.back();
}

// True when count parts of width bytes, stride apart, lie inside an area of
// size bytes without overlapping; written so that no product can overflow.
bool parts_fit(std::size_t count, std::size_t width, std::size_t stride, std::size_t size) {
  if (count == 0) return true;
  if (width > size) return false;
  if (count == 1) return true;
  if (stride < width) return false;
  if (stride == 0) return true;  // empty parts, all at the start
  return (size - width) / stride >= count - 1;
}

void xor_block(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out) {
  std::uint64_t x = 0, y = 0;
  std::memcpy(&x, a, block_len);
  std::memcpy(&y, b, block_len);
  x ^= y;
  std::memcpy(out, &x, block_len);
}

// Writes the plaintext of one part's blocks [from, to) from their
// decryptions: each is xored with the ciphertext block before it (the IV
// before the first), and nothing is written past the part's n bytes.
void finish_blocks(const std::uint8_t* decrypted, const std::uint8_t* part_cipher, std::uint8_t* part_plain,
                   std::size_t n, std::size_t from, std::size_t to) {
  const auto decryption_of = [&](std::size_t b) { return decrypted + (b - from) * block_len; };
  std::size_t next = from;
  const auto write_one = [&](std::size_t b) {
    std::uint8_t block[block_len];
    xor_block(decryption_of(b), b == 0 ? fixed_iv.data() : part_cipher + (b - 1) * block_len, block);
    std::memcpy(part_plain + b * block_len, block, std::min(block_len, n - b * block_len));
  };
  if (next == 0 && next < to) write_one(next++);
  // Whole blocks after the first, in one pass the compiler can widen.
  const std::size_t whole_to = std::min(to, n / block_len);
  if (whole_to > next) {
    const std::size_t bytes = (whole_to - next) * block_len;
    const std::uint8_t* d = decryption_of(next);
    const std::uint8_t* c = part_cipher + (next - 1) * block_len;
    std::uint8_t* p = part_plain + next * block_len;
    for (std::size_t i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(d[i] ^ c[i]);
    next = whole_to;
  }
  if (next < to) write_one(next);  // the part's last block, cut short
}

bool uses_cores(const des_engine& engine, std::size_t work, std::size_t break_even) {
  if (engine.variant == des_variant::openssl || !variant_available(engine.variant)) return false;
  return !engine.small_work_to_openssl || work >= break_even;
}

}  // namespace

int make_engine_key(std::span<const std::uint8_t, 8> key, engine_key& out) {
  const int result = make_key_schedule(key, out.schedule);
  if (result != 0) return result;
  const auto key_bit = [&](int bit) { return (key[static_cast<std::size_t>(bit - 1) / 8] >> (7 - (bit - 1) % 8)) & 1; };
  std::array<std::uint8_t, 28> c{}, d{};
  for (std::size_t i = 0; i < 28; ++i) {
    c[i] = static_cast<std::uint8_t>(key_bit(des_tables::key_choice_1[i]));
    d[i] = static_cast<std::uint8_t>(key_bit(des_tables::key_choice_1[28 + i]));
  }
  for (std::size_t round = 0; round < 16; ++round) {
    const std::size_t rotation = des_tables::key_rotations[round];
    std::rotate(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(rotation), c.end());
    std::rotate(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(rotation), d.end());
    for (std::size_t j = 0; j < 48; ++j) {
      const std::size_t from = des_tables::key_choice_2[j];
      const std::uint8_t bit = from <= 28 ? c[from - 1] : d[from - 29];
      out.round_masks[round * 48 + j] = bit != 0 ? ~std::uint64_t{0} : 0;
    }
  }
  return 0;
}

bool encrypt_parts(const engine_key& key, std::size_t n, std::size_t count, std::span<const std::uint8_t> plain,
                   std::size_t plain_stride, std::span<std::uint8_t> cipher, std::size_t cipher_stride,
                   const des_engine& engine) {
  if (!parts_fit(count, n, plain_stride, plain.size()) || !parts_fit(count, blocks(n), cipher_stride, cipher.size()))
    return false;
  if (count == 0 || n == 0) return true;

  const auto cores = cores_of(engine.variant);
  alignas(64) std::uint8_t in[max_lanes * block_len];
  alignas(64) std::uint8_t out[max_lanes * block_len];
  // Each lane carries one part's chain, so a batch is as many parts as there
  // are lanes and runs through all their blocks. Parts too few to pay for a
  // batch, whether all of them or those left after full batches, go to
  // OpenSSL one by one.
  for (std::size_t first = 0; first < count;) {
    if (!uses_cores(engine, count - first, break_even_of(engine.variant).encrypt_parts)) {
      for (std::size_t i = first; i < count; ++i)
        encrypt_part(key.schedule, plain.subspan(i * plain_stride, n), cipher.subspan(i * cipher_stride));
      break;
    }
    const des_lanes::core& core = core_for(cores, count - first);
    const std::size_t used = std::min(count - first, core.lanes);
    std::memset(in, 0, core.lanes * block_len);
    for (std::size_t lane = 0; lane < used; ++lane) std::memcpy(out + lane * block_len, fixed_iv.data(), block_len);
    for (std::size_t at = 0; at < n; at += block_len) {
      const std::size_t len = std::min(block_len, n - at);
      for (std::size_t lane = 0; lane < used; ++lane) {
        const std::uint8_t* from = plain.data() + (first + lane) * plain_stride + at;
        std::uint8_t block[block_len] = {};
        if (len == block_len) {
          std::memcpy(block, from, block_len);
        } else {
          std::memcpy(block, from, len);
        }
        // The previous ciphertext block (or the IV) is still in out.
        xor_block(block, out + lane * block_len, in + lane * block_len);
      }
      core.crypt(key.round_masks.data(), false, in, out);
      for (std::size_t lane = 0; lane < used; ++lane)
        std::memcpy(cipher.data() + (first + lane) * cipher_stride + at, out + lane * block_len, block_len);
    }
    first += used;
  }
  return true;
}

bool decrypt_parts(const engine_key& key, std::size_t n, std::size_t count, std::span<const std::uint8_t> cipher,
                   std::size_t cipher_stride, std::span<std::uint8_t> plain, std::size_t plain_stride,
                   const des_engine& engine) {
  if (!parts_fit(count, blocks(n), cipher_stride, cipher.size()) || !parts_fit(count, n, plain_stride, plain.size()))
    return false;
  if (count == 0 || n == 0) return true;
  const std::size_t part_blocks = blocks(n) / block_len;
  const std::size_t total = count * part_blocks;  // fits: every block lies in cipher
  if (!uses_cores(engine, total, break_even_of(engine.variant).decrypt_blocks)) {
    for (std::size_t i = 0; i < count; ++i)
      decrypt_part(key.schedule, cipher.subspan(i * cipher_stride), n, plain.subspan(i * plain_stride));
    return true;
  }

  const auto cores = cores_of(engine.variant);
  alignas(64) std::uint8_t in[max_lanes * block_len];
  alignas(64) std::uint8_t out[max_lanes * block_len];
  // Every block is a lane of its own: a block's plaintext needs only its own
  // ciphertext and the one before it, which are both at hand. Blocks move in
  // runs of one part's consecutive blocks, as a single record is one run.
  std::size_t part = 0, index = 0;  // the batch's first block
  for (std::size_t first = 0; first < total;) {
    const des_lanes::core& core = core_for(cores, total - first);
    const std::size_t used = std::min(total - first, core.lanes);
    std::size_t load_part = part, load_index = index;
    for (std::size_t lane = 0; lane < used;) {
      const std::size_t run = std::min(used - lane, part_blocks - load_index);
      std::memcpy(in + lane * block_len, cipher.data() + load_part * cipher_stride + load_index * block_len,
                  run * block_len);
      lane += run;
      load_index += run;
      if (load_index == part_blocks) load_index = 0, ++load_part;
    }
    std::memset(in + used * block_len, 0, (core.lanes - used) * block_len);
    core.crypt(key.round_masks.data(), true, in, out);
    for (std::size_t lane = 0; lane < used;) {
      const std::size_t run = std::min(used - lane, part_blocks - index);
      finish_blocks(out + lane * block_len, cipher.data() + part * cipher_stride, plain.data() + part * plain_stride, n,
                    index, index + run);
      lane += run;
      index += run;
      if (index == part_blocks) index = 0, ++part;
    }
    first += used;
  }
  return true;
}

bool decrypt_part(const engine_key& key, std::span<const std::uint8_t> cipher, std::size_t n,
                  std::span<std::uint8_t> plain, const des_engine& engine) {
  return decrypt_parts(key, n, 1, cipher, 0, plain, 0, engine);
}
