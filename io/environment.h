// The process environment: reading, setting and listing its variables.
// Behind `get-env`, `set-env` and `list-env`.
//
// Names and values are UTF-8 texts as the host keeps them. A name or value
// holding a NUL cannot be in the environment: get answers false, set does
// nothing and answers false.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vyr::environment {

// The variable's value into `out`; false when it is not set.
bool get(const std::string& name, std::string& out);
// Sets the variable, or removes it when `value` is null; false on failure.
bool set(const std::string& name, const std::string* value);
// Every variable as (name, value), in the environment's order. A name ends
// at the first "=" that is not its first character; an entry without one
// is left out.
std::vector<std::pair<std::string, std::string>> list();

}  // namespace vyr::environment
