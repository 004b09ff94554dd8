// The studio's player: the web player, started where the studio's page asks.
#include "app/app.h"

int main() {
    runPlayer();
}
