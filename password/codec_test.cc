#include "password/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "tests/support/field_offsets.h"
#include "tests/support/junk.h"

namespace password {
namespace {

using testing_support::all_zero;
using testing_support::area_of;
using testing_support::field_values;
using testing_support::fields_changed_at;
using testing_support::junk_filled;
using testing_support::leftover_bytes;
using testing_support::value;

// Bytes 1, 2, 3, ... (never 0 or 0xAA), standing for file content.
std::vector<std::uint8_t> file_bytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(1 + i % 150);
  return bytes;
}

// A datagram as the receiver holds it: bytes past its end keep what an
// earlier datagram left there.
template <std::size_t N>
receive_buffer received_from(const std::array<std::uint8_t, N>& datagram) {
  auto rx = junk_filled<receive_size>();
  std::copy(datagram.begin(), datagram.end(), rx.begin());
  return rx;
}

sha1_digest sample_digest() {
  sha1_digest digest;
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(0x10 + i);
  return digest;
}

using bare_encoder = void (*)(std::span<std::uint8_t, header_size>);

TEST(PasswordCodec, HeaderOnlyMessagesMatchGoldenBytes) {
  struct Row {
    const char* name;
    std::uint16_t type;
    bare_encoder encode;
    std::array<std::uint8_t, header_size> golden;
  };
  const Row rows[] = {
      // 0: type     2: reserved  4: length
      {"JOIN_REQ", JOIN_REQ, encode_join_req, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"PASS_REQ", PASS_REQ, encode_pass_req, {0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"PASS_ACCEPT", PASS_ACCEPT, encode_pass_accept, {0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"PASS_REJECT", PASS_REJECT, encode_pass_reject, {0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const Row& row : rows) {
    auto out = junk_filled<header_size>();
    row.encode(out);
    EXPECT_EQ(out, row.golden) << row.name;
    EXPECT_TRUE(is_bare(decode_header(received_from(row.golden)), row.type)) << row.name;
  }
}

TEST(PasswordCodec, PassRespMatchesGoldenBytes) {
  auto out = junk_filled<pass_resp_size>();
  ASSERT_TRUE(encode_pass_resp(out, "abc"));
  std::array<std::uint8_t, pass_resp_size> golden{
      0x00, 0x03, 0x00, 0x00,  // 0: type, reserved
      0x00, 0x00, 0x00, 0x03,  // 4: length
      'a',  'b',  'c',         // 8: password, then zero to the end
  };
  EXPECT_EQ(out, golden);
  const pass_resp_fields back = decode_pass_resp(received_from(golden));
  EXPECT_EQ(back.length, 3u);
  EXPECT_EQ(std::string(back.password.begin(), back.password.begin() + 4), std::string("abc\0", 4));
}

TEST(PasswordCodec, PassRespFieldLimits) {
  const std::string full(password_len, 'p');
  auto out = junk_filled<pass_resp_size>();
  ASSERT_TRUE(encode_pass_resp(out, full.c_str()));
  EXPECT_EQ(get_u32_net(out, length_at), password_len);
  EXPECT_TRUE(std::all_of(out.begin() + pass_resp_password_at, out.end(), [](std::uint8_t b) { return b == 'p'; }))
      << "a 52-character password fills the field with no zero byte";

  const std::string too_long(password_len + 1, 'p');
  out = junk_filled<pass_resp_size>();
  EXPECT_FALSE(encode_pass_resp(out, too_long.c_str()));
  EXPECT_TRUE(all_zero(out));

  // size() counts modulo 65536: a text of 65536 + 3 characters must not pass
  // as a 3-character one.
  const std::string wrapping(65536 + 3, 'p');
  EXPECT_FALSE(encode_pass_resp(out, wrapping.c_str()));

  out = junk_filled<pass_resp_size>();
  ASSERT_TRUE(encode_pass_resp(out, ""));
  const std::array<std::uint8_t, pass_resp_size> empty{0x00, 0x03};
  EXPECT_EQ(out, empty);
}

TEST(PasswordCodec, DataMatchesGoldenBytes) {
  struct Row {
    const char* name;
    std::uint32_t pid;
    std::size_t count;
    std::array<std::uint8_t, data_bytes_at> golden_header;
  };
  const Row rows[] = {
      // 0: type, reserved        4: length               8: pid
      {"first, full", 1, 1000, {0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x01}},
      {"last, 500 bytes", 3, 500, {0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x00, 0x00, 0x03}},
      {"empty", 1, 0, {0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
      {"large pid", 0x01020304, 1, {0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04}},
  };
  for (const Row& row : rows) {
    const auto bytes = file_bytes(row.count);
    std::array<std::uint8_t, data_size> golden{};
    std::copy(row.golden_header.begin(), row.golden_header.end(), golden.begin());
    std::copy(bytes.begin(), bytes.end(), golden.begin() + data_bytes_at);  // 12: data, zero after

    auto whole = junk_filled<data_size>();
    ASSERT_TRUE(encode_data(whole, row.pid, bytes)) << row.name;
    EXPECT_EQ(whole, golden) << row.name << ", encode_data";

    // The sender's path: file bytes land in the data field first.
    auto sealed = junk_filled<data_size>();
    std::copy(bytes.begin(), bytes.end(), data_area(sealed).begin());
    seal_data(sealed, row.count, row.pid);
    EXPECT_EQ(sealed, golden) << row.name << ", seal_data";

    const receive_buffer rx = received_from(golden);
    EXPECT_EQ(decode_header(rx).type, DATA) << row.name;
    EXPECT_EQ(decode_data(rx).length, row.count) << row.name;
    EXPECT_EQ(decode_data(rx).pid, row.pid) << row.name;
  }
}

TEST(PasswordCodec, DataRefusesMoreThanItsField) {
  auto out = junk_filled<data_size>();
  EXPECT_FALSE(encode_data(out, 1, file_bytes(data_bytes_len + 1)));
  EXPECT_TRUE(all_zero(out));

  out = junk_filled<data_size>();
  seal_data(out, data_bytes_len + 5, 1);
  EXPECT_EQ(get_u32_net(out, length_at), data_bytes_len);
}

TEST(PasswordCodec, TerminateMatchesGoldenBytes) {
  const sha1_digest digest = sample_digest();
  auto out = junk_filled<terminate_size>();
  encode_terminate(out, digest);
  std::array<std::uint8_t, terminate_size> golden{
      0x00, 0x06, 0x00, 0x00,  // 0: type, reserved
      0x00, 0x00, 0x00, 0x14,  // 4: length
  };
  std::copy(digest.begin(), digest.end(), golden.begin() + terminate_digest_at);  // 8: digest
  EXPECT_EQ(out, golden);
  const terminate_fields back = decode_terminate(received_from(golden));
  EXPECT_EQ(back.length, digest_len);
  EXPECT_EQ(back.digest, digest);
}

// Everything a receiver can read from one buffer, through every decoder. The
// message views overlap after the header, so one byte can belong to several
// of them.
enum Field : std::size_t { TYPE, LENGTHS, PID, PASSWORD, DIGEST, DATA_FIELD };

field_values decoded_fields(std::span<const std::uint8_t> bytes) {
  const auto rx = area_of<receive_size>(bytes);
  const header_fields header = decode_header(rx);
  const pass_resp_fields pass_resp = decode_pass_resp(rx);
  const data_fields data = decode_data(rx);
  const terminate_fields terminate = decode_terminate(rx);
  const auto data_field = data_bytes(rx, data_bytes_len);
  std::vector<std::uint8_t> lengths;
  for (const std::uint32_t length : {header.length, pass_resp.length, data.length, terminate.length}) {
    const auto bytes = value(length);
    lengths.insert(lengths.end(), bytes.begin(), bytes.end());
  }
  return {value(header.type),      lengths,
          value(data.pid),         value(pass_resp.password),
          value(terminate.digest), std::vector<std::uint8_t>(data_field->begin(), data_field->end())};
}

TEST(PasswordCodec, DecodersReadEachFieldAtItsOffsetOnly) {
  const std::vector<std::uint8_t> rx = leftover_bytes(receive_size);
  struct Row {
    std::size_t at;
    std::vector<std::size_t> changes;
  };
  const Row rows[] = {
      {type_at, {TYPE}},
      {type_at + 1, {TYPE}},
      {reserved_at, {}},
      {reserved_at + 1, {}},
      {length_at, {LENGTHS}},
      {length_at + 3, {LENGTHS}},
      {data_pid_at, {PID, PASSWORD, DIGEST}},
      {data_pid_at + 3, {PID, PASSWORD, DIGEST}},
      {data_bytes_at, {PASSWORD, DIGEST, DATA_FIELD}},
      {terminate_digest_at + digest_len - 1, {PASSWORD, DIGEST, DATA_FIELD}},
      {terminate_digest_at + digest_len, {PASSWORD, DATA_FIELD}},
      {pass_resp_password_at + password_len - 1, {PASSWORD, DATA_FIELD}},
      {pass_resp_password_at + password_len, {DATA_FIELD}},
      {data_size - 1, {DATA_FIELD}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(fields_changed_at(rx, row.at, decoded_fields), row.changes) << "byte " << row.at;
}

TEST(PasswordCodec, DataBytesStayInsideTheField) {
  receive_buffer rx{};
  EXPECT_EQ(data_bytes(rx, 0)->size(), 0u);
  const auto full = data_bytes(rx, data_bytes_len);
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(full->data(), rx.data() + data_bytes_at);
  EXPECT_EQ(full->size(), data_bytes_len);
  EXPECT_FALSE(data_bytes(rx, data_bytes_len + 1).has_value());
  EXPECT_FALSE(data_bytes(rx, 0xFFFFFFFF).has_value());
}

TEST(PasswordDecisions, HeaderOnlyAdmission) {
  struct Row {
    std::uint16_t type;
    std::uint32_t length;
    bool join_req;
    bool accept;
  };
  const Row rows[] = {
      {JOIN_REQ, 0, true, false},     {JOIN_REQ, 1, false, false},    {JOIN_REQ, 0x01000000, false, false},
      {PASS_REQ, 0, false, false},    {0x0100, 0, false, false},      {PASS_ACCEPT, 0, false, true},
      {PASS_ACCEPT, 8, false, false}, {PASS_REJECT, 0, false, false},
  };
  for (const Row& row : rows) {
    const header_fields header{row.type, row.length};
    EXPECT_EQ(is_join_req(header), row.join_req) << row.type << "/" << row.length;
    EXPECT_EQ(is_bare(header, PASS_ACCEPT), row.accept) << row.type << "/" << row.length;
  }
}

TEST(PasswordDecisions, PassRespAdmission) {
  struct Row {
    std::uint16_t type;
    std::uint32_t length;
    bool admitted;
  };
  const Row rows[] = {
      {PASS_RESP, 0, true},           {PASS_RESP, 50, true}, {PASS_RESP, 51, false}, {PASS_RESP, 52, false},
      {PASS_RESP, 0xFFFFFFFF, false}, {JOIN_REQ, 5, false},  {DATA, 5, false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(admits_pass_resp({row.type, row.length}), row.admitted) << row.type << "/" << row.length;
}

pass_resp_fields resp(const std::string& text, std::uint32_t length) {
  pass_resp_fields fields{length, {}};
  std::copy(text.begin(), text.end(), fields.password.begin());
  return fields;
}

TEST(PasswordDecisions, PasswordTest) {
  const std::string fifty(50, 'f');
  const std::string field_full(password_len, 'f');
  struct Row {
    const char* name;
    std::string own;
    pass_resp_fields offered;
    bool matches;
  };
  const Row rows[] = {
      {"exact", "secret", resp("secret", 6), true},
      {"length one more", "secret", resp("secret", 7), false},
      {"length one less", "secret", resp("secret", 5), false},
      {"case differs", "secret", resp("secreT", 6), false},
      {"first byte differs", "secret", resp("Secret", 6), false},
      {"bytes after n ignored", "secret", resp("secretXYZ", 6), true},
      {"empty own, length 0", "", resp("anything", 0), true},
      {"empty own, length 1", "", resp("a", 1), false},
      {"50 characters", fifty, resp(fifty, 50), true},
      {"52-character field, no zero", fifty, resp(field_full, 50), true},
      {"field too short for own", field_full + "x", resp(field_full, 53), false},
  };
  for (const Row& row : rows) EXPECT_EQ(password_matches(row.offered, row.own.c_str()), row.matches) << row.name;
}

TEST(PasswordDecisions, PasswordLengthLimits) {
  EXPECT_TRUE(usable_server_password(""));
  EXPECT_TRUE(usable_server_password(std::string(50, 'x').c_str()));
  EXPECT_FALSE(usable_server_password(std::string(51, 'x').c_str()));
  EXPECT_FALSE(usable_server_password(std::string(65536 + 1, 'x').c_str()));
  EXPECT_TRUE(fits_password_field(std::string(52, 'x').c_str()));
  EXPECT_FALSE(fits_password_field(std::string(53, 'x').c_str()));
  EXPECT_FALSE(fits_password_field(std::string(65536 + 1, 'x').c_str()));
}

TEST(PasswordDecisions, NextPid) {
  struct Row {
    std::uint32_t last;
    std::uint32_t pid;
    bool next;
  };
  const Row rows[] = {
      {0, 1, true},
      {0, 0, false},
      {1, 2, true},
      {2, 2, false},
      {1, 3, false},
      {5, 4, false},
      // The 32-bit count goes round from its largest value to 0.
      {0xFFFFFFFE, 0xFFFFFFFF, true},
      {0xFFFFFFFF, 0, true},
      {0xFFFFFFFF, 1, false},
  };
  for (const Row& row : rows) EXPECT_EQ(is_next_pid(row.last, row.pid), row.next) << row.last << "->" << row.pid;
}

TEST(PasswordDecisions, TerminateMatches) {
  const sha1_digest stored = sample_digest();
  sha1_digest other = stored;
  other[digest_len - 1] ^= 1;
  EXPECT_TRUE(terminate_matches({20, stored}, stored));
  EXPECT_FALSE(terminate_matches({21, stored}, stored));
  EXPECT_FALSE(terminate_matches({0, stored}, stored));
  EXPECT_FALSE(terminate_matches({20, other}, stored));
}

}  // namespace
}  // namespace password
