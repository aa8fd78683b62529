// Calls a COM method by its raw vtable slot, as a host compiled elsewhere would: the object's
// first word points at the table, and every method takes the object as its first argument.
#pragma once

#include "quorrin/com_types.h"

template <class R, class... Args>
R call_slot(void* object, int slot, Args... args) {
    using method = R(STDMETHODCALLTYPE*)(void*, Args...);
    method* table = *static_cast<method**>(object);
    return table[slot](object, args...);
}
