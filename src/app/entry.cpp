#include "app/app.h"

// The player takes no arguments.
int main() {
    runPlayer();
}
