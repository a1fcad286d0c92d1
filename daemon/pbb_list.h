// Circular doubly linked lists with a two-link head as sentinel.
//
// Every node type begins with `pstPrev` and `pstNext` of its own type; a
// head is a node-shaped record whose links point at itself while the list
// is empty. These helpers serve every list of the daemon so that the link
// code exists once.
#pragma once

namespace pbb::list {

template <typename T>
inline void init(T* head)
{
    head->pstPrev = head;
    head->pstNext = head;
}

template <typename T>
inline bool empty(const T* head)
{
    return head->pstNext == head;
}

// Links node between prev and next.
template <typename T>
inline void linkBetween(T* node, T* prev, T* next)
{
    node->pstPrev = prev;
    node->pstNext = next;
    prev->pstNext = node;
    next->pstPrev = node;
}

// At the front, right after the head.
template <typename T>
inline void pushFront(T* head, T* node)
{
    linkBetween(node, head, head->pstNext);
}

// At the back, right before the head.
template <typename T>
inline void pushBack(T* head, T* node)
{
    linkBetween(node, head->pstPrev, head);
}

// Before pos (pos may be the head: then at the back).
template <typename T>
inline void insertBefore(T* pos, T* node)
{
    linkBetween(node, pos->pstPrev, pos);
}

template <typename T>
inline void unlink(T* node)
{
    node->pstPrev->pstNext = node->pstNext;
    node->pstNext->pstPrev = node->pstPrev;
    node->pstPrev = node;
    node->pstNext = node;
}

// Ordered insert: behind every element whose key is not greater, so a new
// element goes behind the elements with an equal key. less(a, b) orders
// the list. An element not less than the last one goes behind it, which is
// where the walk from the front would put it too; so elements added in
// ascending order cost one comparison each.
template <typename T, typename Less>
inline void insertOrdered(T* head, T* node, Less less)
{
    if (head->pstPrev == head || !less(node, head->pstPrev)) {
        pushBack(head, node);
        return;
    }
    T* pos = head->pstNext;
    while (pos != head && !less(node, pos)) pos = pos->pstNext;
    insertBefore(pos, node);
}

template <typename T>
inline unsigned count(const T* head)
{
    unsigned n = 0;
    for (const T* p = head->pstNext; p != head; p = p->pstNext) ++n;
    return n;
}

}  // namespace pbb::list
