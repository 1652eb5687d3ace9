// class_table.cpp - the native classes of the built-in library.
//
// "File" cannot be instantiated.
#include "builtins/tables.h"
#include "builtins/unavailable.h"
#include "objects/class_registry.h"
#include "objects/collection.h"
#include "objects/exception_object.h"
#include "objects/map.h"
#include "objects/native_classes.h"
#include "objects/operand_object.h"
#include "objects/thread_object.h"
#include "tables/data_session.h"

namespace qzbase {

// clang-format off
const module_class_st builtin_classes[] = {
    {"Custom", new_custom, custom_members},
    {"ArrayIterator", new_array_iterator, array_iterator_members},
    {"Collection.ForwardIndexIterator", new_forward_index_iterator, collection_iterator_members},
    {"Collection.ReverseIndexIterator", new_reverse_index_iterator, collection_iterator_members},
    {"Collection.ForwardKeyIterator", new_forward_key_iterator, collection_iterator_members},
    {"Collection.ReverseKeyIterator", new_reverse_key_iterator, collection_iterator_members},
    {"Collection", new_collection, collection_members},
    {"Empty", new_empty, nullptr},
    {"Exception", new_exception, exception_members},
    {"File", nullptr, nullptr},
    {"Session", new_datasession, session_members},
    {"Thread", create_thread, thread_members},
    {"Map", new_map, map_members},
    {"Map.ForwardIterator", new_map_iterator, map_iterator_members},
    {"Operand", new_operand, operand_members},
    {nullptr, nullptr, nullptr},
};
// clang-format on

const size_t builtin_class_count = sizeof(builtin_classes) / sizeof(builtin_classes[0]) - 1;

namespace {

// Stacks without the built-in library make their sessions and exceptions from the same rows.
[[maybe_unused]] const bool bare_rows_installed = (set_bare_class_rows(builtin_classes), true);

}  // namespace

}  // namespace qzbase
