// The fatal report: a modal box with no owner, then the end of the process.
#include "platform/win32/win32.h"

void platformFatal(const char* caption, const char* text, int32_t exitCode) {
    MessageBoxA(nullptr, text, caption, MB_ICONERROR);
    platformExitProcess(exitCode);
}

void platformExitProcess(int32_t exitCode) {
    ExitProcess(static_cast<UINT>(exitCode));
}
