// Fuzzes the number texts of the settings and the manifest: StrToInt,
// StrToInt64 and StrToBool over the input as text.
//
// Properties: each gives a value or raises EConvertError, nothing else; the
// decimal text of a value, and for 32 bits the "$" hexadecimal text of its
// bit pattern, parse back to the same value; text that StrToInt takes,
// StrToInt64 takes too, and StrToBool reads it as "not zero".
#include "FuzzSupport.h"

#include "Errors.h"
#include "Misc.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

using fuzz::Check;

namespace {

template <typename Parse>
auto Attempt(Parse parse, std::string_view text) -> std::optional<decltype(parse(text))> {
    try {
        return parse(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    } catch (...) {
        Check(false, "a number text gives a value or EConvertError", text);
        return std::nullopt;
    }
}

std::string HexText(std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "$%X", static_cast<unsigned>(value));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::AsText(data, size);
    const auto asInt = Attempt(StrToInt, text);
    const auto asInt64 = Attempt(StrToInt64, text);
    const auto asBool = Attempt(StrToBool, text);

    if (asInt) {
        Check(StrToInt(std::to_string(*asInt)) == *asInt,
              "the decimal text of a 32-bit value parses back to it", text);
        Check(StrToInt(HexText(*asInt)) == *asInt,
              "the hexadecimal text of a 32-bit value parses back to it", text);
        Check(asInt64.has_value(), "text that StrToInt takes StrToInt64 takes too", text);
        Check(asBool == (*asInt != 0), "StrToBool reads an integer as not zero", text);
    }
    if (asInt64)
        Check(StrToInt64(std::to_string(*asInt64)) == *asInt64,
              "the decimal text of a 64-bit value parses back to it", text);
    return 0;
}
