#!/bin/sh
# Writes the C++ source of the lazily bound library functions of the self-contained
# player: for each function libSDL2.a calls in the given libraries, a trampoline of
# that name that jumps through a slot, and the table the loader fills the slots from.
# Usage: lazy_symbols.sh OUT.cpp LIBSDL2.a LIBRARY...   (a library's index is its place)
set -eu
out="$1"
sdl="$2"
shift 2
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
nm -u -j "$sdl" 2>/dev/null | sort -u > "$work/wanted"
index=0
: > "$work/table"
for library in "$@"; do
  nm -D --defined-only -j "$library" | sed 's/@.*//' | sort -u | comm -12 "$work/wanted" - |
    while read -r name; do
      # A function met in an earlier library is bound there.
      grep -q " $name\$" "$work/table" || echo "$index $name" >> "$work/table"
    done
  index=$((index + 1))
done
count="$(wc -l < "$work/table")"
{
  echo "// Made by lazy_symbols.sh at configure time; do not edit."
  echo "#include \"lazy_libraries.h\""
  echo ""
  echo "extern \"C\" void* bexu_lazy_slots[$count];"
  echo "void* bexu_lazy_slots[$count];"
  echo ""
  echo "const LazySymbol kLazySymbols[] = {"
  awk '{ printf "    {%d, \"%s\"},\n", $1, $2 }' "$work/table"
  echo "};"
  echo "const unsigned kLazySymbolCount = $count;"
  echo ""
  printf '%s\n' 'asm(".text\n"'
  awk '{ printf "    \".globl %s\\n.type %s, @function\\n%s: jmp *bexu_lazy_slots+%d(%%rip)\\n\"\n", $2, $2, $2, 8 * (NR - 1) }' "$work/table"
  echo ");"
} > "$out.new"
mv "$out.new" "$out"
