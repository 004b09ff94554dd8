// Colour-keyed copy: every pixel but those of the key colour.
#include "platform/soft/soft_internal.h"
#include "platform/soft/soft_surface.h"

// The opaque runs of every whole cell of a bitmap, for one key colour and one cell size:
// a sheet of glyphs is drawn cell by cell, each copy the size of a cell, and copying runs
// skips the per-pixel test. The cell is the size of the copies asked for.
struct KeyedRun {
    uint8_t row, x, length;
};

struct CellGrid {
    int32_t width, height;
};

struct KeyedRuns {
    uint32_t keyPixel;
    CellGrid cell;
    int32_t cellsAcross, cellsDown;
    uint32_t* cellFirst; // cellsAcross * cellsDown + 1 run indices
    KeyedRun* runs;
};

namespace {
constexpr int64_t kMostIndexedPixels = int64_t{1} << 22;
// A run's place and length are kept in a byte each.
constexpr int32_t kLargestCell = 255;

// Walks the runs of every cell; `emit` receives the cell number and a run.
template <typename Emit>
void forEachRun(const PlatformBitmap* bitmap, uint32_t keyPixel, CellGrid grid, Emit emit) {
    int32_t cellsAcross = bitmap->width / grid.width;
    int32_t cellsDown = bitmap->height / grid.height;
    for (int32_t cell = 0; cell < cellsAcross * cellsDown; ++cell) {
        int32_t left = (cell % cellsAcross) * grid.width;
        int32_t top = (cell / cellsAcross) * grid.height;
        for (int32_t row = 0; row < grid.height; ++row) {
            const uint32_t* pixels = softRow(bitmap, top + row) + left;
            int32_t x = 0;
            while (x < grid.width) {
                while (x < grid.width && pixels[x] == keyPixel) {
                    ++x;
                }
                int32_t start = x;
                while (x < grid.width && pixels[x] != keyPixel) {
                    ++x;
                }
                if (x > start) {
                    emit(cell, KeyedRun{static_cast<uint8_t>(row), static_cast<uint8_t>(start),
                                        static_cast<uint8_t>(x - start)});
                }
            }
        }
    }
}

// The bitmap's runs for this key and cell, made when first needed; none without memory.
const KeyedRuns* runsOf(PlatformBitmap* bitmap, uint32_t keyPixel, CellGrid grid) {
    const KeyedRuns* known = bitmap->keyedRuns;
    if (known != nullptr && known->keyPixel == keyPixel && known->cell.width == grid.width &&
        known->cell.height == grid.height) {
        return known;
    }
    softBitmapChanged(bitmap);
    int32_t cells = (bitmap->width / grid.width) * (bitmap->height / grid.height);
    // Font sheets are small; a huge bitmap is not worth indexing for a few cells.
    if (cells == 0 || static_cast<int64_t>(bitmap->width) * bitmap->height > kMostIndexedPixels) {
        return nullptr;
    }
    size_t count = 0;
    forEachRun(bitmap, keyPixel, grid, [&](int32_t, KeyedRun) { ++count; });
    size_t firstBytes = (static_cast<size_t>(cells) + 1) * sizeof(uint32_t);
    auto* block = static_cast<uint8_t*>(
        platformAllocate(sizeof(KeyedRuns) + firstBytes + count * sizeof(KeyedRun), false));
    if (block == nullptr) {
        return nullptr;
    }
    auto* runs = reinterpret_cast<KeyedRuns*>(block);
    runs->keyPixel = keyPixel;
    runs->cell = grid;
    runs->cellsAcross = bitmap->width / grid.width;
    runs->cellsDown = bitmap->height / grid.height;
    runs->cellFirst = reinterpret_cast<uint32_t*>(block + sizeof(KeyedRuns));
    runs->runs = reinterpret_cast<KeyedRun*>(block + sizeof(KeyedRuns) + firstBytes);
    uint32_t next = 0;
    int32_t lastCell = -1;
    forEachRun(bitmap, keyPixel, grid, [&](int32_t cell, KeyedRun run) {
        while (lastCell < cell) {
            runs->cellFirst[++lastCell] = next;
        }
        runs->runs[next++] = run;
    });
    while (lastCell < cells) {
        runs->cellFirst[++lastCell] = next;
    }
    bitmap->keyedRuns = runs;
    return runs;
}

// A whole cell of the grid to a place wholly inside the target: copy its runs.
bool copyCellRuns(PlatformBitmap* to, PlatformBitmap* from, int32_t x, int32_t y, int32_t sourceX,
                  int32_t sourceY, CellGrid grid, uint32_t keyPixel) {
    if (grid.width > kLargestCell || grid.height > kLargestCell || sourceX < 0 || sourceY < 0 ||
        sourceX % grid.width != 0 || sourceY % grid.height != 0 || x < 0 || y < 0 ||
        x > to->width - grid.width || y > to->height - grid.height ||
        sourceX > from->width - grid.width || sourceY > from->height - grid.height) {
        return false;
    }
    const KeyedRuns* runs = runsOf(from, keyPixel, grid);
    if (runs == nullptr) {
        return false;
    }
    int32_t cell = (sourceY / grid.height) * runs->cellsAcross + sourceX / grid.width;
    const uint32_t* source = softRow(from, sourceY) + sourceX;
    uint32_t* target = softRow(to, y) + x;
    size_t sourceStride = static_cast<size_t>(from->width);
    size_t targetStride = static_cast<size_t>(to->width);
    for (uint32_t i = runs->cellFirst[cell]; i < runs->cellFirst[cell + 1]; ++i) {
        KeyedRun run = runs->runs[i];
        const uint32_t* in = source + run.row * sourceStride + run.x;
        uint32_t* out = target + run.row * targetStride + run.x;
        for (uint32_t k = 0; k < run.length; ++k) {
            out[k] = in[k];
        }
    }
    return true;
}

void copyKeyedSameSize(PlatformBitmap* to, const PlatformBitmap* from, const SoftCopyRect& rect,
                       uint32_t keyPixel) {
    for (int32_t j = 0; j < rect.height; ++j) {
        uint32_t* target = softRow(to, rect.y + j) + rect.x;
        const uint32_t* source = softRow(from, rect.sourceY + j) + rect.sourceX;
        for (int32_t i = 0; i < rect.width; ++i) {
            if (source[i] != keyPixel) {
                target[i] = source[i];
            }
        }
    }
}

} // namespace

