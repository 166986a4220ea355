#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "core/decimal_text.hpp"
#include "pyfacade/json_text.hpp"

namespace brenvalis::core {
namespace {

std::string json_number(double value) {
    std::string out;
    pyfacade::append_json_number(out, value);
    return out;
}

// Reads text back as a double; nullopt when from_chars rejects it, does not
// consume all of it, or reports it out of range.
std::optional<double> read_back(std::string_view text) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool same_bits(std::optional<double> a, double b) {
    return a.has_value() && std::bit_cast<std::uint64_t>(*a) == std::bit_cast<std::uint64_t>(b);
}

std::string scientific(std::string_view digits, int exponent) {
    std::string text(1, digits[0]);
    if (digits.size() > 1) {
        text.push_back('.');
        text.append(digits.substr(1));
    }
    text.push_back('e');
    text.append(std::to_string(exponent));
    return text;
}

// True when some decimal with fewer significant digits than d reads back as
// value. A string of k < count digits that reads back can be padded with zeros
// to count - 1 digits, so only count - 1 digits need checking. The values that
// read back form an interval around value that also holds d's own digits, so
// if any (count - 1)-digit decimal lies in it, so does one of the two that
// bracket d on that grid: its truncation and the truncation plus one unit.
bool shorter_digits_read_back(const ShortestDigits& d, double value) {
    if (d.count <= 1) {
        return false;
    }
    const double magnitude = std::fabs(value);
    std::string below(d.digits, static_cast<std::size_t>(d.count - 1));
    if (same_bits(read_back(scientific(below, d.exponent)), magnitude)) {
        return true;
    }
    std::string above = below;
    int exponent = d.exponent;
    int i = static_cast<int>(above.size()) - 1;
    while (i >= 0 && above[static_cast<std::size_t>(i)] == '9') {
        above[static_cast<std::size_t>(i)] = '0';
        --i;
    }
    if (i < 0) {
        above.insert(above.begin(), '1');
        above.pop_back();
        ++exponent;
    } else {
        ++above[static_cast<std::size_t>(i)];
    }
    return same_bits(read_back(scientific(above, exponent)), magnitude);
}

TEST(DecimalText, FormulaLayout) {
    struct Case {
        double value;
        std::string_view text;
    };
    const Case cases[] = {
        {246220.0, "246220"},
        {70.0, "70"},
        {-1.0, "-1"},
        {1776.86, "1776.86"},
        {0.0, "0"},
        {-0.0, "-0"},
        {24.0, "24"},
        {0.5, "0.5"},
        {-0.25, "-0.25"},
        {0.001, "0.001"},
        {1e-7, "0.0000001"},
        {1.5e-7, "0.00000015"},
        {1.618033988749895, "1.618033988749895"},
        {0.5772156649015329, "0.5772156649015329"},
        {123.456, "123.456"},
        {1e15, "1000000000000000"},
        {1e16, "10000000000000000"},
        {1e20, "100000000000000000000"},
        {1.2345e16, "12345000000000000"},
        {9007199254740993.0, "9007199254740992"},  // not representable: rounds to 2^53
        {0.1 + 0.2, "0.30000000000000004"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formula_number(c.value), c.text) << "value " << c.value;
    }
}

TEST(DecimalText, FormulaLayoutOfExtremesReadsBack) {
    const double extremes[] = {
        std::numeric_limits<double>::max(),         std::numeric_limits<double>::lowest(),
        std::numeric_limits<double>::min(),         std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(),
    };
    for (double value : extremes) {
        const std::string text = formula_number(value);
        EXPECT_EQ(text.find('e'), std::string::npos) << text;
        EXPECT_TRUE(same_bits(read_back(text), value)) << text;
    }
    EXPECT_EQ(formula_number(std::numeric_limits<double>::max()).size(), 309u);
    EXPECT_EQ(formula_number(std::numeric_limits<double>::denorm_min()), "0." + std::string(323, '0') + "5");
}

// Checks every property of both layouts that can be stated without knowing the
// expected text: both read back bit for bit, the digits are minimal, the
// datasheet text switches to exponent form at exactly 1e16 and 1e-5, and it
// always holds a point or an 'e'.
void check_round_trip(double value) {
    const ShortestDigits d = shortest_digits(value);
    ASSERT_GE(d.count, 1) << value;
    ASSERT_FALSE(shorter_digits_read_back(d, value))
        << "digits not minimal for bits 0x" << std::hex << std::bit_cast<std::uint64_t>(value);

    const std::string json = json_number(value);
    ASSERT_TRUE(same_bits(read_back(json), value)) << json;
    const double magnitude = std::fabs(value);
    const bool exponent_form = magnitude != 0.0 && (magnitude >= 1e16 || magnitude < 1e-5);
    ASSERT_EQ(json.find('e') != std::string::npos, exponent_form) << json;
    ASSERT_NE(json.find_first_of(".e"), std::string::npos) << json;

    // The significant digits of the text are exactly the shortest digits: no
    // digit dropped or invented by the layout.
    std::string significant;
    for (char ch : json.substr(0, json.find('e'))) {
        if (ch >= '0' && ch <= '9' && !(significant.empty() && ch == '0')) {
            significant.push_back(ch);
        }
    }
    while (significant.size() > 1 && significant.back() == '0') {
        significant.pop_back();
    }
    if (value != 0.0) {
        ASSERT_EQ(significant, std::string_view(d.digits, static_cast<std::size_t>(d.count))) << json;
    }

    const std::string formula = formula_number(value);
    ASSERT_TRUE(same_bits(read_back(formula), value)) << formula;
    ASSERT_EQ(formula.find('e'), std::string::npos) << formula;
    ASSERT_EQ(formula.find('.') != std::string::npos, value != std::trunc(value)) << formula;
}

// The minimality oracle must be able to fail. 0.3 spelled with 17 digits reads
// back, but so does its truncation "3e-1". Seventeen nines after the point read
// back as 1.0 while their truncation does not; only the rounded-up candidate,
// where the carry runs through every digit, finds the shorter "1".
TEST(DecimalText, MinimalityOracleRejectsLongerSpellings) {
    ShortestDigits d;
    const std::string_view long_digits = "29999999999999999";
    long_digits.copy(d.digits, long_digits.size());
    d.count = static_cast<int>(long_digits.size());
    d.exponent = -1;
    ASSERT_TRUE(same_bits(read_back("2.9999999999999999e-1"), 0.3));
    EXPECT_TRUE(shorter_digits_read_back(d, 0.3));

    const std::string_view nines = "99999999999999999";
    nines.copy(d.digits, nines.size());
    d.count = static_cast<int>(nines.size());
    d.exponent = -1;
    ASSERT_TRUE(same_bits(read_back("9.9999999999999999e-1"), 1.0));
    EXPECT_TRUE(shorter_digits_read_back(d, 1.0));

    EXPECT_FALSE(shorter_digits_read_back(shortest_digits(0.3), 0.3));
}

TEST(DecimalText, RandomBitPatternsRoundTripWithMinimalDigits) {
    std::mt19937_64 rng(0x5eed'2024);
    int checked = 0;
    while (checked < 200'000) {
        const double value = std::bit_cast<double>(rng());
        if (!std::isfinite(value)) {
            continue;
        }
        check_round_trip(value);
        if (HasFatalFailure()) {
            return;
        }
        ++checked;
    }
}

// Random bits almost never land in the plain range or on short decimals;
// these do, and they exercise the plain layout's three shapes and the edges of
// the exponent switch.
TEST(DecimalText, ShortDecimalsNearTheLayoutSwitchRoundTrip) {
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<std::int64_t> mantissa(-99'999'999, 99'999'999);
    std::uniform_int_distribution<int> scale(-30, 30);
    for (int i = 0; i < 50'000; ++i) {
        const double value = static_cast<double>(mantissa(rng)) * std::pow(10.0, scale(rng));
        check_round_trip(value);
        if (HasFatalFailure()) {
            return;
        }
    }
    const double edges[] = {
        1e16, std::nextafter(1e16, 0.0), 1e-5, std::nextafter(1e-5, 0.0), std::nextafter(1e-5, 1.0), 1e15, 0.0,
        -0.0, 9007199254740992.0};
    for (double value : edges) {
        check_round_trip(value);
        check_round_trip(-value);
    }
}

TEST(DecimalText, NonFiniteValuesHaveNoDigitsButKeepTheirSign) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double value;
        bool negative;
    } cases[] = {{inf, false}, {-inf, true}, {nan, false}, {-nan, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const ShortestDigits d = shortest_digits(c.value);
        EXPECT_EQ(d.count, 0);
        EXPECT_EQ(d.negative, c.negative);
    }
}

}  // namespace
}  // namespace brenvalis::core
