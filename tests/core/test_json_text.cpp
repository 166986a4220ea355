#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <string_view>

#include "core/constant_record.hpp"
#include "pyfacade/json_text.hpp"

namespace brenvalis::pyfacade {
namespace {

using core::ConstantRecord;
using core::ConstantStatus;

std::string json_string(std::string_view s) {
    std::string out;
    append_json_string(out, s);
    return out;
}

std::string json_number(double value) {
    std::string out;
    append_json_number(out, value);
    return out;
}

std::string datasheet(const ConstantRecord& record) {
    std::string out;
    write_datasheet(out, record);
    return out;
}

TEST(JsonText, StringEscaping) {
    using namespace std::string_view_literals;
    struct Case {
        std::string_view input;
        std::string_view text;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"b3", R"("b3")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"a\\b", R"("a\\b")"},
        {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {"\x01", R"("\u0001")"},
        {"\x0b", R"("\u000b")"},
        {"\x1f", R"("\u001f")"},
        {"nul\0in"sv, R"("nul\u0000in")"},
        {"\0"sv, R"("\u0000")"},
        {"\x7f", "\"\x7f\""},
        {"km/s/Mpc", R"("km/s/Mpc")"},
        {"\xce\xbc_\xe2\x82\xac", "\"\xce\xbc_\xe2\x82\xac\""},  // non-ASCII bytes as they are
        {"\xff\x80", "\"\xff\x80\""},                            // even bytes that are not UTF-8
        {" ~", R"(" ~")"},
        {"x\"\\\n\x1ey", R"("x\"\\\n\u001ey")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(json_string(c.input), c.text);
    }
    // Text is written into room reserved for its longest form, six bytes a
    // byte: the worst case must fit exactly, after text already there.
    std::string worst = "prefix";
    append_json_string(worst, std::string(40, '\x01'));
    std::string expected = "prefix\"";
    for (int i = 0; i < 40; ++i) {
        expected += "\\u0001";
    }
    EXPECT_EQ(worst, expected + "\"");
}

TEST(JsonText, NumberLayout) {
    struct Case {
        double value;
        std::string_view text;
    };
    const Case cases[] = {
        {24.0, "24.0"},
        {1e15, "1000000000000000.0"},
        {1776.86, "1776.86"},
        {0.00001, "0.00001"},
        {1e16, "1e+16"},
        {1.5e-7, "1.5e-7"},
        {1e-6, "1e-6"},
        {-0.0, "-0.0"},
        {0.0, "0.0"},
        {123456.789e10, "1234567890000000.0"},
        {1.2345e16, "1.2345e+16"},
        {5e-324, "5e-324"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {-1.7976931348623157e308, "-1.7976931348623157e+308"},
        {9999999999999998.0, "9999999999999998.0"},  // largest double below 1e16
        {1.2345e-5, "0.000012345"},
        {-9.87654321e-5, "-0.0000987654321"},
        {-9.87654321e-6, "-9.87654321e-6"},
        {2.2250738585072014e-308, "2.2250738585072014e-308"},
        {1e100, "1e+100"},
        {-1.5, "-1.5"},
        {1.618033988749895, "1.618033988749895"},
        {0.5772156649015329, "0.5772156649015329"},
        {123456789012345.6, "123456789012345.6"},
        {std::numeric_limits<double>::quiet_NaN(), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(json_number(c.value), c.text) << "value " << c.value;
    }
}

TEST(JsonText, BuiltInSeedDatasheet) {
    const std::string text = datasheet(ConstantRecord::seed("b3", 24.0, "dimensionless"));
    EXPECT_EQ(text, R"({"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0})");
    EXPECT_EQ(text.size(), 85u);
}

TEST(JsonText, DatasheetFields) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();

    ConstantRecord pending = ConstantRecord::derived("topo_gen_check", "chi_eff / b3", "count", {"chi_eff", "b3"});

    ConstantRecord measured = ConstantRecord::seed("m_tau_mev", 1776.86, "MeV");
    measured.uncertainty = 0.12;
    measured.status = ConstantStatus::External;

    ConstantRecord tiny = ConstantRecord::seed("tiny", -1.5e-7, "");
    tiny.uncertainty = 1e16;
    tiny.status = ConstantStatus::Cached;

    ConstantRecord nan_value = ConstantRecord::seed("n", nan, "count");
    nan_value.uncertainty = inf;

    ConstantRecord inf_value = ConstantRecord::seed("i", -inf, "count");
    inf_value.uncertainty = -nan;

    ConstantRecord quoted = ConstantRecord::seed("a\"b\\c", 0.0, "m\n/s");
    quoted.uncertainty = -0.0;

    // Every byte of the texts escaped, and both numbers at their longest.
    ConstantRecord longest =
        ConstantRecord::seed(std::string(20, '\x1f'), -2.2250738585072014e-308, std::string(20, '"'));
    longest.uncertainty = -1.7976931348623157e308;
    std::string longest_text = R"({"name":")";
    for (int i = 0; i < 20; ++i) {
        longest_text += R"(\u001f)";
    }
    longest_text += R"(","status":"Seed","uncertainty":-1.7976931348623157e+308,"units":")";
    for (int i = 0; i < 20; ++i) {
        longest_text += R"(\")";
    }
    longest_text += R"(","value":-2.2250738585072014e-308})";

    struct Case {
        const ConstantRecord& record;
        std::string_view text;
    };
    const Case cases[] = {
        {pending, R"({"name":"topo_gen_check","status":"Pending","uncertainty":null,"units":"count","value":0.0})"},
        {measured, R"({"name":"m_tau_mev","status":"External","uncertainty":0.12,"units":"MeV","value":1776.86})"},
        {tiny, R"({"name":"tiny","status":"Cached","uncertainty":1e+16,"units":"","value":-1.5e-7})"},
        {nan_value, R"({"name":"n","status":"Seed","uncertainty":null,"units":"count","value":null})"},
        {inf_value, R"({"name":"i","status":"Seed","uncertainty":null,"units":"count","value":null})"},
        {quoted, R"({"name":"a\"b\\c","status":"Seed","uncertainty":-0.0,"units":"m\n/s","value":0.0})"},
        {longest, longest_text},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(datasheet(c.record), c.text);
    }
}

TEST(JsonText, DatasheetAppendsAfterExistingText) {
    std::string out = "prefix";
    write_datasheet(out, ConstantRecord::seed("n_gen", 3.0, "count"));
    EXPECT_EQ(out, R"(prefix{"name":"n_gen","status":"Seed","uncertainty":null,"units":"count","value":3.0})");
}

}  // namespace
}  // namespace brenvalis::pyfacade
