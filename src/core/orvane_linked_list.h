// Circular doubly linked lists through a node's Next and Previous pointers, closed by a sentinel
// node that points to itself when the list is empty (the allocation headers, the open file
// readers). The caller holds whatever lock guards the list.
#ifndef ORVANE_LINKED_LIST_H
#define ORVANE_LINKED_LIST_H

namespace orvane {

// Puts node at the front of the list closed by sentinel.
template <typename Node>
inline void LinkAtFront(Node* sentinel, Node* node) {
    node->Next = sentinel->Next;
    node->Previous = sentinel;
    sentinel->Next->Previous = node;
    sentinel->Next = node;
}

// Takes node out of its list; its own pointers are left as they were.
template <typename Node>
inline void Unlink(Node* node) {
    node->Next->Previous = node->Previous;
    node->Previous->Next = node->Next;
}

}  // namespace orvane

#endif  // ORVANE_LINKED_LIST_H
