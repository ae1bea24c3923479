#include "picture/DigitColors.h"

namespace digitmosaic {

PackedColor NextDigitColor(PictureState& state) {
    if (state.DigitCount == 0) {
        std::int32_t n = state.NextNumber;
        state.NextNumber += 1;
        // Zero is written as one digit, so the stream never runs dry.
        do {
            state.Digits[state.DigitCount] = static_cast<std::int16_t>(n % state.NumberBase);
            n /= state.NumberBase;
            state.DigitCount += 1;
        } while (n > 0);
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
