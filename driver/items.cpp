// The item table (44 rows in fixed order: both lookups return the first match) and
// the command-line helpers built on it.
#include "driver/items.hpp"

#include <cstdio>

#include "driver/exit_codes.hpp"
#include "image/fatal.hpp"

const ItemEntry item_table[ITEM_COUNT] = {
    {KIND_OTHER, "7000:0", 0x3333, "OTHER"},
    {KIND_CPUCODE, "4001:0", 0x4001, "Cpucode"},
    {KIND_EPA, "4002:0", 0x4002, "EPA"},
    {KIND_ACPITBL, "4003:0", 0x4003, "ACPITBL"},
    {4, "4004:0", 0x4004, "SCSI"},
    {5, "4005:0", 0x4005, "SCSI1"},
    {6, "4006:0", 0x4006, "NCR"},
    {7, "4007:0", 0x4007, "VRS"},
    {8, "4008:0", 0x4008, "ATA"},
    {9, "4009:0", 0x4009, "ATA1"},
    {10, "4010:0", 0x4010, "VRSLOGO"},
    {11, "4011:0", 0x4011, "NET"},
    {12, "4012:0", 0x4012, "NET1"},
    {13, "4013:0", 0x4013, "VGA"},
    {14, "4015:0", 0x4015, "RAPIDUP"},
    {15, "A000:0", 0xA000, "ACPI"},
    {KIND_BOOT, "7000:0", 0x4444, "BOOT"},
    {KIND_SYS, "5000:0", 0x5000, "SYS"},
    {KIND_D, "7000:0", 0xFFFF, "D"},
    {KIND_ENGLISHPOST, "2400:0", 0x2400, "ENGLISHPOST"},
    {23, "2601:0", 0x2601, "SPANISHPOST"},
    {24, "7001:0", 0x7001, "SPANISHSETUP"},
    {25, "2602:0", 0x2602, "FRENCHPOST"},
    {26, "7002:0", 0x7002, "FRENCHSETUP"},
    {27, "2603:0", 0x2603, "CHINESEPOST"},
    {28, "7003:0", 0x7003, "CHINESESETUP"},
    {29, "2803:0", 0x2803, "CHINESEFONT"},
    {30, "2604:0", 0x2604, "CHINESESPOST"},
    {31, "7004:0", 0x7004, "CHINESESSETUP"},
    {32, "2804:0", 0x2804, "CHINESESFONT"},
    {33, "2605:0", 0x2605, "JAPANESEPOST"},
    {34, "7005:0", 0x7005, "JAPANESESETUP"},
    {35, "2805:0", 0x2805, "JAPANESEFONT"},
    {36, "2606:0", 0x2606, "GERMANPOST"},
    {37, "7006:0", 0x7006, "GERMANSETUP"},
    {38, "2607:0", 0x2607, "KOREANPOST"},
    {39, "7007:0", 0x7007, "KOREANSETUP"},
    {40, "2807:0", 0x2807, "KOREANFONT"},
    {41, "2608:0", 0x2608, "ITALIANPOST"},
    {42, "7008:0", 0x7008, "ITALIANSETUP"},
    {43, "2609:0", 0x2609, "RUSSIANPOST"},
    {44, "7009:0", 0x7009, "RUSSIANSETUP"},
    {KIND_LOGO256, "4014:0", 0x4014, "LOGO256"},
    {KIND_LOGO, "4000:0", 0x4000, "LOGO"},
};

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

}  // namespace

int find_option(std::string_view argument) {
  if (argument.empty() || argument[0] != '/') return -1;
  std::string_view name = argument.substr(1);
  for (std::size_t row = 0; row < ITEM_COUNT; ++row)
    if (equal_ignoring_case(name, item_table[row].name)) return static_cast<int>(row);
  return -1;
}

int find_item_by_type_id(std::uint16_t type_id) {
  for (std::size_t row = 0; row < ITEM_COUNT; ++row)
    if ((item_table[row].type_id & 0xFFFF) == type_id) return static_cast<int>(row);
  return -1;
}

std::uint16_t parse_load_segment(std::string_view text) {
  if (text.empty() || text[0] == ':') return 0;
  std::uint16_t accumulator = 0;
  for (char c : text) {
    unsigned digit;
    if (c == ':') break;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return 0;
    accumulator = static_cast<std::uint16_t>((accumulator << 4) + digit);
  }
  return accumulator;
}

void print_usage() {
  std::printf("%s\n", "OPTMIX REV. 2.08 Build Date Jul 15 2002");
  std::fputs(
      "Syntax:\n"
      "  OPTMIX InputFile [/other] [6000:0] [RomFile|Release|Extract]\n"
      "  OPTMIX InputFile [/BOOT]  [6000:0] [RomFile|Release|Extract]\n"
      "  OPTMIX InputFile [/D|logo|vga....] [RomFile|Release|Extract]\n"
      "          InputFile   : System BIOS to be added with Option ROMs\n"
      "          /D          : For display all combined ROMs informations in BIOS\n"
      "          /SYS        : Add System BIOS\n"
      "          /ncr        : Add NCR SCSI ROM to System BIOS\n"
      "          /vga        : Add onboard VGA BIOS ROM to System BIOS\n"
      "          /scsi       : Add onboard SCSI BIOS ROM to System BIOS\n"
      "          /ata        : Add onboard IDE BIOS ROM to System BIOS\n"
      "          /net        : Add onboard LAN BIOS ROM to System BIOS\n"
      "          /rapidup    : Add rapidup to System BIOS\n"
      "          /logo       : Add OEM LOGO BitMap to System BIOS\n"
      "          /logo256    : Add OEM 256 Colors 640*480 BitMap to System BIOS\n"
      "          /other      : Add special OEM ROM to System BIOS\n"
      "          /acpi       : Add ACPIBOOT to System BIOS\n"
      "          /cpucode, /epa, /acpitbl\n"
      "          RomFile     : File name of option ROM to add-in\n"
      "          Release     : Release option ROM in current system BIOS\n"
      "          Extract     : Extract option ROM to File in current system BIOS\n"
      "<<< Examples >>>\n"
      "  OPTMIX stn.bin /D\n"
      "  OPTMIX stn.bin /vga VGA.BIN\n"
      "  OPTMIX stn.bin /other 6000:0 pelixext.rom\n"
      "  OPTMIX stn.bin /epa extract",
      stdout);
  end_run(EXIT_USAGE);
}
