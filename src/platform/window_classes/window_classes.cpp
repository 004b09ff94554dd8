#include "platform/window_classes/window_classes.h"

#include <cstring>

namespace {

constexpr int kMaxClasses = 8;
constexpr size_t kMaxClassName = 64;

struct WindowClass {
    char name[kMaxClassName];
    WindowProcedure procedure;
};

WindowClass classes[kMaxClasses];
int classCount = 0;

} // namespace

bool platformRegisterWindowClass(const char* className, WindowProcedure procedure) {
    if (className == nullptr || procedure == nullptr || classCount == kMaxClasses ||
        strlen(className) >= kMaxClassName || registeredWindowProcedure(className) != nullptr) {
        return false;
    }
    strcpy(classes[classCount].name, className);
    classes[classCount].procedure = procedure;
    ++classCount;
    return true;
}

WindowProcedure registeredWindowProcedure(const char* className) {
    for (int i = 0; className != nullptr && i < classCount; ++i) {
        if (strcmp(classes[i].name, className) == 0) {
            return classes[i].procedure;
        }
    }
    return nullptr;
}
