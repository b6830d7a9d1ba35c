// The add path of a pair: from the decision that a pair adds a file to the module's
// place in the image.
#pragma once

#include <cstdint>
#include <string>

// Prepares and packs the input of item-table row `row` into the packed-module file and
// inserts it under `type_id`.  With an operand (the name as typed, untrusted content):
// "-lh" at bytes 2-4 is refused ("File %s is compressed.\n", exit 55), a bitmap takes
// the logo route of the row's kind, an "MZ" executable loses its header, anything else
// is packed as it is; a file that cannot be opened gives "Can't open %s\n" and exit 54.
// Without an operand (ACPITBL) merges "ACPITBL.EXE" and "DSDT.AML" into "ACPITBL.BIN";
// either missing gives "%s open in failure !!!\n" and exit 54.  When no packed-module
// file was written by this pair prints "Not found %s file !!!\n" and inserts nothing.
// Messages on stdout.  Returns when the walk may go on.
void add_input(int row, std::uint16_t type_id, const std::string* operand);
