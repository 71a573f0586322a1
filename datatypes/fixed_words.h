// The runtime's fixed words: the names the runtime refers to directly,
// interned at start-up (after the type-name words) into one global each.
//
//   sym_*   symbol ids (interned only)
//   word_*  words of the global context
//   ref_*   unbound refinements, kept in the root block
//   issue_ooo
//
// They are made in the order of the lists below, which is the order of the
// symbol ids they get. The word, refinement and issue globals are C++-owned
// cells registered with the collector as roots, so they stay valid when the
// collector renumbers nodes; copy them, do not keep their address across a
// start-up of a new heap.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

// X(name, text) for the symbols, in order.
#define VYR_FIXED_SYMBOLS(X)                                                                              \
    X(spec, "spec") X(body, "body") X(words, "words") X(class, "class") X(logic_t, "logic!")             \
    X(integer_t, "integer!") X(char_t, "char!") X(float_t, "float!") X(percent_t, "percent!")            \
    X(any_type_t, "any-type!") X(exit, "exit") X(return, "return")                                        \
    X(os_windows, "Windows") X(os_syllable, "Syllable") X(os_macos, "macOS") X(os_linux, "Linux")        \
    X(os_netbsd, "NetBSD") \
    X(repeat, "repeat") X(foreach, "foreach") X(map_each, "map-each") X(remove_each, "remove-each")       \
    X(any, "any") X(break, "break") X(copy, "copy") X(end, "end") X(fail, "fail") X(into, "into")         \
    X(opt, "opt") X(not, "not") X(quote, "quote") X(case, "case") X(reject, "reject") X(set, "set")       \
    X(skip, "skip") X(some, "some") X(thru, "thru") X(to, "to") X(none, "none") X(bar, "|") X(dash, "-")  \
    X(if, "if") X(remove, "remove") X(while, "while") X(insert, "insert") X(only, "only")                 \
    X(collect, "collect") X(keep, "keep") X(pick, "pick") X(ahead, "ahead") X(after, "after")             \
    X(x, "x") X(y, "y") X(z, "z")                                                                         \
    X(self, "self") X(values, "values") X(owner, "owner") X(owned, "owned") X(events_q, "events?")        \
    X(true, "true") X(false, "false") X(yes, "yes") X(no, "no") X(on, "on") X(off, "off")                 \
    X(type, "type") X(face, "face") X(window, "window") X(offset, "offset") X(key, "key")                 \
    X(flag, "flag") X(code, "code") X(picked, "picked") X(flags, "flags") X(away_q, "away?")              \
    X(ctrl_q, "ctrl?") X(shift_q, "shift?") X(down_q, "down?") X(mid_down_q, "mid-down?")                 \
    X(alt_down_q, "alt-down?") X(aux_down_q, "aux-down?") X(orientation, "orientation")                   \
    X(get, "get") X(put, "put") X(post, "post") X(head, "head") X(size, "size") X(rgb, "rgb")             \
    X(alpha, "alpha") X(argb, "argb") X(date, "date") X(year, "year") X(month, "month") X(day, "day")     \
    X(zone, "zone") X(isoweek, "isoweek") X(week, "week") X(weekday, "weekday") X(yearday, "yearday")     \
    X(julian, "julian") X(time, "time") X(hour, "hour") X(minute, "minute") X(second, "second")           \
    X(timezone, "timezone") X(amount, "amount") X(user, "user") X(host, "host")                           \
    X(system, "system") X(system_global, "system-global") X(stack, "stack") X(trace, "trace")             \
    X(no_trace, "no-trace")

// X(name, symbol name) for the words made from those symbols, in order.
#define VYR_FIXED_SYMBOL_WORDS(X)                                                                          \
    X(os_windows, os_windows) X(os_syllable, os_syllable) X(os_macos, os_macos) X(os_linux, os_linux)   \
    X(os_netbsd, os_netbsd)           \
    X(to, to) X(thru, thru) X(not, not) X(remove, remove) X(while, while) X(collect, collect)              \
    X(keep, keep) X(ahead, ahead) X(bar, bar) X(any, any) X(some, some) X(copy, copy) X(opt, opt)         \
    X(into, into) X(insert, insert) X(if, if) X(quote, quote) X(set, set) X(case, case) X(end, end)

