// The two cell-colour sources: the digit stream and the average of one number's digits.
#include "picture/DigitColors.h"

#include <type_traits>
#include <utility>

namespace digitmosaic {

namespace {

// Writes the digits of n, least significant first, after those already waiting. Zero is written
// as one digit, so the stream never runs dry.
template <typename Base>
void WriteDigits(std::int32_t n, Base base, PictureState& state) {
    auto count = state.DigitCount;  // kept in a register: the digits could alias the count
    do {
        state.Digits[count++] = static_cast<std::int16_t>(n % base);
        n /= base;
    } while (n > 0);
    state.DigitCount = count;
}

// With the base a compile-time constant the divisions become multiplications: average pictures
// convert every number whole, up to seventeen digits a cell.
template <int... Bases>
void WriteDigits(std::int32_t n, PictureState& state, std::integer_sequence<int, Bases...>) {
    const auto writeIfBase = [&](auto base) {
        if (state.NumberBase != base) {
            return false;
        }
        WriteDigits(n, base, state);
        return true;
    };
    if (!(writeIfBase(std::integral_constant<int, Bases>{}) || ...)) {
        WriteDigits(n, int{state.NumberBase}, state);
    }
}

}  // namespace

PackedColor NextDigitColor(PictureState& state) {
    if (state.DigitCount == 0) {
        const std::int32_t n = state.NextNumber;
        state.NextNumber += 1;
        WriteDigits(n, state, std::integer_sequence<int, 2, 3, 4, 5, 6, 7, 8, 9, 10>{});
    }
    state.DigitCount -= 1;
    return state.Palette[state.Digits[state.DigitCount]];
}

PackedColor AverageDigitColor(PictureState& state) {
    state.DigitCount = 0;
    NextDigitColor(state);  // writes all digits of the next number

    int red = 0;
    int green = 0;
    int blue = 0;
    for (int i = 0; i <= state.DigitCount; ++i) {
        const PackedColor color = state.Palette[state.Digits[i]];
        red += color & 0xFF;
        green += (color >> 8) & 0xFF;
        blue += (color >> 16) & 0xFF;
    }
    const int digits = state.DigitCount + 1;
    return PackRgb(red / digits, green / digits, blue / digits);
}

}  // namespace digitmosaic
