// UTF-8 text, as the native programs write it, turned into UTF-16, as the
// monitor's property blobs hold it. Pure code.
#pragma once

#include <string>
#include <string_view>

namespace tapfeed {

// The text in UTF-16 (code points beyond U+FFFF as surrogate pairs). Each
// invalid sequence (a stray continuation byte, a sequence cut short, an
// overlong form, a surrogate, a code point beyond U+10FFFF) becomes one
// U+FFFD: as many bytes as began a valid sequence are taken for it, and
// decoding goes on right behind them.
std::u16string Utf16FromUtf8(std::string_view text);

}  // namespace tapfeed
