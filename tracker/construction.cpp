// Prod.__init__: read the credentials file, keep the record and its four
// values, point gazu at the tracker and log in.
#include "module/traceback.hpp"
#include "tracker/bodies.hpp"
#include "tracker/gazu_call.hpp"

namespace tessavor::tracker {

namespace {

const char kInitName[] = "tessavor.prod.Prod.__init__";

GazuChain set_host = {nullptr, &Names::set_host, {}, {}};
GazuChain set_event_host = {nullptr, &Names::set_event_host, {}, {}};
GazuChain log_in = {nullptr, &Names::log_in, {}, {}};

// `self.crenditial[key]`, reading the attribute afresh.
Ref credential_value(PyObject *self, PyObject *key)
{
    Ref record = Ref::steal(PyObject_GetAttr(self, names.crenditial));
    if (!record) {
        return record;
    }
    return record_item(record.get(), key);
}

// Line 10 to 13: `self.<key> = self.crenditial[key]`.
bool copy_value(PyObject *self, PyObject *key)
{
    Ref value = credential_value(self, key);
    return value && PyObject_SetAttr(self, key, value.get()) == 0;
}

// Lines 15 to 17: `gazu.<function>(self.crenditial[key], ...)`; the callee
// is fetched before the arguments are read.
bool call_with_values(PyObject *self, GazuChain &chain, PyObject *const *keys, size_t count)
{
    Ref callee = gazu_function(chain);
    if (!callee) {
        return false;
    }
    Ref values[2];
    PyObject *args[2];
    for (size_t i = 0; i < count; ++i) {
        values[i] = credential_value(self, keys[i]);
        if (!values[i]) {
            return false;
        }
        args[i] = values[i].get();
    }
    return static_cast<bool>(call_positional(callee.get(), args, count));
}

} // namespace

PyObject *init(PyObject *const *args)
{
    PyObject *self = args[0];
    PyObject *crenditial = args[1];

    // Line 8: self.crenditial = self.load_json(crenditial)
    PyObject *call_args[2] = {self, crenditial};
    Ref record = Ref::steal(PyObject_VectorcallMethod(names.load_json, call_args, 2, nullptr));
    if (!record || PyObject_SetAttr(self, names.crenditial, record.get()) < 0) {
        return fail_at(kInitName, 8);
    }

    PyObject *const copied[4] = {names.host_url, names.event_url, names.login_id, names.password};
    for (int i = 0; i < 4; ++i) {
        if (!copy_value(self, copied[i])) {
            return fail_at(kInitName, 10 + i);
        }
    }

    if (!call_with_values(self, set_host, &names.host_url, 1)) {
        return fail_at(kInitName, 15);
    }
    if (!call_with_values(self, set_event_host, &names.event_url, 1)) {
        return fail_at(kInitName, 16);
    }
    PyObject *const login[2] = {names.login_id, names.password};
    if (!call_with_values(self, log_in, login, 2)) {
        return fail_at(kInitName, 17);
    }
    Py_RETURN_NONE;
}

} // namespace tessavor::tracker
