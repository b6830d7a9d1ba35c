// Input file names typed by the user, resolved against the directory's letter case.
#pragma once

#include <cstdio>
#include <string>

// The name to open for an input file the user typed: the name as typed when such a file
// exists; otherwise the first entry (in byte order of names) of its directory whose name
// equals it ignoring ASCII case; otherwise the name as typed (which then fails to open).
std::string resolve_input_name(const std::string& typed);
