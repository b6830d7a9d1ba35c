// Command lines the tool refuses, run through the real binary: the usage text, every
// command-line error and every load failure, each with its exact output and exit code,
// and the image file byte-identical afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/image_builder.hpp"
#include "tests/support/scratch.hpp"

using testimg::Bytes;

namespace {

const std::string USAGE =
    "OPTMIX REV. 2.08 Build Date Jul 15 2002\n"
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
    "  OPTMIX stn.bin /epa extract";

const std::string UNKNOWN_MAP =
    "The Area Map is unknown.\nEither not VELK's BIOS or incorrect BIOS kernal.\n";
const std::string NO_OPERAND = "Please give the filename to be compressed.\n";

struct Case {
  std::vector<std::string> args;
  std::string out;
  int status;
};

}  // namespace

TEST(CommandLine, RefusedCommandLinesLeaveTheImageAsItWas) {
  const std::string long_name(300, 'n');
  const std::string long_address = std::string(200, '0') + "6g00:0";
  const Case cases[] = {
      {{}, USAGE, 1},
      {{"stn.bin"}, USAGE, 1},
      {{"stn.bin", "VGA.BIN"}, USAGE, 1},
      {{"stn.bin", "/nosuch", "x"}, USAGE, 1},
      {{"stn.bin", "/vga"}, USAGE, 1},
      {{"stn.bin", "/BOOT"}, USAGE, 1},
      {{"stn.bin", "/other"}, USAGE, 1},
      {{"stn.bin", "/vga", "/D"}, NO_OPERAND, 52},
      {{"stn.bin", "/vga", "/ACPITBL"}, NO_OPERAND, 52},
      {{"stn.bin", "/other", "/D"}, NO_OPERAND, 52},
      {{"stn.bin", "/other", "6000:0"}, NO_OPERAND, 52},
      {{"stn.bin", "/other", "60g0:0", "x.rom"}, "Input parameter 60g0:0 error.", 1},
      {{"stn.bin", "/other", "0000:0", "x.rom"}, "Input parameter 0000:0 error.", 1},
      {{"stn.bin", "/other", ":6000", "release"}, "Input parameter :6000 error.", 1},
      {{"stn.bin", "/other", long_address, "x.rom"}, "Input parameter " + long_address + " error.", 1},
      {{"stn.bin", "/BOOT", "6000:0", "x.rom"}, "Bad usage.\n", 1},
      {{"stn.bin", "/BOOT", "/BOOT"}, "Bad usage.\n", 1},
      {{"stn.bin", "/BOOT", "/vga"}, NO_OPERAND, 52},
      {{"missing.bin", "/D"}, "missing.bin Error.\n", 75},
      {{long_name, "/D"}, long_name + " Error.\n", 75},
      {{"adir", "/D"}, "adir Error.\n", 75},
      {{"long.bin", "/D"}, "long.bin Error.\n", 75},
      {{"zeros.bin", "/D"}, UNKNOWN_MAP + "zeros.bin Error.\n", 75},
      {{"empty.bin", "/D"}, UNKNOWN_MAP + "empty.bin Error.\n", 75},
      {{"bootonly.bin", "/D"}, UNKNOWN_MAP + "bootonly.bin Error.\n", 75},
  };

  for (const Case& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += " " + a.substr(0, 40);
    SCOPED_TRACE("optmix" + line);
    testimg::ScratchDir dir;
    const Bytes image = testimg::standard_image().bytes;
    dir.write("stn.bin", image);
    dir.write("x.rom", Bytes(100, 0x11));
    std::filesystem::create_directory(dir.file("adir"));
    Bytes long_image(0x100001, 0xFF);
    dir.write("long.bin", long_image);
    dir.write("zeros.bin", Bytes(0x100000, 0));
    dir.write("empty.bin", {});
    testimg::ImageBuilder boot(0x100000);
    boot.boot_map(0xE2710, 0, 0xF0000, 0xF4000, 0, 0);
    dir.write("bootonly.bin", boot.bytes);
    const auto before = dir.entries();

    const testimg::RunResult r = testimg::run_optmix(dir, c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(dir.read("stn.bin"), image);
    EXPECT_EQ(dir.read("long.bin").size(), 0x100001u);
    EXPECT_EQ(dir.read("bootonly.bin"), boot.bytes);
    EXPECT_EQ(dir.entries(), before);
  }
}
