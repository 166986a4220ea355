#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

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

std::vector<std::string_view> names_of(NameListView list) { return {list.begin(), list.end()}; }

// The record's texts share one block, inside the record when short and one
// allocation otherwise; every case is checked as made, as copied, as moved
// and after its source is gone, so a copy that shared the block or a move
// that left it behind would show (under the sanitizers as a use after free).
// A case without a formula is made as a seed record.
TEST(ConstantRecord, TextsSurviveCopiesAndMoves) {
    const std::string long_name(300, 'x');  // a length prefix of two bytes
    const std::string edge(128, 'y');       // the first length needing two
    struct Case {
        std::string_view name;
        std::string_view units;
        std::optional<std::string_view> formula;
        std::vector<std::string_view> depends_on;
        bool owns_allocation;
    };
    const Case cases[] = {
        {"b3", "dimensionless", std::nullopt, {}, false},
        {"", "", std::nullopt, {}, false},
        {"n_gen_sq", "count", "n_gen * n_gen", {"n_gen"}, false},
        {"topo_gen_check", "count", "chi_eff / b3", {"chi_eff", "b3"}, false},
        {"sterile_check", "count", "roots_total - visible_sector", {"roots_total", "visible_sector"}, true},
        {"w0_central", "dimensionless", "-1", {}, false},
        // An empty formula is still a formula, and names may be empty or hold a NUL.
        {"e", "", "", {"", std::string_view("a\0b", 3)}, false},
        {long_name, edge, long_name, {long_name, edge, "last"}, true},
        // Either side of the inline room of 48 bytes. A block holds the name,
        // units and formula bytes, then a one-byte length and the bytes of
        // each name read (no terminators): 7 + 5 + 19 to 22 + 10 + 6 here.
        {"edge_47", "count", "left_term + right*2", {"left_term", "right"}, false},
        {"edge_48", "count", "left_term + right*20", {"left_term", "right"}, false},
        {"edge_49", "count", "left_term + right*200", {"left_term", "right"}, true},
        {"edge_50", "count", "left_term + right*2000", {"left_term", "right"}, true},
        {"inline_seed_of_48_bytes", "kilogram metre per second", std::nullopt, {}, false},
        {"heap_seed_of_49_bytes", "kilogram metres per second^2", std::nullopt, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20));
        const auto expect_texts = [&c](const ConstantRecord& r) {
            EXPECT_EQ(r.name(), c.name);
            EXPECT_EQ(r.units(), c.units);
            EXPECT_EQ(r.formula(), c.formula);
            EXPECT_EQ(names_of(r.depends_on()), c.depends_on);
            ASSERT_EQ(r.depends_on().size(), c.depends_on.size());
            for (std::size_t i = 0; i < c.depends_on.size(); ++i) {
                EXPECT_EQ(r.depends_on()[i], c.depends_on[i]);
            }
            EXPECT_EQ(r.owns_allocation(), c.owns_allocation);
            EXPECT_EQ(r.status, c.formula ? ConstantStatus::Pending : ConstantStatus::Seed);
            EXPECT_FALSE(r.uncertainty.has_value());
        };
        const ConstantRecord made = c.formula ? ConstantRecord::derived(c.name, *c.formula, c.units, c.depends_on)
                                              : ConstantRecord::seed(c.name, 24.0, c.units);
        expect_texts(made);

        std::optional<ConstantRecord> source(made);
        const ConstantRecord copy = *source;
        EXPECT_EQ(copy, made);
        ConstantRecord moved = std::move(*source);
        source.reset();
        expect_texts(copy);
        expect_texts(moved);

        ConstantRecord assigned = ConstantRecord::seed("other", 1.0, "count");
        assigned = copy;
        EXPECT_EQ(assigned, made);
        assigned = ConstantRecord::derived(long_name, long_name, long_name, {});  // replaces an allocation too
        assigned = std::move(moved);
        expect_texts(assigned);
    }
}

// Every field takes part in equality, and texts are compared by content, not
// by where they sit.
TEST(ConstantRecord, EqualityLooksAtEveryField) {
    const ConstantRecord base = ConstantRecord::derived("x", "y + 1", "MeV", {"y", "z"});
    ConstantRecord other_value = base;
    other_value.value = -0.5;
    ConstantRecord other_uncertainty = base;
    other_uncertainty.uncertainty = 0.0;
    ConstantRecord other_status = base;
    other_status.status = ConstantStatus::External;
    const ConstantRecord unequal[] = {
        ConstantRecord::derived("x2", "y + 1", "MeV", {"y", "z"}),
        ConstantRecord::derived("x", "y + 2", "MeV", {"y", "z"}),
        ConstantRecord::derived("x", "y + 1", "eV", {"y", "z"}),
        ConstantRecord::derived("x", "y + 1", "MeV", {"y"}),
        ConstantRecord::derived("x", "y + 1", "MeV", {"z", "y"}),
        ConstantRecord::derived("x", "y + 1", "MeV", {"yz"}),
        // The same bytes split differently between name and units.
        ConstantRecord::derived("xy", " + 1", "MeV", {"y", "z"}),
        ConstantRecord::seed("x", 0.0, "MeV"),
        other_value,
        other_uncertainty,
        other_status,
    };
    for (const ConstantRecord& record : unequal) {
        EXPECT_NE(record, base) << record.name() << " " << record.units();
    }
    EXPECT_EQ(ConstantRecord::derived("x", "y + 1", "MeV", {"y", "z"}), base);
    // A formula that is the text of a number equals the same text given as is.
    EXPECT_EQ(ConstantRecord::derived("v", FormulaNumber(246220.0), "MeV"),
              ConstantRecord::derived("v", "246220", "MeV", {}));
    EXPECT_NE(ConstantRecord::seed("s", 1.0, "count"), ConstantRecord::derived("s", "", "count", {}));
    EXPECT_FALSE(std::signbit(ConstantRecord::derived("p", "q", "count", {}).value));
}

TEST(ConstantStatus, Texts) {
    EXPECT_EQ(status_text(ConstantStatus::Seed), "Seed");
    EXPECT_EQ(status_text(ConstantStatus::Cached), "Cached");
    EXPECT_EQ(status_text(ConstantStatus::Pending), "Pending");
    EXPECT_EQ(status_text(ConstantStatus::External), "External");
}

}  // namespace
}  // namespace brenvalis::core
