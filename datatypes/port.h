// port!: the datatype through which scripts reach schemes. A port is an
// object (fields spec, scheme, actor, awake, state, data, extra, from
// system/standard/port) whose actor does the work: every series and port
// action on a port is handed to the actor's function of the same name, with
// the port and the action's arguments and refinements. The runtime holds no
// scheme of its own; schemes are registered at run time in system/schemes.
//
// An actor is an object of functions, or a handle! whose value names a
// table of native implementations registered here (one per action slot
// from append to write). The action layer takes a handle actor's table
// directly (native_action); an object actor is reached through the
// forwarders below.
//
// Cell layout: an object! cell typed port!, class id 2 (see object.h).
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/registry.h"

namespace vyr::port_t {

inline constexpr int32_t class_id = 2;
// The slots a port hands to its actor: append (25) to write (62).
inline constexpr uint32_t first_actor_slot = 25;
inline constexpr uint32_t last_actor_slot = 62;
inline constexpr uint32_t actor_slots = last_actor_slot - first_actor_slot + 1;

// A native actor: one implementation per slot from append on; null where
// the scheme does not support the action.
using NativeActor = registry::ActionFn[actor_slots];
// Registers a native actor table (kept for the life of the process);
// answers the value a handle! actor carries for it.
uint32_t register_native_actor(const NativeActor& table);
// For a port whose actor is a handle!, the native implementation of `slot`
// (raising access `no-port-action` where the table has none); null for any
// other value, slot or actor.
registry::ActionFn native_action(const Cell& value, uint32_t slot);

// The port's actor field; anything but an object! raises access
// `invalid-port`.
Cell actor(const Cell& port);

// ---- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
// The composite read and write (url! uses them too): open, copy (after an
// insert for write), close.
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* write(Cell* target, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as);

void init();

}  // namespace vyr::port_t
