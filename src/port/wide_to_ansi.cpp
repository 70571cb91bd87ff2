#include "port/wide_to_ansi.h"

#include <windows.h>

#include "system/owned_buffer.h"

namespace quorvel {

void WideToAnsi(char*& target, const uint8_t* source, uint32_t byteLength) {
    if (target || !source) return;
    // Copy the blob into an aligned, terminated text first: the blob may
    // start at an odd offset and may lack its terminator.
    uint32_t characters = byteLength / 2;
    OwnedBuffer<wchar_t> wide(characters + 1);
    if (!wide) return;
    for (uint32_t i = 0; i < characters; ++i) {
        wide[i] = static_cast<wchar_t>(source[2 * i] | source[2 * i + 1] << 8);
    }
    wide[characters] = 0;

    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(CP_ACP, 0, wide.Get(), -1, nullptr, 0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault) return;
    OwnedBuffer<char> text(static_cast<size_t>(size) + 1);
    if (!text) return;
    usedDefault = FALSE;
    int converted = WideCharToMultiByte(CP_ACP, 0, wide.Get(), -1, text.Get(), size + 1, nullptr, &usedDefault);
    if (converted == size && !usedDefault) target = text.Release();
}

}  // namespace quorvel
