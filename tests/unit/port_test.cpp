// port!: the action layer takes a handle! actor's native table; an object!
// actor gets the port and the action's arguments through its function of
// the action's name.
#include <gtest/gtest.h>

#include "datatypes/actions.h"
#include "datatypes/handle.h"
#include "datatypes/port.h"
#include "tests/unit/object_fixture.h"

namespace vyr {
namespace {

Cell* native_query(Cell* target) {
    *target = Cell{type_integer, 0, 7, 0};
    return target;
}

class PortTest : public test::ObjectTest {
protected:
    // An object with the port's fields, its actor given, typed port!.
    Cell port_with(const Cell& actor) {
        Cell name = word_t::make_global("the-actor");
        word_t::set(name, actor);
        Cell spec = test::block_of({test::set_word_of("spec"), test::none_cell(), test::set_word_of("scheme"),
                                    test::none_cell(),
                                    test::set_word_of("actor"), test::word_of("the-actor")});
        Cell port = make_object(spec);
        set_type(port, type_port);
        return port;
    }
};

TEST_F(PortTest, AHandleActorAnswersFromItsNativeTable) {
    static port_t::NativeActor table = {};
    table[registry::slot_query - port_t::first_actor_slot] = reinterpret_cast<registry::ActionFn>(native_query);
    uint32_t id = port_t::register_native_actor(table);
    Cell port = port_with(handle_t::cell_of(id, handle_t::kind_null));
    Cell p = port;
    EXPECT_EQ(actions::query(&p)->w2, 7u);
    p = port;
    EXPECT_RAISES(actions::close(&p), err_cat::access, err_id::access::no_port_action);
    p = port;  // actions below append are the port's own: random is not one
    EXPECT_RAISES(actions::random(&p, false, false, false), err_cat::script, err_id::script::expect_arg);
}

TEST_F(PortTest, AnObjectActorGetsThePortAndTheArguments) {
    Cell close_fn = word_t::make_global("close-fn"), pick_fn = word_t::make_global("pick-fn");
    word_t::set(close_fn, handler({test::word_of("port")}));
    word_t::set(pick_fn, handler({test::word_of("port"), test::word_of("index")}));
    Cell actor = make_object(test::block_of({test::set_word_of("close"), test::word_of("close-fn"),
                                             test::set_word_of("pick"), test::word_of("pick-fn")}));
    Cell port = port_with(actor);
    Cell p = port;
    actions::close(&p);
    Cell q = port;
    actions::pick(&q, 3, nullptr);
    ASSERT_EQ(test::recorded_calls().size(), 2u);
    const test::RecordedCall& close = test::recorded_calls()[0];
    EXPECT_EQ(close.name.w2, word_t::make_global("close").w2);
    EXPECT_EQ(close.object, actor.w1);
    ASSERT_EQ(close.args.size(), 1u);
    EXPECT_EQ(close.args[0].w1, port.w1);
    const test::RecordedCall& pick = test::recorded_calls()[1];
    ASSERT_EQ(pick.args.size(), 2u);
    EXPECT_EQ(pick.args[1].w2, 3u);
    p = port;
    EXPECT_RAISES(actions::query(&p), err_cat::access, err_id::access::no_port_action);
}

}  // namespace
}  // namespace vyr
