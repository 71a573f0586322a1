// The error record, error reports and the raiser that `raise_error`
// (runtime/errors.h) calls.
//
// Every language error is raised through `raise_error`, named by two
// positions in the error catalog (runtime/error_catalog.h): the category
// (err_cat::script) and the id within it (err_id::script::no_value), with up
// to three argument values. Its code is category x 100 + (id - 2).
//
// Raising records the error in the one ErrorRecord of the process (its
// argument cells copied into storage the collector treats as a root), then
// the engine's unwinding (datatypes/unwind.h) adds what the call frames know and
// throws Unwind{catch_code::error}. A catch site reads the record; an error
// that no site catches reaches the entry frame, which prints its report and
// ends the process with status -2.
//
// Once the error catalog objects exist (datatypes/error.h), raising also
// makes the error! value, which the record carries: catch sites hand it to
// the language, and the report is that value's own form. Before then (early
// start-up, a heap being torn down) the record alone stands for the error
// and the report is written from it; both give the same text.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/error_catalog.h"
#include "runtime/errors.h"

namespace vyr {

namespace errors {

struct ErrorRecord {
    int32_t code = 0;  // category x 100 + (id - 2)
    int category = 0;  // position in the catalog
    int id = 0;        // position in the category (2 for the first id)
    Cell args[3]{};    // arg1, arg2, arg3; none! when not given
    Cell where{};      // the word of the function that raised it; none! until call frames record it
    Cell near{};       // where the evaluator was; none! until the evaluator records it
    Cell value{};      // the error! value; none! when it could not be made
};

// The error most recently raised (or printed by print_error).
const ErrorRecord& last_error();
// Stores the value in the error's `where` when it is still none! (the
// unwinding names the calling function so).
void set_where(const Cell& value);
// The cell whose copy every new error takes as its `near` (the evaluator's
// current position); null: none.
void set_near_source(const Cell* source);
// Drops the record's references (its cells become none!), so that it keeps
// no series alive; catch sites call it once they have taken the error.
void clear_last_error();

// The first line of the error's report: "*** Script Error: " and the message
// template filled with the arguments, each formed (syntax errors) or molded
// flat, cut at 80 characters. UTF-8.
std::string message_line(const ErrorRecord& error);
// The whole report as `print` shows an error: the message line, then the
// "*** Where: " and "*** Near : " lines. UTF-8, without a final line end.
std::string report(const ErrorRecord& error);

// The words of an error's `type` and `id` fields: the category word at a
// catalog position, and the id word at a position of that category: words
// of the catalog objects once they exist, global words before. none! for a position
// outside the catalog.
Cell category_word(int category);
Cell id_word(int category, int id);

// Makes the error as raise_error does and prints its report instead of
// raising it.
void print_error(int category, int id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                 const Cell* arg3 = nullptr);

// Script `bad-make-arg` with the datatype and the make argument (make of native! and
// action!).
[[noreturn]] void raise_bad_make_arg(const Cell& type, const Cell& spec);

// The error! value of the last error, completed with the `where` and `near`
// the unwinding recorded: what a catch site (`try`) hands to the language.
// none! when no value could be made.
Cell last_error_value();
// Raises an existing error! value (`do` of an error!): it becomes the last
// error, its category and id read from its code, and unwinds as a new one.
[[noreturn]] void raise_value(const Cell& error);

// The entry frame's handling of an error no site caught: prints the report
// of the last error and ends the process with status -2.
[[noreturn]] void quit_uncaught();

// The text of one value in a report: formed when `form`, else molded flat
// (with `only`, a block's outer brackets left out); at most `limit`
// characters. UTF-8.
std::string value_text(const Cell& value, bool form, int32_t limit, bool only = false);

}  // namespace errors

}  // namespace vyr
