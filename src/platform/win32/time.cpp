// The system's millisecond tick, which wraps after about 49.7 days.
#include "platform/win32/win32.h"

uint32_t platformTickCount() {
    return GetTickCount();
}

void platformSleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}
