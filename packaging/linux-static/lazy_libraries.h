// The libraries of SDL's drivers, opened when the self-contained player starts
// rather than named in it, so that a machine without one still starts the player:
// without the X11 libraries SDL finds no display, without ALSA it plays no sound.
#pragma once

// A function SDL calls in one of the libraries, by the library's place in the list
// lazy_symbols.sh was given.
struct LazySymbol {
    unsigned library;
    const char* name;
};

extern const LazySymbol kLazySymbols[];
extern const unsigned kLazySymbolCount;
