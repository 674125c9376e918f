#ifndef TICKET_DES_ENGINE_H
#define TICKET_DES_ENGINE_H

// DES-CBC of many parts per call, with the same bytes as encrypt_part and
// decrypt_part: every part starts from fixed_iv, and a last incomplete block
// is completed with zero bytes. A bitsliced core works on up to 512 blocks at
// once: encryption runs one lane per part (CBC chains within a part), so it
// pays with many parts per call; decryption runs one lane per block, so one
// long part already fills the lanes. Small work goes to OpenSSL's DES.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "ticket/des.h"

// Ways to run the engine, slowest first after openssl (OpenSSL's DES).
enum class des_variant : std::uint8_t { openssl, portable, avx2, avx512vl, avx512 };
inline constexpr std::array<des_variant, 5> des_variants = {
    des_variant::openssl, des_variant::portable, des_variant::avx2, des_variant::avx512vl, des_variant::avx512};

// The environment variable that forces a variant by its name, for tests and
// benchmarks; unset, the best available variant is used.
inline constexpr const char* des_engine_variable = "DES_ENGINE";

// The variant's name, as DES_ENGINE takes it.
std::string_view variant_name(des_variant variant);

// True when this build has the variant and the CPU and the operating system
// can run it.
bool variant_available(des_variant variant);

enum class variant_source {
  best_available,  // nothing was asked for
  forced,          // the variant asked for
  unknown_name,    // the name asked for is no variant; the best available runs
  unavailable,     // the variant asked for cannot run here; the best available runs
};

struct variant_choice {
  des_variant variant;
  variant_source source;
};

// The variant a DES_ENGINE value asks for (nullptr when unset), falling back
// to the best available one.
variant_choice choose_variant(const char* forced);

// The process's choice, made from DES_ENGINE once, on first use.
const variant_choice& engine_choice();

// How one call runs: which variant, and whether work too small to fill the
// lanes goes to OpenSSL (turned off only to test the cores on small work).
struct des_engine {
  des_variant variant;
  bool small_work_to_openssl = true;
};

// The process's variant, small work to OpenSSL.
des_engine default_engine();

// A key for both OpenSSL's DES and the bitsliced cores: the round keys as one
// 64-bit mask (all zeros or all ones) per bit, round after round.
inline constexpr std::size_t round_mask_count = 16 * 48;
struct engine_key {
  key_schedule schedule;
  std::array<std::uint64_t, round_mask_count> round_masks;
};

// Builds both forms of an 8-byte key; returns make_key_schedule's result
// (0 accepted, -1 bad parity, -2 weak), and fills out only when it is 0.
int make_engine_key(std::span<const std::uint8_t, 8> key, engine_key& out);

// Encrypts count parts of n bytes: part i is read from plain at i *
// plain_stride and its blocks(n) bytes of ciphertext go to cipher at i *
// cipher_stride. False, with nothing written, when a part would fall outside
// either area or overlap the next one. plain and cipher must not overlap.
bool encrypt_parts(const engine_key& key, std::size_t n, std::size_t count, std::span<const std::uint8_t> plain,
                   std::size_t plain_stride, std::span<std::uint8_t> cipher, std::size_t cipher_stride,
                   const des_engine& engine = default_engine());

// Decrypts count parts: blocks(n) bytes of part i at cipher + i *
// cipher_stride give exactly n bytes at plain + i * plain_stride. False, with
// nothing written, as for encrypt_parts.
bool decrypt_parts(const engine_key& key, std::size_t n, std::size_t count, std::span<const std::uint8_t> cipher,
                   std::size_t cipher_stride, std::span<std::uint8_t> plain, std::size_t plain_stride,
                   const des_engine& engine = default_engine());

// decrypt_part of des.h through the engine: one part of n bytes.
bool decrypt_part(const engine_key& key, std::span<const std::uint8_t> cipher, std::size_t n,
                  std::span<std::uint8_t> plain, const des_engine& engine = default_engine());

#endif
