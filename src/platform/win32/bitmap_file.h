// A look at a BMP file's headers before the system loads it, by the one header check
// of every build (bmp_headers.h). The system's loader takes a file whose pixel rows
// end early and shows the missing part black (seen under Wine), and makes a bitmap of
// any size the headers ask for, where the other builds refuse both; checking first
// gives one behaviour everywhere.
#pragma once

#include "platform/platform.h"

// Why the headers of the BMP file at `path` are refused, as the other builds refuse the
// file; None when they pass. Missing when it cannot be opened, Unreadable when its head
// cannot be read.
LoadFailure bmpFileFailure(const char* path);
