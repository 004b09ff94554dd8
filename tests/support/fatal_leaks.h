// A fatal exit inside a whole-story test jumps out of the player instead of ending
// the process, so the blocks a command had in hand when it failed stay allocated.
// Under LeakSanitizer these are marked as expected, and only they: the blocks made
// since the last main-loop iteration and still held at the exit.
#pragma once

// Starts watching allocations; the watch covers one main-loop iteration at a time.
void fatalLeaksWatch(bool on);
// A new iteration begins: what came before it is no longer the exit's.
void fatalLeaksNextIteration();
// The exit happened: the blocks still held from this iteration are not leaks to report.
void fatalLeaksForgive();
// The exit happened and the run goes on (a fuzzer): frees the blocks still held from this
// iteration, but `kept` (a block as the C library handed it out), which the state still uses.
void fatalLeaksFree(const void* kept);
