// Window classes by name, for the backends whose windows are records of their own
// (SDL and the browser): a class is registered once and names its window procedure.
#pragma once

#include "platform/platform.h"

// The procedure of the class registered as `className`; none when there is no such class.
WindowProcedure registeredWindowProcedure(const char* className);
