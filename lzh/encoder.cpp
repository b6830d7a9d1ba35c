// The match finder and the encode loop.
// Invariants: every leaf in the trie is a window position among the last 8,192 coded;
// the children of node q that continue with byte c hang in the chain headed at
// sibling_next[q + 16c + 16384] and are told apart by node_parent; an inner node has at
// least two children and node_depth at most 255; node_position holds, in leaf-number
// form, a position of a string below the node, recent except for nodes above a node that
// carries PROPAGATE_FLAG.  A position value p names window position p when
// p < current_position and p - 8192 otherwise.  Nothing is allocated per position.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/fatal.hpp"
#include "lzh/block_coder_internal.hpp"
#include "lzh/encoder_internal.hpp"

MatchFinderState match_finder;

namespace {

template <typename T>
T* allocate(std::size_t count) {
  void* p = std::calloc(count, sizeof(T));
  if (p == nullptr) fatal("Out of memory.");
  return static_cast<T*>(p);
}

// The chain head entry of (q, c) in sibling_next.
inline int chain_head(int q, int c) { return q + 16 * c + CHAIN_HEADS; }

}  // namespace

void reset_match_finder() {
  MatchFinderState kept = match_finder;
  match_finder = MatchFinderState{};
  match_finder.text_window = kept.text_window;
  match_finder.node_depth = kept.node_depth;
  match_finder.child_count = kept.child_count;
  match_finder.node_position = kept.node_position;
  match_finder.node_parent = kept.node_parent;
  match_finder.sibling_prev = kept.sibling_prev;
  match_finder.sibling_next = kept.sibling_next;
  if (kept.text_window != nullptr) std::memset(kept.text_window, 0, WINDOW_BYTES);
}

void alloc_dictionary() {
  MatchFinderState& mf = match_finder;
  if (mf.sibling_next != nullptr) return;
  mf.text_window = allocate<std::uint8_t>(WINDOW_BYTES);
  mf.node_depth = allocate<std::uint8_t>(NODE_TABLE);
  mf.child_count = allocate<std::uint8_t>(NODE_TABLE);
  mf.node_position = allocate<std::uint16_t>(NODE_TABLE);
  mf.node_parent = allocate<std::int16_t>(LEAF_TABLE);
  mf.sibling_prev = allocate<std::int16_t>(LEAF_TABLE);
  mf.sibling_next = allocate<std::int16_t>(SIBLING_NEXT_ENTRIES);
}

void init_dictionary() {
  MatchFinderState& mf = match_finder;
  for (int c = 0; c < 256; ++c) {
    mf.node_depth[ROOT_BASE + c] = 1;
    mf.node_position[ROOT_BASE + c] = 0;
  }
  for (int i = DICT_SIZE; i < LEAF_TABLE; ++i) mf.node_parent[i] = 0;
  mf.free_node = 1;
  for (int i = 1; i < static_cast<int>(DICT_SIZE) - 1; ++i) mf.sibling_next[i] = static_cast<std::int16_t>(i + 1);
  mf.sibling_next[DICT_SIZE - 1] = 0;
  for (int i = CHAIN_HEADS; i < SIBLING_NEXT_ENTRIES; ++i) mf.sibling_next[i] = 0;
}

