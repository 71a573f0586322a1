// The system natives: the clock (`now`, `wait`), child processes and the
// desktop (`call`, `browse`), environment variables (`get-env`, `set-env`,
// `list-env`), files (`size?`, `to-local-file`) and the memory manager
// (`recycle`, `stats`).
//
// Host failures are answered as values (none from get-env and size?, -1
// from call) or not reported (browse, set-env); only refused arguments
// raise errors.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/text_codec.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/eval.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "engine/natives_io.h"
#include "runtime/stack.h"
#include "io/clock.h"
#include "io/environment.h"
#include "io/files.h"
#include "io/process.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/platform.h"

namespace vyr::natives {

namespace {

// integer!, or float! for a count beyond the integer range.
Cell count_value(double n) {
    Cell c;
    if (n <= double(INT32_MAX))
        integer_t::make_at(&c, int32_t(n));
    else
        float_t::make_at(&c, n);
    return c;
}

// The UTF-8 text a name argument stands for: a text from its index, or the
// spelling of a word's symbol.
std::string name_text(const Cell& var) {
    if (string_t::string_like_q(type_of(var))) return file_t::to_local_path(var);
    return std::string(symbol_t::name(int32_t(var.w2)));
}

// A new string! of external UTF-8 text.
Cell external_text(const char* text, size_t length) {
    Cell s;
    string_t::make_at(s, uint32_t(length));
    text_codec::append_utf8_lenient(s.w2, reinterpret_cast<const uint8_t*>(text), length, false);
    return s;
}

// ---- The clock ---------------------------------------------------------------------

enum NowRef { n_year, n_month, n_day, n_time, n_zone, n_date, n_weekday, n_yearday, n_precise, n_utc, n_count };

}  // namespace

// ---- now, wait --------------------------------------------------------------------------------

// The current date (local, with the host's zone; UTC with /utc), or one
// field of it. Two or more selections are refused, except that with both
// /time and /precise anything goes (the first selection in the order year,
// month, day, zone, time, weekday, yearday wins).
Status now(bool, const int32_t* refs) {
    auto used = [&](NowRef r) { return refs[r] >= 0; };
    int selections = 0;
    for (int r = n_year; r < n_utc; ++r) selections += used(NowRef(r));
    if (selections >= 2 && !(used(n_time) && used(n_precise)))
        raise_error(err_cat::script, err_id::script::bad_refines);

    // The platform's packed date has the date! layout, without the has-time flag.
    auto d = int32_t(clock::date_now(used(n_utc)));
    double time = 0.0;
    if (!used(n_date)) {
        // The clock gives seconds since the UTC midnight, while the date is
        // the local one, which may already (or still) be another day: the
        // local time of day is taken from the clock and stored back as UTC
        // counted from the local date's midnight.
        double zone = date_t::zone_seconds(date_t::zone_of(d));
        double local = std::fmod(clock::time_of_day(used(n_precise)) + zone, date_t::seconds_per_day);
        if (local < 0.0) local += date_t::seconds_per_day;
        time = local - zone;
        d = int32_t(uint32_t(d) | date_t::packed::has_time);
    }
    Cell date = *date_t::push(d, time);
    Cell result;
    struct Selection {
        NowRef ref;
        int32_t field;
    };
    for (Selection sel : {Selection{n_year, date_t::field_year}, Selection{n_month, date_t::field_month},
                          Selection{n_day, date_t::field_day}, Selection{n_zone, date_t::field_zone},
                          Selection{n_time, date_t::field_time}, Selection{n_weekday, date_t::field_weekday}}) {
        if (used(sel.ref)) return answer(*date_t::get_field(&result, date, sel.field));
    }
    if (used(n_yearday)) return answer(Cell{type_integer, 0, uint32_t(date_t::yearday(d)), 0});
    if (used(n_date)) date.w1 = uint32_t(d) & ~(date_t::packed::has_time | date_t::packed::zone_mask);
    return answer(date);
}

// Sleeps for an integer! of seconds, or a float! or time! of seconds (at
// least a millisecond). The answer is none; /all has no effect.
Status wait(bool, const int32_t*) {
    const Cell& v = arg(0);
    double seconds;
    switch (type_of(v)) {
        case type_integer: seconds = integer_t::get(v); break;
        case type_float:
        case type_time: seconds = cell_float(v); break;
        default: raise_error(err_cat::script, err_id::script::invalid_arg, &v);
    }
    arg(0) = none_t::value;
    clock::sleep_seconds(seconds);
    return answer(none_t::value);
}

// ---- call, browse ------------------------------------------------------------------------------

namespace {
enum CallRef { c_wait, c_show, c_console, c_shell, c_input, c_output, c_error };

// The redirect of a /input, /output or /error argument: a file! by its
// path, a string! or binary! by its bytes (the input sent; for output, to be
// filled).
process::Redirect redirect_of(int32_t position, bool input) {
    process::Redirect r;
    if (position < 0) return r;
    Cell& v = arg(position);
    if (type_of(v) == type_file) {
        r.kind = process::Redirect::file;
        r.path = file_t::to_local_path(v);
        return r;
    }
    r.kind = process::Redirect::data;
    if (input) {
        natives_io::ByteView b = natives_io::value_bytes(v);
        r.bytes.assign(b.data, b.data + b.size);
    }
    return r;
}

// Inserts the bytes at the binary's index.
void insert_bytes(const Cell& binary, const uint8_t* p, size_t n) {
    NodeId node = binary.w2;
    memory::SeriesBuffer* b = memory::buffer_of(node);
    uint32_t used = b->used();
    uint32_t at = std::min(binary.w1, used);
    uint64_t need = uint64_t(used) + n;
    if (need > memory::max_series_bytes) raise_error(err_cat::internal, err_id::internal::no_memory);
    if (b->head + need > b->capacity) {
        uint64_t size = std::min<uint64_t>(std::max<uint64_t>(need, 2ull * b->capacity), memory::max_series_bytes);
        b = memory::expand_series(node, uint32_t(size));
    }
    std::memmove(b->head_ptr() + at + n, b->head_ptr() + at, used - at);
    std::memcpy(b->head_ptr() + at, p, n);
    b->tail += uint32_t(n);
}

// Captured bytes go into a binary! at its index, or onto a string!'s tail.
void store_output(int32_t position, const process::Redirect& r) {
    if (r.kind != process::Redirect::data || r.bytes.empty()) return;
    const Cell& v = arg(position);
    if (type_of(v) == type_binary)
        insert_bytes(v, r.bytes.data(), r.bytes.size());
    else
        text_codec::append_utf8_lenient(v.w2, r.bytes.data(), r.bytes.size(), true);
}
}  // namespace

// Runs a command as a child process: 0 for a command with no characters,
// else the exit status (when waiting), the process id, or -1.
Status call(bool, const int32_t* refs) {
    Cell cmd = arg(0);
    if (string_t::length_at(cmd) == 0) return answer_integer(0);
    std::string command = file_t::to_local_path(cmd);
    process::Flags flags{used(refs, c_wait), used(refs, c_show), used(refs, c_console), used(refs, c_shell)};
    process::Redirect in = redirect_of(refs[c_input], true);
    process::Redirect out = redirect_of(refs[c_output], false);
    process::Redirect err = redirect_of(refs[c_error], false);
    int32_t code = process::run(command, flags, in, out, err);
    store_output(refs[c_output], out);
    store_output(refs[c_error], err);
    return answer_integer(code);
}

// Opens a url or a file with the desktop's handler; failures are not reported.
Status browse(bool, const int32_t*) {
    process::open_with_desktop(file_t::to_local_path(arg(0)));
    return answer(unset_t::value);
}

// ---- Environment ---------------------------------------------------------------------------------

// The variable's value as a string!, or none when it is not set or empty.
Status get_env(bool, const int32_t*) {
    std::string name = name_text(arg(0));
    std::string value;
    if (!environment::get(name, value) || value.empty()) return answer(none_t::value);
    return answer(external_text(value.data(), value.size()));
}

// Sets the variable to the string!, or removes it for none. The answer is
// the value argument.
Status set_env(bool, const int32_t*) {
    std::string name = name_text(arg(0));
    if (type_of(arg(1)) == type_none) {
        environment::set(name, nullptr);
    } else {
        std::string value = file_t::to_local_path(arg(1));
        environment::set(name, &value);
    }
    return answer(arg(1));
}

// Every variable as a map! of name -> value strings. The name ends at the
// first "=" that is not its first character.
Status list_env(bool, const int32_t*) {
    Cell* pairs = block_t::push_new(100);
    for (const auto& [key, text] : environment::list()) {
        Cell name = external_text(key.data(), key.size());
        block_t::append_value(*pairs, name);
        Cell value = external_text(text.data(), text.size());
        block_t::append_value(*pairs, value);
    }
    Cell* proto = stack::push_copy(datatype_t::value_of(type_map));
    Cell* made = actions::make(proto, pairs);
    return answer(*made);
}

// ---- Files ---------------------------------------------------------------------------------------

// The size of the file in bytes (a float! from 2 GiB on), or none for a
// directory, a directory name, or a file that cannot be opened.
Status size_q(bool, const int32_t*) {
    const Cell& file = arg(0);
    if (file_t::dir_name_q(file)) return answer(none_t::value);
    int64_t size = files::size_of(file_t::to_local_path(file));
    if (size < 0) return answer(none_t::value);
    return answer(count_value(double(size)));
}

// The platform form of the path in a new string! (on this platform the
// POSIX path itself); with /full a relative path gets the current directory
// in front.
Status to_local_file(bool, const int32_t* refs) {
    Cell out;
    string_t::make_at(out, string_t::buffer_length(arg(0)) + 1);
    Cell* kept = stack::push_copy(out);
    file_t::to_local_text(arg(0), *kept, refs[0] >= 0);
    return answer(*kept);
}

// ---- Memory ---------------------------------------------------------------------------------------

namespace {
enum StatsRef { s_show, s_info };
enum RecycleRef { r_on, r_off };

Cell memory_in_use() { return count_value(collector::memory_in_use()); }
}  // namespace

// The memory in use (integer!, float! beyond the integer range); /info the
// detailed block; /show prints that block through the library's
// show-memory-stats.
Status stats(bool, const int32_t* refs) {
    if (refs[s_show] < 0 && refs[s_info] < 0) return answer(memory_in_use());
    Cell* info = block_t::push_new(5);
    collector::memory_stats_block(info->w2);
    if (refs[s_show] < 0) return answer(*info);

    int32_t symbol = symbol_t::make("show-memory-stats");
    Cell name{type_word, 0, uint32_t(symbol), word_t::unresolved};
    Cell* fn = context_t::global_symbol_value(symbol);
    // A script that unset or replaced the report function is told so, as a
    // call of the word itself would tell it.
    if (!fn || type_of(*fn) == type_unset) raise_error(err_cat::script, err_id::script::no_value, &name);
    if (type_of(*fn) != type_function) raise_error(err_cat::script, err_id::script::invalid_arg, fn);
    Cell* show = stack::push_copy(*fn);  // rooted for the call
    Cell* args = stack::push_copy(*info);
    Cell ignored;
    Status s = eval::call_value(*show, args, 1, name, ignored);
    if (s != Status::ok) return s;
    return answer(unset_t::value);
}

// /on and /off switch collection on and off; without them one collection
// cycle runs and the answer is the memory in use afterwards.
Status recycle(bool, const int32_t* refs) {
    if (refs[r_on] >= 0 || refs[r_off] >= 0) {
        collector::set_enabled(refs[r_off] < 0);
        return answer(unset_t::value);
    }
    collector::recycle();
    return answer(memory_in_use());
}

}  // namespace vyr::natives
