#include "module/binding.hpp"

#include <string.h>

#include "module/errors.hpp"
#include "module/traceback.hpp"
#include "module/versions.hpp"

namespace tessavor {

namespace {

int binding_failed(const MethodSpec &method)
{
    return fail_status(method.traceback_name, method.first_line);
}

int count_error(const MethodSpec &method, Py_ssize_t given)
{
    raise_format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 method.name, "exactly", static_cast<Py_ssize_t>(method.argcount),
                 method.argcount == 1 ? "" : "s", given);
    return binding_failed(method);
}

// Equality of an interned parameter name with a keyword name: exact strs by
// length, known hashes and content; anything else by ==.
int keyword_equals(PyObject *param, PyObject *key)
{
    // Parameter names are the interned names of module/names.hpp: exact, ready strs.
    assert(PyUnicode_CheckExact(param) && versions::unicode_is_ready(param));
    if (param == key) {
        return 1;
    }
    if (PyUnicode_CheckExact(key)) {
        if (versions::unicode_ready(key) < 0) {
            return -1;
        }
        if (PyUnicode_GET_LENGTH(key) != PyUnicode_GET_LENGTH(param)) {
            return 0;
        }
        Py_hash_t key_hash = PyUnstable_Unicode_GET_CACHED_HASH(key);
        Py_hash_t param_hash = PyUnstable_Unicode_GET_CACHED_HASH(param);
        if (key_hash != -1 && param_hash != -1 && key_hash != param_hash) {
            return 0;
        }
        if (PyUnicode_KIND(key) != PyUnicode_KIND(param)) {
            return 0;
        }
        return memcmp(PyUnicode_DATA(key), PyUnicode_DATA(param),
                      static_cast<size_t>(PyUnicode_GET_LENGTH(key)) * PyUnicode_KIND(key)) == 0;
    }
    if (key == Py_None) {
        return 0;
    }
    // Arbitrary code may run here (a str subclass's __eq__).
    Ref equal = Ref::steal(PyObject_RichCompare(param, key, Py_EQ));
    if (!equal) {
        return -1;
    }
    return PyObject_IsTrue(equal.get());
}

// What looking for a name among names found.
enum class Search { kFound, kAbsent, kFailed };

// Looks for `param` in `kwnames`, identity first, then equality; on kFound
// `position` is its index.
Search find_keyword(PyObject *param, PyObject *kwnames, Py_ssize_t &position)
{
    Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t j = 0; j < count; ++j) {
        if (PyTuple_GET_ITEM(kwnames, j) == param) {
            position = j;
            return Search::kFound;
        }
    }
    for (Py_ssize_t j = 0; j < count; ++j) {
        int eq = keyword_equals(param, PyTuple_GET_ITEM(kwnames, j));
        if (eq < 0) {
            return Search::kFailed;
        }
        if (eq) {
            position = j;
            return Search::kFound;
        }
    }
    return Search::kAbsent;
}

// Content equality of a str keyword with a parameter name, without __eq__.
int same_content(PyObject *key, PyObject *param)
{
    int cmp = PyUnicode_Compare(key, param);
    if (cmp == -1 && PyErr_Occurred()) {
        return -1;
    }
    return cmp == 0;
}

// Looks for the parameter among [first, last) that `key` names: by
// identity, or by content when `by_content`; on kFound `index` is its
// index.
Search match_parameter(const MethodSpec &method, PyObject *key, int first, int last,
                       bool by_content, int &index)
{
    for (int i = first; i < last; ++i) {
        PyObject *param = parameter_name(method, i);
        int same = key == param;
        if (!same && by_content) {
            same = same_content(key, param);
            if (same < 0) {
                return Search::kFailed;
            }
        }
        if (same) {
            index = i;
            return Search::kFound;
        }
    }
    return Search::kAbsent;
}

// Keyword names left over once every parameter is bound: each must name a
// parameter after the positional ones, which it then binds (so of two
// keywords for one parameter, the later one's value wins); the first that
// names none decides the message.
int bind_surplus_keywords(const MethodSpec &method, Py_ssize_t nargs, PyObject *kwnames,
                          PyObject *const *kwvalues, PyObject **values)
{
    const int n = static_cast<int>(nargs);
    const int argc = method.argcount;
    Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t j = 0; j < count; ++j) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, j);
        int index = 0;
        if (match_parameter(method, key, n, argc, false, index) == Search::kFound) {
            values[index] = kwvalues[j];
            continue;
        }
        if (!PyUnicode_Check(key)) {
            raise_format(PyExc_TypeError, "%.200s() keywords must be strings", method.name);
            return binding_failed(method);
        }
        Search later = match_parameter(method, key, n, argc, true, index);
        if (later == Search::kFailed) {
            return binding_failed(method);
        }
        if (later == Search::kFound) {
            values[index] = kwvalues[j];
            continue;
        }
        Search earlier = match_parameter(method, key, 0, n, true, index);
        if (earlier == Search::kFailed) {
            return binding_failed(method);
        }
        if (earlier == Search::kFound) {
            raise_format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         method.name, key);
        } else {
            raise_format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         method.name, key);
        }
        return binding_failed(method);
    }
    return 0;
}

} // namespace

int bind_arguments(const MethodSpec &method, PyObject *const *args, Py_ssize_t nargs,
                   PyObject *kwnames, PyObject **values)
{
    const int argc = method.argcount;
    if (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0) {
        if (nargs != argc) {
            return count_error(method, nargs);
        }
        for (int i = 0; i < argc; ++i) {
            values[i] = args[i];
        }
        return 0;
    }
    if (nargs > argc) {
        return count_error(method, nargs);
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        values[i] = args[i];
    }
    PyObject *const *kwvalues = args + nargs;
    Py_ssize_t remaining = PyTuple_GET_SIZE(kwnames);
    for (int i = static_cast<int>(nargs); i < argc; ++i) {
        Py_ssize_t j = 0;
        switch (find_keyword(parameter_name(method, i), kwnames, j)) {
        case Search::kFailed:
            return binding_failed(method);
        case Search::kAbsent:
            return count_error(method, i);
        case Search::kFound:
            break;
        }
        values[i] = kwvalues[j];
        --remaining;
    }
    if (remaining > 0) {
        return bind_surplus_keywords(method, nargs, kwnames, kwvalues, values);
    }
    return 0;
}

} // namespace tessavor