namespace {

// Local copies of the array pointers, so that the hot loop keeps them in registers
// (byte stores into the arrays could otherwise alias the record that holds them).
struct Arrays {
  std::uint8_t* text;
  std::uint8_t* depth;
  std::uint8_t* children;
  std::uint16_t* position;
  std::int16_t* parent;
  std::int16_t* prev;
  std::int16_t* next;
};

inline Arrays arrays() {
  const MatchFinderState& mf = match_finder;
  return {mf.text_window, mf.node_depth, mf.child_count, mf.node_position,
          mf.node_parent, mf.sibling_prev, mf.sibling_next};
}

[[gnu::always_inline]] inline int find_child_in(const Arrays& a, int q, int c) {
  int r = a.next[chain_head(q, c)];
  a.parent[0] = static_cast<std::int16_t>(q);
  while (a.parent[r] != q) r = a.next[r];
  return r;
}

[[gnu::always_inline]] inline void add_child_in(const Arrays& a, int q, int c, int r) {
  const int h = chain_head(q, c);
  const int t = a.next[h];
  a.next[h] = static_cast<std::int16_t>(r);
  a.next[r] = static_cast<std::int16_t>(t);
  a.prev[t] = static_cast<std::int16_t>(r);
  a.prev[r] = static_cast<std::int16_t>(h);
  a.parent[r] = static_cast<std::int16_t>(q);
  ++a.children[q];
}

// split_node with match_length `length` and match_position `pos`.
[[gnu::always_inline]] inline void split_in(const Arrays& a, int old, int cur, int length, int pos) {
  MatchFinderState& mf = match_finder;
  const int fresh = mf.free_node;
  mf.free_node = a.next[fresh];
  a.children[fresh] = 0;
  int t = a.prev[old];
  a.prev[fresh] = static_cast<std::int16_t>(t);
  a.next[t] = static_cast<std::int16_t>(fresh);
  t = a.next[old];
  a.next[fresh] = static_cast<std::int16_t>(t);
  a.prev[t] = static_cast<std::int16_t>(fresh);
  a.parent[fresh] = a.parent[old];
  a.depth[fresh] = static_cast<std::uint8_t>(length);
  a.position[fresh] = static_cast<std::uint16_t>(cur);
  add_child_in(a, fresh, a.text[pos + length], old);
  add_child_in(a, fresh, a.text[cur + length], cur);
}

// insert_position with current_position `cur`; `length` and `pos` are match_length and
// match_position, read on entry and left with the match found.
[[gnu::always_inline]] inline void insert_in(const Arrays& a, const int cur, int& length,
                                             int& pos) {
  const std::uint8_t* text = a.text;
  const std::uint8_t* depth = a.depth;
  std::uint16_t* position = a.position;
  std::int16_t* parent = a.parent;
  std::int16_t* next = a.next;
  int q;
  int r;

  if (length >= 4) {
    // Case A: the string here shares at least length - 1 bytes with the one at
    // match_position + 1; start from that string's leaf.
    --length;
    r = (pos + 1) | ROOT_BASE;
    while (parent[r] == 0) r = next[r];
    q = parent[r];
    while (depth[q] >= length) {
      r = q;
      q = parent[q];
    }
    int t = q;
    while (position[t] & PROPAGATE_FLAG) {
      position[t] = static_cast<std::uint16_t>(cur);
      t = parent[t];
    }
    if (t < ROOT_BASE) position[t] = static_cast<std::uint16_t>(cur | PROPAGATE_FLAG);
  } else {
    // Case B: from the root of the first byte.
    q = ROOT_BASE + text[cur];
    const int c = text[cur + 1];
    r = find_child_in(a, q, c);
    if (r == 0) {
      add_child_in(a, q, c, cur);
      length = 1;
      return;
    }
    length = 2;
  }

  // Scan: r is a child of q and the first `length` bytes agree.
  const std::uint8_t* here = text + cur;
  for (;;) {
    int limit;
    if (r >= ROOT_BASE) {
      limit = MAX_MATCH;
      pos = r;
    } else {
      limit = depth[r];
      pos = position[r] & ~PROPAGATE_FLAG;
    }
    if (pos >= cur) pos -= DICT_SIZE;
    const std::uint8_t* there = text + pos;
    while (length < limit) {
      if (here[length] != there[length]) {
        split_in(a, r, cur, length, pos);
        return;
      }
      ++length;
    }
    if (length >= static_cast<int>(MAX_MATCH)) break;
    position[r] = static_cast<std::uint16_t>(cur);
    q = r;
    const int c = here[length];
    r = find_child_in(a, q, c);
    if (r == 0) {
      add_child_in(a, q, c, cur);
      return;
    }
    ++length;
  }

  // A full 256-byte match: the new leaf takes the old leaf r's place.
  std::int16_t* prev = a.prev;
  int t = prev[r];
  prev[cur] = static_cast<std::int16_t>(t);
  next[t] = static_cast<std::int16_t>(cur);
  t = next[r];
  next[cur] = static_cast<std::int16_t>(t);
  prev[t] = static_cast<std::int16_t>(cur);
  parent[cur] = static_cast<std::int16_t>(q);
  parent[r] = 0;
  next[r] = static_cast<std::int16_t>(cur);
}

// delete_position with current_position `cur`.
[[gnu::always_inline]] inline void delete_in(const Arrays& a, const int cur) {
  std::int16_t* parent = a.parent;
  std::int16_t* prev = a.prev;
  std::int16_t* next = a.next;
  std::uint16_t* position = a.position;
  auto adjusted = [cur](int p) { return p >= cur ? p - static_cast<int>(DICT_SIZE) : p; };

  if (parent[cur] == 0) return;
  int r = prev[cur];
  int s = next[cur];
  next[r] = static_cast<std::int16_t>(s);
  prev[s] = static_cast<std::int16_t>(r);
  r = parent[cur];
  parent[cur] = 0;
  if (r >= ROOT_BASE) return;
  if (--a.children[r] > 1) return;

  // r keeps a single child: dissolve it, passing its position up first.
  int t = adjusted(position[r] & ~PROPAGATE_FLAG);
  s = t;
  int q = parent[r];
  int u;
  while ((u = position[q]) & PROPAGATE_FLAG) {
    u = adjusted(u & ~PROPAGATE_FLAG);
    if (u > s) s = u;
    position[q] = static_cast<std::uint16_t>(s | ROOT_BASE);
    q = parent[q];
  }
  if (q < ROOT_BASE) {
    u = adjusted(u);
    if (u > s) s = u;
    position[q] = static_cast<std::uint16_t>(s | ROOT_BASE | PROPAGATE_FLAG);
  }
  s = find_child_in(a, r, a.text[t + a.depth[r]]);
  t = prev[s];
  u = next[s];
  next[t] = static_cast<std::int16_t>(u);
  prev[u] = static_cast<std::int16_t>(t);
  t = prev[r];
  next[t] = static_cast<std::int16_t>(s);
  prev[s] = static_cast<std::int16_t>(t);
  t = next[r];
  prev[t] = static_cast<std::int16_t>(s);
  next[s] = static_cast<std::int16_t>(t);
  parent[s] = parent[r];
  parent[r] = 0;
  MatchFinderState& mf = match_finder;
  next[r] = mf.free_node;
  mf.free_node = static_cast<std::int16_t>(r);
}

// Slides the window when `cur` reached 16384: returns the bytes read.
[[gnu::noinline]] int slide_window(std::uint8_t show_progress) {
  MatchFinderState& mf = match_finder;
  std::memmove(mf.text_window, mf.text_window + DICT_SIZE, DICT_SIZE + MAX_MATCH);
  const std::size_t got =
      read_with_crc(mf.text_window + DICT_SIZE + MAX_MATCH, DICT_SIZE, streams.source_stream);
  if (show_progress != 0) std::fputc('.', stderr);
  return static_cast<int>(got);
}

}  // namespace

