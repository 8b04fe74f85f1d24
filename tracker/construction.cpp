// Prod.__init__: read the credentials file, keep the record and its four
// values, point gazu at the tracker and log in.
#include "module/traceback.hpp"
#include "tracker/bodies.hpp"
#include "tracker/gazu_call.hpp"

namespace tessavor::tracker {

namespace {

// Below `def __init__(self, crenditial):`.
constexpr int kLoadLine = 2;      // self.crenditial = self.load_json(crenditial)
constexpr int kFirstCopyLine = 4; // self.host_url = self.crenditial["host_url"], then the
                                  // same for event_url, login_id and password
constexpr int kSetHostLine = 9;   // gazu.set_host(self.crenditial["host_url"])
constexpr int kSetEventLine = 10; // gazu.set_event_host(self.crenditial["event_url"])
constexpr int kLogInLine = 11;    // gazu.log_in(self.crenditial["login_id"],
                                  //             self.crenditial["password"])

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

// `self.<key> = self.crenditial[key]`.
bool copy_value(PyObject *self, PyObject *key)
{
    Ref value = credential_value(self, key);
    return value && PyObject_SetAttr(self, key, value.get()) == 0;
}

// `gazu.<function>(self.crenditial[key], ...)`; the callee
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

PyObject *init(const MethodSpec &method, PyObject *const *args)
{
    PyObject *self = args[0];
    PyObject *crenditial = args[1];
    const char *funcname = method.traceback_name;

    PyObject *call_args[2] = {self, crenditial};
    Ref record = Ref::steal(PyObject_VectorcallMethod(names.load_json, call_args, 2, nullptr));
    if (!record || PyObject_SetAttr(self, names.crenditial, record.get()) < 0) {
        return fail_at(funcname, line_of(method, kLoadLine));
    }

    PyObject *const copied[4] = {names.host_url, names.event_url, names.login_id, names.password};
    for (int i = 0; i < 4; ++i) {
        if (!copy_value(self, copied[i])) {
            return fail_at(funcname, line_of(method, kFirstCopyLine + i));
        }
    }

    if (!call_with_values(self, set_host, &names.host_url, 1)) {
        return fail_at(funcname, line_of(method, kSetHostLine));
    }
    if (!call_with_values(self, set_event_host, &names.event_url, 1)) {
        return fail_at(funcname, line_of(method, kSetEventLine));
    }
    PyObject *const login[2] = {names.login_id, names.password};
    if (!call_with_values(self, log_in, login, 2)) {
        return fail_at(funcname, line_of(method, kLogInLine));
    }
    Py_RETURN_NONE;
}

} // namespace tessavor::tracker