// X(name, text) for the words made from texts, in order.
#define VYR_FIXED_TEXT_WORDS(X)                                                                           \
    X(at, "at") X(back, "back") X(find, "find") X(head, "head") X(head_q, "head?") X(index_q, "index?")  \
    X(length_q, "length?") X(next, "next") X(pick, "pick") X(skip, "skip") X(select, "select")           \
    X(tail, "tail") X(tail_q, "tail?") X(change, "change") X(changed, "changed") X(clear, "clear")       \
    X(cleared, "cleared") X(set_path, "set-path") X(append, "append") X(appended, "appended")            \
    X(move, "move") X(moved, "moved") X(poke, "poke") X(poked, "poked") X(put, "put") X(put_ed, "put-ed") \
    X(removed, "removed") X(random, "random") X(randomized, "randomized") X(reverse, "reverse")           \
    X(reversed, "reversed") X(sort, "sort") X(sorted, "sorted") X(swap, "swap") X(swaped, "swaped")      \
    X(take, "take") X(taken, "taken") X(trim, "trim") X(trimmed, "trimmed") X(inserted, "inserted")      \
    X(uppercase, "uppercase") X(lowercase, "lowercase") X(checksum, "checksum")                           \
    X(push, "push") X(pop, "pop") X(fetch, "fetch") X(match, "match") X(iterate, "iterate")              \
    X(paren, "paren")                                                                                     \
    X(anon_marker, "<anon>") X(body_marker, "<body>") X(not_found_marker, "<not-found>")                 \
    X(add, "add") X(subtract, "subtract") X(divide, "divide") X(multiply, "multiply")                     \
    X(on_parse_event, "on-parse-event") X(on_change_star, "on-change*")                                   \
    X(on_deep_change_star, "on-deep-change*")                                                             \
    X(type, "type") X(id, "id") X(try, "try") X(catch, "catch") X(name, "name") X(browse, "browse")     \
    X(open, "open") X(create, "create") X(close, "close") X(delete, "delete") X(modify, "modify")         \
    X(query, "query") X(read, "read") X(rename, "rename") X(update, "update") X(write, "write")           \
    X(prescan, "prescan") X(scan, "scan") X(load, "load") X(error, "error") X(comment, "comment")        \
    X(init, "init") X(exec, "exec") X(call, "call") X(return, "return") X(enter, "enter") X(exit, "exit") \
    X(prolog, "prolog") X(epilog, "epilog") X(throw, "throw") X(expr, "expr")                             \
    X(interp_callback, "<interp-callback>") X(lexer_callback, "<lexer-callback>")                         \
    X(parse_callback, "<parse-callback>") X(compare_callback, "<compare-callback>")                       \
    X(cat_throw, "throw") X(cat_note, "note") X(cat_syntax, "syntax") X(cat_script, "script")             \
    X(cat_math, "math") X(cat_access, "access") X(cat_user, "user") X(cat_internal, "internal")           \
    X(invalid_error, "invalid-error") X(local, "local") X(applied, "<applied>")

// X(name, text) for the refinements, in order.
#define VYR_FIXED_REFINEMENTS(X) \
    X(local, "local") X(extern, "extern") X(compare, "compare") X(part, "part") X(skip, "skip") X(with, "with")

namespace vyr::fixed {

#define VYR_DECLARE_SYMBOL(name, text) extern int32_t sym_##name;
#define VYR_DECLARE_WORD(name, from) extern Cell word_##name;
#define VYR_DECLARE_REFINEMENT(name, text) extern Cell ref_##name;
VYR_FIXED_SYMBOLS(VYR_DECLARE_SYMBOL)
VYR_FIXED_SYMBOL_WORDS(VYR_DECLARE_WORD)
VYR_FIXED_TEXT_WORDS(VYR_DECLARE_WORD)
VYR_FIXED_REFINEMENTS(VYR_DECLARE_REFINEMENT)
#undef VYR_DECLARE_SYMBOL
#undef VYR_DECLARE_WORD
#undef VYR_DECLARE_REFINEMENT
extern Cell issue_ooo;

// Interns them all, in order (start-up step `fixed_words`).
void make_fixed_words();

}  // namespace vyr::fixed
