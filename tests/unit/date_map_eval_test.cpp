// date!, map!, hash! and vector! through the evaluator with the actions
// of the boot sources: literals, set-paths, refinements of the actions and
// the operators reach the datatype modules as scripts use them.
#include <gtest/gtest.h>

#include <string>

#include "boot/boot.h"
#include "datatypes/actions.h"
#include "engine/eval.h"
#include "engine/natives.h"
#include "runtime/error_catalog.h"
#include "tests/unit/engine_fixture.h"
#include "tests/unit/literal_fixture.h"

using namespace vyr;
using namespace vyr::test;

namespace {

class BootedTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        actions::actions_init();
        natives::natives_init();
        lexer::lexer_init();
        eval::interp_init();
        // The boot sources whose evaluation needs no native, then the two
        // operators these tests use.
        boot::define_type_words();
        boot::bootstrap_make();
        for (uint32_t i = 0; i < boot::source_count; ++i) {
            std::string name = boot::sources[i].name;
            if (name.find("typesets") == std::string::npos && name.find("actions") == std::string::npos) continue;
            ASSERT_EQ(run_source(boot::sources[i]).rfind("error", 0), std::string::npos) << name;
        }
        ASSERT_EQ(run("+: make op! :add -: make op! :subtract 1 + 2 - 1"), "2");
        install_month_names({"January", "February", "March", "April", "May", "June", "July", "August",
                             "September", "October", "November", "December"});
    }
    // The mold of the code's last value, or "error <id>" for an error.
    static std::string run(const std::string& code) {
        return run_source(boot::Source{"case", code.data(), uint32_t(code.size())});
    }
    static std::string run_source(const boot::Source& source) {
        stack::Mark mark;
        std::string out;
        try {
            Cell* block = stack::push_copy(boot::load_source(source));
            if (eval::eval_block(frames::markers().body, *block, false) != Status::ok) return "status";
            Cell result = *stack::top_cell();
            out = molded_text(result, {});
        } catch (const Unwind&) {
            out = std::string("error ") + error_id_name(errors::last_error());
        }
        mark.restore();
        frames::set_frame_top(frames::bottom());
        return out;
    }
    static const char* error_id_name(const errors::ErrorRecord& e) {
        const error_catalog::Id* id = error_catalog::id(e.category, e.id);
        return id ? id->word : "?";
    }
};

TEST_F(BootedTest, DatesInScripts) {
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"d: 31-Dec-2024 d/julian", "366"},
        {"d: 1-Jan-2024/10:00+01:00 d/time", "10:00:00"},
        {"pick 1-Jan-2021 'isoweek", "53"},
        {"pick 1-Jan-2024 15", "error out-of-range"},
        {"31-Dec-2024 + 1", "1-Jan-2025"},
        {"2 + 30-Dec-2024", "1-Jan-2025"},
        {"1:00 + 1-Jan-2024", "1-Jan-2024/1:00:00"},
        {"2-Jan-2024/1:00 - 1-Jan-2024/2:00", "0"},
        {"1-Jan-2024 + 1-Jan-2024", "error not-related"},
        {"make date! [2024 1 15]", "15-Jan-2024"},
        {"make date! [31 2 2024]", "error bad-to-arg"},
        {"to date! [31 2 2024]", "2-Mar-2024"},
        {"to date! -1", "31-Dec-1969/23:59:59"},
        {"to integer! 2-Jan-1970/0:00:00.6", "86401"},
        {"to date! \"1-Jan-2024\"", "error bad-to-arg"},
        {"d: 1-Jan-2024 d/fortnight", "error invalid-path"},
        {"d: 1-Jan-2024 d/year: 1.5", "error invalid-arg"},
        {"d: 1-Jan-2024/10:00+01:00 d/zone: 2", "2"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.result) << c.code;
}

TEST_F(BootedTest, MapsInScripts) {
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"#[a 1 b 2]", "#[\n    a: 1\n    b: 2\n]"},
        {"mold/flat #[a 1 b 2]", "\"#[a: 1 b: 2]\""},
        {"make map! [a 1 b]", "error invalid-arg"},
        {"to map! 10", "error bad-to-arg"},
        {"m: #[a 1] m/a", "1"},
        {"m: #[a 1] k: [:a] select m k/1", "1"},
        {"m: #[a 1] find m 'a", "a"},
        {"m: #[a 1 b 2] remove/key m 'a length? m", "1"},
        {"m: #[a 1 b 2] remove m", "error missing-arg"},
        {"m: #[a 1 b 2] remove/key m 'a m/a: 3 m", "#[\n    a: 3\n    b: 2\n]"},
        {"m: #[\"abc\" 1] remove/key m \"ABC\" select m \"ABC\"", "1"},
        {"m: #[\"abc\" 1] select/case m \"ABC\"", "none"},
        {"m: make map! 4 put m 'k 1 m/k", "1"},
        {"m: #[] put m [1] 2", "error invalid-path"},
        {"m: #[a 1] m/b: 2 length? m", "2"},
        {"to block! #[a 1]", "[\n    a: 1\n]"},
        {"reflect #[a 1 b 2] 'words", "[a b]"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.result) << c.code;
}

TEST_F(BootedTest, HashesAndVectorsInScripts) {
    struct Case {
        const char* code;
        const char* result;
    } cases[] = {
        {"make hash! [a 1 b 2]", "make hash! [a 1 b 2]"},
        {"h: make hash! [a 1 b 2] select h 'b", "2"},
        {"h: make hash! [3 1 2] sort h find h 2", "make hash! [2 3]"},
        {"h: make hash! 0 append h [x 1] select h 'x", "1"},
        {"b: [a 1] h: make hash! b append b 'z h", "make hash! [a 1]"},
        {"make vector! [integer! 16 5 [1 2]]", "make vector! [integer! 16 [1 2 0 0 0]]"},
        {"v: make vector! [1 2 3] v + 1 v", "make vector! [2 3 4]"},
        {"v: make vector! [1 2 3] w: v + v v", "make vector! [1 2 3]"},
        {"v: make vector! [integer! 8 [200]] pick v 1", "-56"},
        {"v: make vector! [1 2] append v 3 v", "make vector! [1 2 3]"},
        {"v: make vector! [1 2] append v 1.5", "error invalid-arg"},
        {"make vector! [1.5 2]", "error invalid-arg"},
        {"to vector! [1 2]", "error expect-arg"},
        {"to block! make vector! [1 2]", "[1 2]"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.result) << c.code;
}

}  // namespace
