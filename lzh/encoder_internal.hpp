// The match finder and encode loop: the front half of the compressor.  Internal to lzh/
// and its tests.
//
// The last 8,192 input bytes are kept in a 16,640-byte window and indexed by a
// path-compressed trie of the window's suffixes whose child lists live in hash chains.
// Node numbers (signed 16-bit): 0 nil; 1..8191 inner nodes; 8192 + c the root for first
// byte c; 8192..16383 leaves, numbered by the current_position at their insertion.
#pragma once

#include <cstdint>

#include "lzh/bitio_internal.hpp"

inline constexpr int WINDOW_BYTES = 2 * DICT_SIZE + MAX_MATCH;  // 16,640
inline constexpr int ROOT_BASE = DICT_SIZE;                      // root of byte c: 8192 + c
inline constexpr int NODE_TABLE = DICT_SIZE + 256;               // node_depth etc.: 8,448
inline constexpr int LEAF_TABLE = 2 * DICT_SIZE;                 // node_parent etc.: 16,384
inline constexpr int CHAIN_HEADS = 2 * DICT_SIZE;                // first chain head entry
// sibling_next: nodes and leaves, then the heads q + 16c + 16384 up to the last root's.
inline constexpr int SIBLING_NEXT_ENTRIES = CHAIN_HEADS + (ROOT_BASE + 255) + 16 * 255 + 1;
inline constexpr std::uint16_t PROPAGATE_FLAG = 0x8000;  // node_position: parent not told yet

// The match finder's arrays and scalars.  The arrays are allocated at the first
// compression of a run (the window zero-filled) and kept.
struct MatchFinderState {
  std::uint8_t* text_window = nullptr;      // 16,640 bytes; coding runs over 8192..16383
  std::uint8_t* node_depth = nullptr;       // 8,448: string length shared below the node
  std::uint8_t* child_count = nullptr;      // 8,448
  std::uint16_t* node_position = nullptr;   // 8,448: a recent position, leaf form, + flag
  std::int16_t* node_parent = nullptr;      // 16,384: 0 = not in the tree; [0] sentinel
  std::int16_t* sibling_prev = nullptr;     // 16,384: previous chain member or the head
  std::int16_t* sibling_next = nullptr;     // 28,912: next member; free list; replacements

  std::int16_t free_node = 0;         // head of the free list of inner nodes
  int match_length = 0;               // 0..256
  std::int16_t match_position = 0;    // adjusted window position of the match
  std::int16_t current_position = 0;  // 8192..16383
  int lookahead_bytes = 0;            // bytes from current_position to the end of the data
};
extern MatchFinderState match_finder;

// Back to program start, keeping the arrays (the window is zero-filled again).
void reset_match_finder();

// Allocates the seven arrays (173,792 bytes) unless already allocated; the window is
// zero-filled.  fatal("Out of memory.") (exit 1) when an allocation fails.
void alloc_dictionary();

// Empties the trie: roots of depth 1, no leaf in the tree, every inner node free, every
// chain empty.
void init_dictionary();

// The child of node q whose string continues with byte c, or 0.
int find_child(int q, int c);

// Puts r at the front of the chain of (q, c) as a child of q.
void add_child(int q, int c, int r);

// Gives the string at current_position a branch point inside the edge above node `old`,
// after match_length bytes: a new inner node with children old and current_position.
void split_node(int old);

// Adds the leaf current_position and leaves the longest match in match_length (up to
// 256) and match_position.  Starts below the previous match when match_length >= 4.
void insert_position();

// Removes the leaf current_position (the string 8,192 positions back), dissolving its
// parent when that keeps a single child.
void delete_position();

// Moves to the next position: slides the window at 16384 (reading up to 8,192 more
// bytes; writes "." on stderr when show_progress is non-zero), then deletes the old
// string of the position and inserts the new one.
void advance_position(std::uint8_t show_progress);
