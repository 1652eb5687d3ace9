// ptr_list.h - an owning list of heap objects.
//
// A ptr_list<T> is a std::list of T pointers that deletes every non-null item when it is destroyed
// (through T's virtual destructor where T has one). Grammar actions hand such lists to node
// constructors, which move the items out (release) and then delete the emptied list.
#pragma once

#include <cstddef>
#include <list>
#include <new>

namespace qzbase {

template <class T>
class ptr_list : public std::list<T*> {
 public:
  ptr_list() = default;
  ptr_list(const ptr_list&) = delete;
  ptr_list& operator=(const ptr_list&) = delete;
  ~ptr_list() { destroy_items(); }

  // Deletes every item and empties the list.
  void destroy_items() {
    for (T* item : *this) delete item;
    this->clear();
  }
  // Forgets the items without deleting them (their ownership has moved elsewhere).
  void release() { this->clear(); }
};

// Turns a heap list of pointers into a new[] array of count + 1 pointers whose last entry is null,
// stores the count, and frees the list nodes and the list header. The items themselves move into
// the array. A null list gives a one-entry array holding null and count 0. A count whose array
// cannot be addressed fails as an allocation failure (std::bad_array_new_length, a std::bad_alloc).
template <class T, class List>
T** list_to_null_terminated_array(List* list, size_t* count) {
  size_t n = list ? list->size() : 0;
  if (n + 1 >= (size_t{1} << 60)) throw std::bad_array_new_length();  // the list stays the caller's
  T** items = new T*[n + 1];
  size_t i = 0;
  if (list) {
    for (auto* item : *list) items[i++] = item;
    list->clear();  // the items now belong to the array (a ptr_list would delete them otherwise)
    delete list;
  }
  items[n] = nullptr;
  *count = n;
  return items;
}

}  // namespace qzbase
