// Derives the bitsliced S-box circuits from the eight DES S-box tables and
// writes them as a C++ header (ticket/des_sbox_circuits.h).
//
//   des_sbox_generator             writes the header to standard output
//   des_sbox_generator --check F   exit status 1 when F differs from it
//
// Each circuit is built by splitting an output's truth table on one input at
// a time (f = v ? f1 : f0), sharing every intermediate function among the four
// outputs of a box, and trying every order of the six inputs. Two forms are
// made: one of two-input operations (and, or, xor, and-not, not), which every
// word type has, and one of arbitrary three-input operations, for words with a
// three-input logic instruction. Every circuit is then run on all 64 inputs,
// independently of how it was built, and compared with its table.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using table = std::array<std::array<std::uint8_t, 16>, 4>;

// The eight boxes: row from the outer input bits, column from the inner four.
constexpr std::array<table, 8> sboxes = {{
    {{{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
      {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
      {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
      {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}}},
    {{{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
      {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
      {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
      {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}}},
    {{{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
      {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
      {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
      {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}}},
    {{{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
      {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
      {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
      {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}}},
    {{{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
      {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
      {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
      {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}}},
    {{{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
      {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
      {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
      {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}}},
    {{{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
      {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
      {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
      {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}}},
    {{{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
      {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
      {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
      {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}},
}};

// Input x is the box's 6-bit input, first bit (a0) most significant.
int lookup(const table& box, unsigned x) {
  const unsigned row = ((x >> 4) & 2U) | (x & 1U);
  const unsigned column = (x >> 1) & 15U;
  return box[row][column];
}

// A function of the six inputs as its 64-entry truth table: bit x is the
// value at input x.
using truth = std::uint64_t;
constexpr truth all_ones = ~truth{0};

constexpr truth input_truth(int v) {
  truth t = 0;
  for (unsigned x = 0; x < 64; ++x)
    if ((x >> (5 - v)) & 1U) t |= truth{1} << x;
  return t;
}

// The function with input v fixed at 0 (or 1), as a function of all six.
truth cofactor(truth f, int v, bool one) {
  const truth mask = input_truth(v);
  const unsigned shift = 1U << (5 - v);
  if (one) {
    const truth part = f & mask;
    return part | (part >> shift);
  }
  const truth part = f & ~mask;
  return part | (part << shift);
}

bool depends_on(truth f, int v) { return cofactor(f, v, false) != cofactor(f, v, true); }

enum class op : std::uint8_t { input, not_, and_, or_, xor_, andnot, ternary };

// One operation of a circuit: inputs are nodes 0..5, operands earlier nodes.
struct node {
  op kind;
  int a = -1, b = -1, c = -1;
  std::uint8_t imm = 0;  // ternary: bit (a<<2 | b<<1 | c) of imm is the result
  truth value = 0;
};

struct circuit {
  std::vector<node> nodes;
  std::array<int, 4> outputs{};
  std::array<bool, 4> inverted{};  // output is the complement of its node
  int operations() const { return static_cast<int>(nodes.size()) - 6; }
};

// Builds one box's circuit for one order of the inputs.
class builder {
 public:
  builder(bool ternary, std::array<int, 6> order) : ternary_(ternary), order_(order) {
    for (int v = 0; v < 6; ++v) nodes_.push_back({op::input, -1, -1, -1, 0, input_truth(v)});
  }

  circuit build(const table& box) {
    circuit out;
    for (int bit = 0; bit < 4; ++bit) {
      truth f = 0;
      for (unsigned x = 0; x < 64; ++x)
        if ((lookup(box, x) >> (3 - bit)) & 1) f |= truth{1} << x;
      // In the ternary form make() may hand back the complement, which the
      // xor into the output absorbs as it absorbs it in any operand.
      const int made = make(f);
      out.outputs[static_cast<std::size_t>(bit)] = made;
      out.inverted[static_cast<std::size_t>(bit)] = nodes_[static_cast<std::size_t>(made)].value != f;
    }
    out.nodes = nodes_;
    return out;
  }

 private:
  std::optional<int> find(truth f) const {
    for (std::size_t i = 0; i < nodes_.size(); ++i)
      if (nodes_[i].value == f) return static_cast<int>(i);
    return std::nullopt;
  }

  int add(op kind, int a, int b, truth value, int c = -1, std::uint8_t imm = 0) {
    if (const auto found = find(value)) return *found;
    nodes_.push_back({kind, a, b, c, imm, value});
    return static_cast<int>(nodes_.size()) - 1;
  }

  // The three-input operation giving f from the values of a, b and c, if f is
  // a function of them.
  std::optional<int> make_ternary(truth f, int a, int b, int c) {
    std::uint8_t imm = 0;
    for (unsigned index = 0; index < 8; ++index) {
      truth where = all_ones;
      where &= (index & 4U) ? nodes_[static_cast<std::size_t>(a)].value : ~nodes_[static_cast<std::size_t>(a)].value;
      where &= (index & 2U) ? nodes_[static_cast<std::size_t>(b)].value : ~nodes_[static_cast<std::size_t>(b)].value;
      where &= (index & 1U) ? nodes_[static_cast<std::size_t>(c)].value : ~nodes_[static_cast<std::size_t>(c)].value;
      if (where == 0) continue;
      if ((f & where) == where) {
        imm = static_cast<std::uint8_t>(imm | (1U << index));
      } else if ((f & where) != 0) {
        return std::nullopt;
      }
    }
    return add(op::ternary, a, b, f, c, imm);
  }

  // The first input, in this builder's order, that f depends on.
  int split_input(truth f) const {
    for (const int v : order_)
      if (depends_on(f, v)) return v;
    return -1;
  }

  int make(truth f) {
    if (const auto found = find(f)) return *found;
    if (ternary_) return make_with_ternary(f);
    if (const auto inverse = find(~f)) return add(op::not_, *inverse, -1, f);
    return make_with_gates(f);
  }

  int make_with_ternary(truth f) {
    if (const auto inverse = find(~f)) return *inverse;
    std::vector<int> support;
    for (const int v : order_)
      if (depends_on(f, v)) support.push_back(v);
    if (support.size() <= 3) {
      while (support.size() < 3) support.push_back(support.back());
      return *make_ternary(f, support[0], support[1], support[2]);
    }
    const int v = support.front();
    const truth f0 = cofactor(f, v, false), f1 = cofactor(f, v, true);
    const bool const0 = f0 == 0 || f0 == all_ones, const1 = f1 == 0 || f1 == all_ones;
    const int n0 = const0 ? -1 : make(f0);
    const int n1 = const1 ? -1 : make(f1);
    return *make_ternary(f, v, n0 < 0 ? n1 : n0, n1 < 0 ? n0 : n1);
  }

  // Cost in new nodes of making f now; nothing made stays.
  int trial_cost(truth f) {
    const std::size_t before = nodes_.size();
    make(f);
    const int cost = static_cast<int>(nodes_.size() - before);
    nodes_.resize(before);
    return cost;
  }

  int make_with_gates(truth f) {
    const int v = split_input(f);
    const truth f0 = cofactor(f, v, false), f1 = cofactor(f, v, true);
    if (f0 == 0) return add(op::and_, v, make(f1), f);
    if (f1 == 0) return add(op::andnot, make(f0), v, f);
    if (f1 == all_ones) return add(op::or_, v, make(f0), f);
    if (f0 == all_ones) {
      const int n = add(op::andnot, v, make(f1), ~f);
      return add(op::not_, n, -1, f);
    }
    if (f0 == ~f1) return add(op::xor_, v, make(f0), f);
    // One side contained in the other needs one operation fewer than a mux.
    if ((f0 & ~f1) == 0) {
      const int n0 = make(f0);
      return add(op::or_, n0, add(op::and_, v, make(f1), f1 & input_truth(v)), f);
    }
    if ((f1 & ~f0) == 0) {
      const int n1 = make(f1);
      return add(op::or_, n1, add(op::andnot, make(f0), v, f0 & ~input_truth(v)), f);
    }
    // f = f0 ^ (v & (f0 ^ f1)), or f1 ^ (~v & (f0 ^ f1)): whichever side
    // shares more with what is already built.
    const truth g = f0 ^ f1;
    const std::size_t before = nodes_.size();
    make(g);
    const int with_f0 = trial_cost(f0), with_f1 = trial_cost(f1);
    nodes_.resize(before);
    const bool from_f1 = with_f1 < with_f0;
    if (from_f1) {
      const int n1 = make(f1);
      const int ng = make(g);
      return add(op::xor_, n1, add(op::andnot, ng, v, g & ~input_truth(v)), f);
    }
    const int n0 = make(f0);
    const int ng = make(g);
    return add(op::xor_, n0, add(op::and_, v, ng, g & input_truth(v)), f);
  }

  bool ternary_;
  std::array<int, 6> order_;
  std::vector<node> nodes_;
};

// Drops operations that no output uses and renumbers the rest in order.
circuit prune(const circuit& full) {
  std::vector<bool> used(full.nodes.size(), false);
  for (const int o : full.outputs) used[static_cast<std::size_t>(o)] = true;
  for (std::size_t i = full.nodes.size(); i-- > 6;) {
    if (!used[i]) continue;
    for (const int operand : {full.nodes[i].a, full.nodes[i].b, full.nodes[i].c})
      if (operand >= 0) used[static_cast<std::size_t>(operand)] = true;
  }
  std::vector<int> renumbered(full.nodes.size(), -1);
  circuit out;
  for (std::size_t i = 0; i < full.nodes.size(); ++i) {
    if (i >= 6 && !used[i]) continue;
    renumbered[i] = static_cast<int>(out.nodes.size());
    node n = full.nodes[i];
    for (int* operand : {&n.a, &n.b, &n.c})
      if (*operand >= 0) *operand = renumbered[static_cast<std::size_t>(*operand)];
    out.nodes.push_back(n);
  }
  for (std::size_t o = 0; o < 4; ++o) out.outputs[o] = renumbered[static_cast<std::size_t>(full.outputs[o])];
  out.inverted = full.inverted;
  return out;
}

circuit best_circuit(const table& box, bool ternary) {
  std::array<int, 6> order{};
  std::iota(order.begin(), order.end(), 0);
  std::optional<circuit> best;
  do {
    const circuit c = prune(builder(ternary, order).build(box));
    if (!best || c.operations() < best->operations()) best = c;
  } while (std::next_permutation(order.begin(), order.end()));
  return *best;
}

// The three-input instruction overwrites its first operand, so the compiler
// copies that operand first whenever it is still needed later. Puts an
// operand that dies at the operation first, if there is one, and rewrites
// imm to match.
void put_dying_operand_first(circuit& c) {
  const int count = static_cast<int>(c.nodes.size());
  std::vector<int> last_use(c.nodes.size(), -1);
  for (int i = 6; i < count; ++i)
    for (const int operand : {c.nodes[static_cast<std::size_t>(i)].a, c.nodes[static_cast<std::size_t>(i)].b,
                              c.nodes[static_cast<std::size_t>(i)].c})
      if (operand >= 0) last_use[static_cast<std::size_t>(operand)] = i;
  for (const int o : c.outputs) last_use[static_cast<std::size_t>(o)] = count;  // live to the end
  for (int i = 6; i < count; ++i) {
    node& n = c.nodes[static_cast<std::size_t>(i)];
    if (n.kind != op::ternary) continue;
    const auto dies = [&](int operand) { return last_use[static_cast<std::size_t>(operand)] == i; };
    if (dies(n.a)) continue;
    // Swapping operand a with operand b (bit 1 of the index) or c (bit 0).
    const unsigned other_bit = dies(n.b) ? 1U : dies(n.c) ? 0U : 3U;
    if (other_bit == 3U) continue;
    std::uint8_t imm = 0;
    for (unsigned index = 0; index < 8; ++index) {
      const unsigned a_bit = (index >> 2) & 1U, o_bit = (index >> other_bit) & 1U;
      unsigned old = index & ~(4U | (1U << other_bit));
      old |= o_bit << 2 | a_bit << other_bit;
      if ((n.imm >> old) & 1U) imm = static_cast<std::uint8_t>(imm | (1U << index));
    }
    std::swap(n.a, other_bit == 1U ? n.b : n.c);
    n.imm = imm;
  }
}

// Runs the circuit on one input, one bit per node, by each operation's own
// definition rather than the truth tables it was built from.
int evaluate(const circuit& c, unsigned x) {
  std::vector<unsigned> bit(c.nodes.size());
  for (std::size_t i = 0; i < c.nodes.size(); ++i) {
    const node& n = c.nodes[i];
    const auto at = [&](int j) { return bit[static_cast<std::size_t>(j)]; };
    switch (n.kind) {
      case op::input:
        bit[i] = (x >> (5 - i)) & 1U;
        break;
      case op::not_:
        bit[i] = at(n.a) ^ 1U;
        break;
      case op::and_:
        bit[i] = at(n.a) & at(n.b);
        break;
      case op::or_:
        bit[i] = at(n.a) | at(n.b);
        break;
      case op::xor_:
        bit[i] = at(n.a) ^ at(n.b);
        break;
      case op::andnot:
        bit[i] = at(n.a) & (at(n.b) ^ 1U);
        break;
      case op::ternary:
        bit[i] = (n.imm >> (at(n.a) << 2 | at(n.b) << 1 | at(n.c))) & 1U;
        break;
    }
  }
  int result = 0;
  for (std::size_t o = 0; o < 4; ++o)
    result = result << 1 | static_cast<int>(bit[static_cast<std::size_t>(c.outputs[o])] ^ (c.inverted[o] ? 1U : 0U));
  return result;
}

bool matches(const circuit& c, const table& box) {
  for (unsigned x = 0; x < 64; ++x)
    if (evaluate(c, x) != lookup(box, x)) return false;
  return true;
}

std::string name_of(int i) { return i < 6 ? "a" + std::to_string(i) : "t" + std::to_string(i - 6); }

std::string hex_byte(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", v);
  return text;
}

void emit(std::ostringstream& out, const circuit& c, int box, bool ternary) {
  out << "// S-box " << box + 1 << ", " << c.operations() << (ternary ? " three-input" : " two-input")
      << " operations.\n";
  out << "template <class W>\ninline void sbox" << box + 1 << (ternary ? "_ternary" : "_gates")
      << "(W a0, W a1, W a2, W a3, W a4, W a5, W& o0, W& o1, W& o2, W& o3) {\n";
  for (std::size_t i = 6; i < c.nodes.size(); ++i) {
    const node& n = c.nodes[i];
    out << "  const W " << name_of(static_cast<int>(i)) << " = ";
    const std::string a = name_of(n.a), b = n.b >= 0 ? name_of(n.b) : "", cc = n.c >= 0 ? name_of(n.c) : "";
    switch (n.kind) {
      case op::input:
        break;
      case op::not_:
        out << "~" << a;
        break;
      case op::and_:
        out << a << " & " << b;
        break;
      case op::or_:
        out << a << " | " << b;
        break;
      case op::xor_:
        out << a << " ^ " << b;
        break;
      case op::andnot:
        out << "W::andnot(" << a << ", " << b << ")";
        break;
      case op::ternary:
        out << "W::template ternary<" << hex_byte(n.imm) << ">(" << a << ", " << b << ", " << cc << ")";
        break;
    }
    out << ";\n";
  }
  for (std::size_t o = 0; o < 4; ++o) {
    const std::string value = name_of(c.outputs[o]);
    if (!c.inverted[o]) {
      out << "  o" << o << " = o" << o << " ^ " << value << ";\n";
    } else {
      // Exclusive nor of the output and the node.
      out << "  o" << o << " = W::template ternary<0xc3>(o" << o << ", " << value << ", " << value << ");\n";
    }
  }
  out << "}\n\n";
}

std::optional<std::string> generate() {
  std::ostringstream out;
  out << "// Generated by ticket/sbox_generator.cc from the DES S-box tables; do not edit.\n"
         "// Regenerate with: cmake --build build/default --target regenerate_sbox_circuits\n"
         "//\n"
         "// sboxN_gates and sboxN_ternary compute box N of a bitsliced round: a0..a5 are\n"
         "// the box's six input bits (a0 first), and its four output bits (o0 first) are\n"
         "// xored into o0..o3. W supplies &, |, ^, ~, W::andnot(a, b) = a & ~b, and, for\n"
         "// the ternary form only, W::ternary<imm>(a, b, c), whose result bit is bit\n"
         "// (a << 2 | b << 1 | c) of imm.\n\n"
         "#ifndef TICKET_DES_SBOX_CIRCUITS_H\n#define TICKET_DES_SBOX_CIRCUITS_H\n\nnamespace des_bitslice {\n\n";
  int totals[2] = {0, 0};
  for (const bool ternary : {false, true}) {
    for (int box = 0; box < 8; ++box) {
      circuit c = best_circuit(sboxes[static_cast<std::size_t>(box)], ternary);
      if (ternary) put_dying_operand_first(c);
      if (!matches(c, sboxes[static_cast<std::size_t>(box)])) {
        std::fprintf(stderr, "S-box %d: the %s circuit does not match its table\n", box + 1,
                     ternary ? "ternary" : "two-input");
        return std::nullopt;
      }
      totals[ternary ? 1 : 0] += c.operations();
      emit(out, c, box, ternary);
    }
  }
  out << "// Per round: " << totals[0] << " two-input or " << totals[1] << " three-input operations.\n\n";
  out << "}  // namespace des_bitslice\n\n#endif\n";
  return out.str();
}

}  // namespace

int main(int argc, char* argv[]) {
  for (const table& box : sboxes) {
    for (const auto& row : box) {
      // Every row of a DES box is a permutation of 0..15; a typing slip in
      // the tables above breaks that.
      unsigned seen = 0;
      for (const auto value : row) seen |= 1U << value;
      if (seen != 0xFFFFU) {
        std::fprintf(stderr, "an S-box row is not a permutation of 0..15\n");
        return 1;
      }
    }
  }
  const auto text = generate();
  if (!text) return 1;
  if (argc == 3 && std::string(argv[1]) == "--check") {
    std::ifstream file(argv[2], std::ios::binary);
    const std::string present((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (present != *text) {
      std::fprintf(stderr, "%s differs from the generator's output; regenerate it\n", argv[2]);
      return 1;
    }
    return 0;
  }
  if (argc != 1) {
    std::fprintf(stderr, "usage: des_sbox_generator [--check FILE]\n");
    return 2;
  }
  std::fwrite(text->data(), 1, text->size(), stdout);
  return 0;
}