int find_child(int q, int c) { return find_child_in(arrays(), q, c); }

void add_child(int q, int c, int r) { add_child_in(arrays(), q, c, r); }

void split_node(int old) {
  const MatchFinderState& mf = match_finder;
  split_in(arrays(), old, mf.current_position, mf.match_length, mf.match_position);
}

void insert_position() {
  MatchFinderState& mf = match_finder;
  int length = mf.match_length;
  int pos = mf.match_position;
  insert_in(arrays(), mf.current_position, length, pos);
  mf.match_length = length;
  mf.match_position = static_cast<std::int16_t>(pos);
}

void delete_position() { delete_in(arrays(), match_finder.current_position); }

void advance_position(std::uint8_t show_progress) {
  MatchFinderState& mf = match_finder;
  --mf.lookahead_bytes;
  if (++mf.current_position == static_cast<int>(2 * DICT_SIZE)) {
    mf.lookahead_bytes += slide_window(show_progress);
    mf.current_position = DICT_SIZE;
  }
  delete_position();
  insert_position();
}

// The encode loop keeps current_position, match_length, match_position and
// lookahead_bytes in locals and stores them back at the end.  Each pass advances one
// position; after a match is sent, the passes that skip its remaining positions
// (`owed`) neither test the loop condition nor clip the match length until the last.
void encode(std::uint8_t show_progress) {
  MatchFinderState& mf = match_finder;
  alloc_dictionary();
  init_dictionary();
  start_block_output();
  const Arrays a = arrays();
  int lookahead = static_cast<int>(
      read_with_crc(a.text + DICT_SIZE, DICT_SIZE + MAX_MATCH, streams.source_stream));
  mf.current_position = DICT_SIZE;
  mf.match_length = 0;
  insert_position();
  int cur = DICT_SIZE;
  int length = mf.match_length;
  int pos = mf.match_position;
  if (length > lookahead) length = lookahead;

  int last_length = 0;
  int last_position = 0;
  int owed = 0;
  for (;;) {
    if (owed == 0) {
      if (lookahead <= 0 || codec.incompressible) break;
      last_length = length;
      last_position = pos;
    }
    // advance_position
    --lookahead;
    if (++cur == static_cast<int>(2 * DICT_SIZE)) {
      lookahead += slide_window(show_progress);
      cur = DICT_SIZE;
    }
    delete_in(a, cur);
    insert_in(a, cur, length, pos);

    if (owed > 0) {
      if (--owed == 0 && length > lookahead) length = lookahead;
      continue;
    }
    if (length > lookahead) length = lookahead;
    if (length > last_length || last_length < static_cast<int>(MIN_MATCH)) {
      buffer_symbol(a.text[cur - 1], 0);
    } else {
      buffer_symbol(static_cast<unsigned>(last_length) + 253,
                    static_cast<unsigned>(cur - last_position - 2) & (DICT_SIZE - 1));
      owed = last_length - 1;
    }
  }
  mf.current_position = static_cast<std::int16_t>(cur);
  mf.match_length = length;
  mf.match_position = static_cast<std::int16_t>(pos);
  mf.lookahead_bytes = lookahead;
  finish_block_output();
}
