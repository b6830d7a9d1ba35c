// The item table and the command-line text helpers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "driver/items.hpp"

TEST(ItemTable, RowsKindsAndTypeIdsAreAsTabled) {
  struct Row {
    int row;
    const char* name;
    int kind;
    const char* load_text;
    unsigned type_id;
  };
  const Row rows[] = {
      {0, "OTHER", 0, "7000:0", 0x3333},       {1, "Cpucode", 1, "4001:0", 0x4001},
      {2, "EPA", 2, "4002:0", 0x4002},         {3, "ACPITBL", 3, "4003:0", 0x4003},
      {13, "VGA", 13, "4013:0", 0x4013},       {14, "RAPIDUP", 14, "4015:0", 0x4015},
      {15, "ACPI", 15, "A000:0", 0xA000},      {16, "BOOT", 16, "7000:0", 0x4444},
      {17, "SYS", 17, "5000:0", 0x5000},       {18, "D", 20, "7000:0", 0xFFFF},
      {19, "ENGLISHPOST", 18, "2400:0", 0x2400}, {20, "SPANISHPOST", 23, "2601:0", 0x2601},
      {28, "CHINESESSETUP", 31, "7004:0", 0x7004}, {29, "CHINESESFONT", 32, "2804:0", 0x2804},
      {41, "RUSSIANSETUP", 44, "7009:0", 0x7009}, {42, "LOGO256", 22, "4014:0", 0x4014},
      {43, "LOGO", 21, "4000:0", 0x4000},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_STREQ(item_table[r.row].name, r.name);
    EXPECT_EQ(item_table[r.row].kind, r.kind);
    EXPECT_STREQ(item_table[r.row].load_text, r.load_text);
    EXPECT_EQ(item_table[r.row].type_id, r.type_id);
  }

  std::set<int> kinds;
  std::set<unsigned> ids;
  for (const ItemEntry& e : item_table) {
    kinds.insert(e.kind);
    ids.insert(e.type_id);
    // Normal rows load at the segment they are searched by.
    if (e.kind != KIND_OTHER && e.kind != KIND_BOOT && e.kind != KIND_D) {
      EXPECT_EQ(std::stoul(std::string(e.load_text, 4), nullptr, 16), e.type_id) << e.name;
    }
  }
  EXPECT_EQ(kinds.size(), ITEM_COUNT);
  EXPECT_EQ(ids.size(), ITEM_COUNT);
  EXPECT_EQ(kinds.count(19), 0u);
}

TEST(FindOption, NamesRowsInAnyCaseWithoutPrefixes) {
  const std::pair<const char*, int> cases[] = {
      {"/D", 18},           {"/d", 18},           {"-D", -1},         {"D", -1},
      {"//D", -1},          {"/", -1},            {"", -1},           {"/logo", 43},
      {"/Logo256", 42},     {"/LOG", -1},         {"/vga", 13},       {"/VGA ", -1},
      {"/chinesessetup", 28}, {"/chinesesetup", 25}, {"/boot", 16},   {"/other", 0},
      {"/CPUCODE", 1},      {"/acpitbl", 3},      {"/acpi", 15},      {"/russiansetup", 41},
  };
  for (const auto& [argument, row] : cases) {
    SCOPED_TRACE(argument);
    EXPECT_EQ(find_option(argument), row);
  }
}

TEST(FindItemByTypeId, FirstRowOrNone) {
  EXPECT_EQ(find_item_by_type_id(0x4014), 42);
  EXPECT_EQ(find_item_by_type_id(0x4001), 1);
  EXPECT_EQ(find_item_by_type_id(0xFFFF), 18);
  EXPECT_EQ(find_item_by_type_id(0x6000), -1);
  EXPECT_EQ(find_item_by_type_id(0x0000), -1);
}

TEST(ParseLoadSegment, TypedAddresses) {
  const std::pair<const char*, unsigned> cases[] = {
      {"6000:0", 0x6000}, {"a000:0", 0xA000},  {"A000:0", 0xA000}, {"0000:0", 0},
      {":6000", 0},       {"", 0},             {"60 0:0", 0},      {"0x60:0", 0},
      {"60g0:0", 0},      {"-600:0", 0},       {"16000:0", 0x6000}, {"6000", 0x6000},
      {"6000:zz", 0x6000}, {"1234567890abcdef:0", 0xCDEF}, {"f:0", 0x000F},
  };
  for (const auto& [text, segment] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parse_load_segment(text), segment);
  }
}
