#include "tests/support/password_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "common/bytes.h"
#include "password/codec.h"

namespace testing_support {

using namespace password;

bytes bare(std::uint16_t type, std::uint32_t length) {
  bytes out(header_size);
  put_u16_net(out, type_at, type);
  put_u32_net(out, length_at, length);
  return out;
}

bytes join_req() {
  std::array<std::uint8_t, join_req_size> out{};
  encode_join_req(out);
  return {out.begin(), out.end()};
}

bytes pass_resp(const std::string& text, std::optional<std::uint32_t> length) {
  std::array<std::uint8_t, pass_resp_size> out{};
  EXPECT_TRUE(encode_pass_resp(out, text.c_str())) << text;
  if (length) put_u32_net(out, length_at, *length);
  return {out.begin(), out.end()};
}

bytes data_msg(std::uint32_t pid, const bytes& content, std::optional<std::uint32_t> length) {
  std::array<std::uint8_t, data_size> out{};
  EXPECT_TRUE(encode_data(out, pid, content));
  if (length) put_u32_net(out, length_at, *length);
  return {out.begin(), out.end()};
}

bytes terminate_msg(const bytes& content, std::optional<std::uint32_t> length) {
  std::array<std::uint8_t, terminate_size> out{};
  encode_terminate(out, digest_of(content));
  if (length) put_u32_net(out, length_at, *length);
  return {out.begin(), out.end()};
}

std::uint16_t next_type(const UdpPeer& peer, std::size_t expected_size) {
  const auto got = peer.receive(10s);
  if (!got) return 0;
  EXPECT_EQ(got->bytes.size(), expected_size);
  return got->bytes.size() >= 2 ? get_u16_net(got->bytes, type_at) : 0;
}

Stream receive_stream(const UdpPeer& peer) {
  Stream stream;
  for (std::uint32_t pid = 1;; ++pid) {
    const auto got = peer.receive(10s);
    if (!got) {
      ADD_FAILURE() << "stream stopped before TERMINATE";
      return stream;
    }
    const bytes& d = got->bytes;
    if (get_u16_net(d, type_at) == TERMINATE) {
      EXPECT_EQ(d.size(), terminate_size);
      EXPECT_EQ(get_u32_net(d, length_at), digest_len);
      stream.digest = get_array<digest_len>(d, terminate_digest_at);
      return stream;
    }
    EXPECT_EQ(get_u16_net(d, type_at), DATA);
    EXPECT_EQ(d.size(), data_size) << "pid " << pid;
    if (d.size() != data_size) return stream;
    EXPECT_EQ(get_u16_net(d, reserved_at), 0);
    EXPECT_EQ(get_u32_net(d, data_pid_at), pid);
    const std::uint32_t length = get_u32_net(d, length_at);
    EXPECT_LE(length, data_bytes_len);
    if (length > data_bytes_len) return stream;
    stream.lengths.push_back(length);
    const auto begin = d.begin() + static_cast<long>(data_bytes_at);
    stream.content.insert(stream.content.end(), begin, begin + length);
    EXPECT_TRUE(std::all_of(begin + length, d.end(), [](std::uint8_t b) { return b == 0; })) << "pid " << pid;
  }
}

bool FetchServer::joined() {
  const auto got = server.receive(10s);
  if (!got) return false;
  client_addr = got->from;
  EXPECT_EQ(got->bytes, join_req());
  return true;
}

void FetchServer::send(std::span<const std::uint8_t> datagram) const { server.send_to(client_addr, datagram); }

std::string FetchServer::next_password() const {
  const auto got = server.receive(10s);
  if (!got) return "(nothing)";
  const bytes& d = got->bytes;
  EXPECT_EQ(d.size(), pass_resp_size);
  if (d.size() != pass_resp_size) return "(wrong size)";
  const auto length = std::min<std::size_t>(get_u32_net(d, length_at), password_len);
  const std::string text(d.begin() + pass_resp_password_at, d.begin() + pass_resp_password_at + length);
  EXPECT_EQ(d, pass_resp(text));
  return text;
}

}  // namespace testing_support
