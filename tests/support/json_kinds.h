#pragma once

// Header only: the fuzz harnesses use it too, without GoogleTest.

#include "core/json.h"

namespace vellumo::test {

/// Whether `a` and `b` have the same kinds of values throughout: Json's ==
/// takes 1 and 1u for equal, and a reader of JSON must not change one into
/// the other.
inline bool same_kinds(const Json& a, const Json& b) {
  if (a.type() != b.type() || a.size() != b.size()) {
    return false;
  }
  if (a.is_array()) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!same_kinds(a[i], b[i])) {
        return false;
      }
    }
  }
  if (a.is_object()) {
    for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
      if (ia.key() != ib.key() || !same_kinds(*ia, *ib)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace vellumo::test
