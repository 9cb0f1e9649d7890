// Brother chains of clumps and logical objects: the first element's previous
// link points to the last, the last's next link is null, so appending is O(1)
// and a chain can be walked from its head.
#pragma once

// Brother-chain walks that look for the last element give up here.
inline constexpr int OV_CHAIN_WALK_LIMIT = 10000;

// Appends `chain` (a lone element or the head of a chain) at the end of the
// chain headed by `head`, which may be null.
template <class T>
void OvChainAppend(T*& head, T* chain) {
  if (!chain) return;
  T* chainLast = chain->m_prev;
  if (!chainLast) {
    // A loose chain: find its end, bounded.
    chainLast = chain;
    for (int n = 0; chainLast->m_next && n < OV_CHAIN_WALK_LIMIT; ++n) chainLast = chainLast->m_next;
    chainLast->m_next = nullptr;
  }
  if (!head) {
    head = chain;
    chain->m_prev = chainLast;
    return;
  }
  T* last = head->m_prev ? head->m_prev : head;
  last->m_next = chain;
  chain->m_prev = last;
  head->m_prev = chainLast;
}

// Takes `item` out of the chain headed by `head` and leaves it unlinked.
template <class T>
void OvChainRemove(T*& head, T* item) {
  if (!item) return;
  if (head == item) {
    head = item->m_next;
    if (head) head->m_prev = (item->m_prev && item->m_prev != item) ? item->m_prev : head;
  } else if (head && item->m_prev) {
    item->m_prev->m_next = item->m_next;
    if (item->m_next) {
      item->m_next->m_prev = item->m_prev;
    } else {
      head->m_prev = item->m_prev;
    }
  }
  item->m_prev = nullptr;
  item->m_next = nullptr;
}
