// What stands behind SubstringMatcher: the parts it read, the plan it made
// for them, and the way of matching the plan chose, built.
#ifndef TESSAVOR_MATCHER_WAYS_HPP
#define TESSAVOR_MATCHER_WAYS_HPP

#include "matcher/automaton.hpp"
#include "matcher/plan.hpp"
#include "matcher/substring_matcher.hpp"
#include "matcher/window_hash.hpp"

namespace tessavor::matcher {

class Ways {
public:
    SubstringMatcher::Built build(PyObject *parts, Py_ssize_t text_length, const Choice &choice);
    bool matches(PyObject *item) const;
    void matches_two(PyObject *a, PyObject *b, bool found[2]) const;

    const Plan &plan() const { return plan_; }
    const PartList &parts() const { return parts_; }
    const Automaton &automaton() const { return automaton_; }

private:
    enum class Collected { kFailed, kNotAllStrs, kHasEmpty, kNonEmpty };

    Collected collect(PyObject *parts);
    int list_lengths();

    PartList parts_;
    Plan plan_;
    WindowHash windows_;
    Automaton automaton_;
};

} // namespace tessavor::matcher

#endif
