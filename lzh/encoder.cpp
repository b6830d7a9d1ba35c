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

int find_child(int q, int c) {
  const MatchFinderState& mf = match_finder;
  std::int16_t* parent = mf.node_parent;
  const std::int16_t* next = mf.sibling_next;
  int r = next[chain_head(q, c)];
  parent[0] = static_cast<std::int16_t>(q);
  while (parent[r] != q) r = next[r];
  return r;
}

void add_child(int q, int c, int r) {
  MatchFinderState& mf = match_finder;
  int h = chain_head(q, c);
  int t = mf.sibling_next[h];
  mf.sibling_next[h] = static_cast<std::int16_t>(r);
  mf.sibling_next[r] = static_cast<std::int16_t>(t);
  mf.sibling_prev[t] = static_cast<std::int16_t>(r);
  mf.sibling_prev[r] = static_cast<std::int16_t>(h);
  mf.node_parent[r] = static_cast<std::int16_t>(q);
  ++mf.child_count[q];
}

void split_node(int old) {
  MatchFinderState& mf = match_finder;
  int fresh = mf.free_node;
  mf.free_node = mf.sibling_next[fresh];
  mf.child_count[fresh] = 0;
  int t = mf.sibling_prev[old];
  mf.sibling_prev[fresh] = static_cast<std::int16_t>(t);
  mf.sibling_next[t] = static_cast<std::int16_t>(fresh);
  t = mf.sibling_next[old];
  mf.sibling_next[fresh] = static_cast<std::int16_t>(t);
  mf.sibling_prev[t] = static_cast<std::int16_t>(fresh);
  mf.node_parent[fresh] = mf.node_parent[old];
  mf.node_depth[fresh] = static_cast<std::uint8_t>(mf.match_length);
  mf.node_position[fresh] = static_cast<std::uint16_t>(mf.current_position);
  add_child(fresh, mf.text_window[mf.match_position + mf.match_length], old);
  add_child(fresh, mf.text_window[mf.current_position + mf.match_length], mf.current_position);
}

void insert_position() {
  MatchFinderState& mf = match_finder;
  const std::uint8_t* text = mf.text_window;
  const std::uint8_t* depth = mf.node_depth;
  std::uint16_t* position = mf.node_position;
  std::int16_t* parent = mf.node_parent;
  std::int16_t* next = mf.sibling_next;
  const int cur = mf.current_position;
  int length = mf.match_length;
  int q;
  int r;

  if (length >= 4) {
    // Case A: the string here shares at least length - 1 bytes with the one at
    // match_position + 1; start from that string's leaf.
    --length;
    r = (mf.match_position + 1) | ROOT_BASE;
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
    int c = text[cur + 1];
    r = find_child(q, c);
    if (r == 0) {
      add_child(q, c, cur);
      mf.match_length = 1;
      return;
    }
    length = 2;
  }

  // Scan: r is a child of q and the first `length` bytes agree.
  for (;;) {
    int limit;
    int pos;
    if (r >= ROOT_BASE) {
      limit = MAX_MATCH;
      pos = r;
    } else {
      limit = depth[r];
      pos = position[r] & ~PROPAGATE_FLAG;
    }
    if (pos >= cur) pos -= DICT_SIZE;
    const std::uint8_t* here = text + cur;
    const std::uint8_t* there = text + pos;
    while (length < limit) {
      if (here[length] != there[length]) {
        mf.match_length = length;
        mf.match_position = static_cast<std::int16_t>(pos);
        split_node(r);
        return;
      }
      ++length;
    }
    if (length >= static_cast<int>(MAX_MATCH)) {
      mf.match_length = length;
      mf.match_position = static_cast<std::int16_t>(pos);
      break;
    }
    position[r] = static_cast<std::uint16_t>(cur);
    q = r;
    int c = here[length];
    r = find_child(q, c);
    if (r == 0) {
      mf.match_length = length;
      mf.match_position = static_cast<std::int16_t>(pos);
      add_child(q, c, cur);
      return;
    }
    ++length;
  }

  // A full 256-byte match: the new leaf takes the old leaf r's place.
  std::int16_t* prev = mf.sibling_prev;
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

void delete_position() {
  MatchFinderState& mf = match_finder;
  std::int16_t* parent = mf.node_parent;
  std::int16_t* prev = mf.sibling_prev;
  std::int16_t* next = mf.sibling_next;
  std::uint16_t* position = mf.node_position;
  const int cur = mf.current_position;
  auto adjusted = [cur](int p) { return p >= cur ? p - static_cast<int>(DICT_SIZE) : p; };

  if (parent[cur] == 0) return;
  int r = prev[cur];
  int s = next[cur];
  next[r] = static_cast<std::int16_t>(s);
  prev[s] = static_cast<std::int16_t>(r);
  r = parent[cur];
  parent[cur] = 0;
  if (r >= ROOT_BASE) return;
  if (--mf.child_count[r] > 1) return;

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
  s = find_child(r, mf.text_window[t + mf.node_depth[r]]);
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
  next[r] = mf.free_node;
  mf.free_node = static_cast<std::int16_t>(r);
}

void advance_position(std::uint8_t show_progress) {
  MatchFinderState& mf = match_finder;
  --mf.lookahead_bytes;
  if (++mf.current_position == static_cast<int>(2 * DICT_SIZE)) {
    std::memmove(mf.text_window, mf.text_window + DICT_SIZE, DICT_SIZE + MAX_MATCH);
    std::size_t got = read_with_crc(mf.text_window + DICT_SIZE + MAX_MATCH, DICT_SIZE,
                                    streams.source_stream);
    mf.lookahead_bytes += static_cast<int>(got);
    mf.current_position = DICT_SIZE;
    if (show_progress != 0) std::fputc('.', stderr);
  }
  delete_position();
  insert_position();
}

void encode(std::uint8_t show_progress) {
  MatchFinderState& mf = match_finder;
  alloc_dictionary();
  init_dictionary();
  start_block_output();
  mf.lookahead_bytes = static_cast<int>(
      read_with_crc(mf.text_window + DICT_SIZE, DICT_SIZE + MAX_MATCH, streams.source_stream));
  mf.match_length = 0;
  mf.current_position = DICT_SIZE;
  insert_position();
  if (mf.match_length > mf.lookahead_bytes) mf.match_length = mf.lookahead_bytes;

  while (mf.lookahead_bytes > 0 && !codec.incompressible) {
    int last_length = mf.match_length;
    int last_position = mf.match_position;
    advance_position(show_progress);
    if (mf.match_length > mf.lookahead_bytes) mf.match_length = mf.lookahead_bytes;
    if (mf.match_length > last_length || last_length < static_cast<int>(MIN_MATCH)) {
      buffer_symbol(mf.text_window[mf.current_position - 1], 0);
    } else {
      buffer_symbol(static_cast<unsigned>(last_length) + 253,
                    static_cast<unsigned>(mf.current_position - last_position - 2) & (DICT_SIZE - 1));
      while (--last_length > 0) advance_position(show_progress);
      if (mf.match_length > mf.lookahead_bytes) mf.match_length = mf.lookahead_bytes;
    }
  }
  finish_block_output();
}