void platformCopyKeyed(PlatformSurface* target, int32_t x, int32_t y, int32_t width, int32_t height,
                       PlatformSurface* source, int32_t sourceX, int32_t sourceY,
                       int32_t sourceWidth, int32_t sourceHeight, uint32_t key) {
    if (target == nullptr || source == nullptr || width <= 0 || height <= 0 || sourceWidth <= 0 ||
        sourceHeight <= 0) {
        return;
    }
    if (target->window != nullptr) {
        // The screen's pixels are the backend's: a keyed copy cannot blend into them.
        return;
    }
    PlatformBitmap* to = target->selected;
    const PlatformBitmap* from = source->selected;
    uint32_t keyPixel = softPixelOfColor(key);
    if (width == sourceWidth && height == sourceHeight) {
        softBitmapChanged(to);
        // The source's runs are a cache: building them does not change its pixels.
        auto* cells = const_cast<PlatformBitmap*>(from);
        if (to != from &&
            copyCellRuns(to, cells, x, y, sourceX, sourceY, CellGrid{width, height}, keyPixel)) {
            return;
        }
        SoftCopyRect rect;
        if (!softClipCopy(x, y, width, height, to->width, to->height, from, sourceX, sourceY,
                          &rect)) {
            return;
        }
        copyKeyedSameSize(to, from, rect, keyPixel);
        return;
    }
    softBitmapChanged(to);
    SoftBounds whole = {0, 0, to->width, to->height};
    softCopyNearestKeyed(to, from, whole, x, y, width, height, sourceX, sourceY, sourceWidth,
                         sourceHeight, keyPixel);
}

void softCopyNearestKeyed(PlatformBitmap* to, const PlatformBitmap* from, const SoftBounds& bounds,
                          int64_t x, int64_t y, int64_t width, int64_t height, int64_t sourceX,
                          int64_t sourceY, int64_t sourceWidth, int64_t sourceHeight,
                          uint32_t keyPixel) {
    int64_t top = y < bounds.top ? bounds.top : y;
    int64_t bottom = y + height < bounds.bottom ? y + height : bounds.bottom;
    int64_t left = x < bounds.left ? bounds.left : x;
    int64_t right = x + width < bounds.right ? x + width : bounds.right;
    top = top < 0 ? 0 : top;
    bottom = bottom < to->height ? bottom : to->height;
    left = left < 0 ? 0 : left;
    right = right < to->width ? right : to->width;
    for (int64_t ty = top; ty < bottom; ++ty) {
        int64_t fy = sourceY + (ty - y) * sourceHeight / height;
        if (fy < 0 || fy >= from->height) {
            continue;
        }
        uint32_t* target = softRow(to, ty);
        const uint32_t* source = softRow(from, fy);
        for (int64_t tx = left; tx < right; ++tx) {
            int64_t fx = sourceX + (tx - x) * sourceWidth / width;
            if (fx >= 0 && fx < from->width && source[fx] != keyPixel) {
                target[tx] = source[fx];
            }
        }
    }
}
