#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <system_error>

#include "core/constant_record.hpp"
#include "core/registry_error.hpp"

namespace brenvalis::core {
namespace {

TEST(RegistryError, MessagesCarryTheirTextsUnchanged) {
    struct Case {
        RegistryError error;
        RegistryError::Kind kind;
        std::string message;
    };
    const Case cases[] = {
        {RegistryError::not_found("w1"), RegistryError::Kind::NotFound, "constant `w1` not found in registry"},
        {RegistryError::not_found(""), RegistryError::Kind::NotFound, "constant `` not found in registry"},
        {RegistryError::not_found("a`b"), RegistryError::Kind::NotFound, "constant `a`b` not found in registry"},
        {RegistryError::not_found("line\nbreak"), RegistryError::Kind::NotFound,
         "constant `line\nbreak` not found in registry"},
        {RegistryError::not_found("\xce\xbc_\xe2\x82\xac"), RegistryError::Kind::NotFound,
         "constant `\xce\xbc_\xe2\x82\xac` not found in registry"},
        {RegistryError::not_found(std::string("nul\0in", 6)), RegistryError::Kind::NotFound,
         std::string("constant `nul\0in` not found in registry", 39)},
        {RegistryError::derivation_not_implemented("x"), RegistryError::Kind::DerivationNotImplemented,
         "derivation of `x` is not yet implemented in tolvane_core"},
        {RegistryError::load_failed("/tmp/c.json", std::make_error_code(std::errc::no_such_file_or_directory)),
         RegistryError::Kind::LoadFailed,
         "failed to load constants from `/tmp/c.json`: " +
             std::make_error_code(std::errc::no_such_file_or_directory).message()},
        {RegistryError::invalid_schema(""), RegistryError::Kind::InvalidSchema, "invalid JSON schema in ``"},
        {RegistryError::cyclic_derivation("a"), RegistryError::Kind::CyclicDerivation,
         "cyclic derivation involving `a`"},
        {RegistryError::expression_parse("chi_eff / ", "unexpected end"), RegistryError::Kind::ExpressionParse,
         "expression parse error in `chi_eff / `: unexpected end"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.kind(), c.kind);
        EXPECT_EQ(c.error.message(), c.message);
    }
}

TEST(RegistryError, KindCodesFollowDeclarationOrder) {
    EXPECT_EQ(static_cast<int>(RegistryError::not_found("a").kind()), 0);
    EXPECT_EQ(static_cast<int>(RegistryError::derivation_not_implemented("a").kind()), 1);
    EXPECT_EQ(static_cast<int>(RegistryError::load_failed("a", {}).kind()), 2);
    EXPECT_EQ(static_cast<int>(RegistryError::invalid_schema("a").kind()), 3);
    EXPECT_EQ(static_cast<int>(RegistryError::cyclic_derivation("a").kind()), 4);
    EXPECT_EQ(static_cast<int>(RegistryError::expression_parse("a", "b").kind()), 5);
}

TEST(RegistryError, AppendMessageAddsToWhatIsThere) {
    std::string out = "prefix: ";
    RegistryError::not_found("b3").append_message(out);
    EXPECT_EQ(out, "prefix: constant `b3` not found in registry");
}

TEST(ConstantRecord, ConstructorsAndDeepCopies) {
    const ConstantRecord seed = ConstantRecord::seed("b3", 24.0, "dimensionless");
    EXPECT_EQ(seed.name, "b3");
    EXPECT_EQ(seed.value, 24.0);
    EXPECT_EQ(seed.units, "dimensionless");
    EXPECT_FALSE(seed.uncertainty.has_value());
    EXPECT_EQ(seed.status, ConstantStatus::Seed);
    EXPECT_FALSE(seed.formula.has_value());
    EXPECT_TRUE(seed.depends_on.empty());

    ConstantRecord derived = ConstantRecord::derived("topo_gen_check", "chi_eff / b3", "count", {"chi_eff", "b3"});
    EXPECT_EQ(derived.status, ConstantStatus::Pending);
    EXPECT_FALSE(std::signbit(derived.value));
    EXPECT_EQ(derived.value, 0.0);
    EXPECT_EQ(derived.formula, "chi_eff / b3");
    EXPECT_EQ(derived.depends_on, (NameList{"chi_eff", "b3"}));
    EXPECT_EQ(derived.depends_on.size(), 2u);
    EXPECT_EQ(derived.depends_on[0], "chi_eff");
    EXPECT_EQ(derived.depends_on[1], "b3");

    ConstantRecord copy = derived;
    copy.depends_on.push_back("changed");
    copy.formula->append(" + 1");
    EXPECT_EQ(derived.depends_on, (NameList{"chi_eff", "b3"}));
    EXPECT_EQ(derived.formula, "chi_eff / b3");

    // Names of any length and content keep their bytes and their order: the
    // lengths are stored in base 128, so 127, 128 and 300 bytes take one,
    // two and two length bytes, and an empty name or a NUL is a name too.
    const std::string long_name(300, 'x');
    const std::string edge(128, 'y');
    const NameList names{"", std::string_view("a\0b", 3), long_name, std::string(127, 'z'), edge, "last"};
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(names[0], "");
    EXPECT_EQ(names[1], std::string_view("a\0b", 3));
    EXPECT_EQ(names[2], long_name);
    EXPECT_EQ(names[3], std::string(127, 'z'));
    EXPECT_EQ(names[4], edge);
    EXPECT_EQ(names[5], "last");
    EXPECT_NE(names, (NameList{"", std::string_view("a\0b", 3), long_name, std::string(127, 'z'), edge}));
}

TEST(ConstantStatus, Texts) {
    EXPECT_EQ(status_text(ConstantStatus::Seed), "Seed");
    EXPECT_EQ(status_text(ConstantStatus::Cached), "Cached");
    EXPECT_EQ(status_text(ConstantStatus::Pending), "Pending");
    EXPECT_EQ(status_text(ConstantStatus::External), "External");
}

}  // namespace
}  // namespace brenvalis::core
