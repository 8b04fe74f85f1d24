// Prod.load_json: `with open(json_file) as data_file: data = json.load(data_file)`,
// then `return data`, with the exact semantics of a `with` statement.
#include "module/errors.hpp"
#include "module/traceback.hpp"
#include "module/versions.hpp"
#include "tracker/bodies.hpp"
#include "tracker/gazu_call.hpp"

namespace tessavor::tracker {

namespace {

// Below `def load_json(self, json_file):`.
constexpr int kWithLine = 1;   // with open(json_file) as data_file:
constexpr int kBodyLine = 2;   //     data = json.load(data_file)
constexpr int kReturnLine = 4; // return data

DictRead json_read;

// A special method looked up on the type, bound to `obj`; AttributeError
// with the bare name when the type lacks it.
Ref special_method(PyObject *obj, PyObject *name)
{
    Ref descr = Ref::steal(_PyType_LookupRef(Py_TYPE(obj), name));
    if (!descr) {
        PyErr_SetObject(PyExc_AttributeError, name);
        return descr;
    }
    descrgetfunc get = Py_TYPE(descr.get())->tp_descr_get;
    if (get == nullptr) {
        return descr;
    }
    // Arbitrary code may run here (a custom descriptor).
    return Ref::steal(get(descr.get(), obj, reinterpret_cast<PyObject *>(Py_TYPE(obj))));
}

// The body: data = json.load(data_file).
Ref parse(PyObject *data_file)
{
    Ref json = module_global(names.json, json_read);
    if (!json) {
        return json;
    }
    Ref load = Ref::steal(PyObject_GetAttr(json.get(), names.load));
    if (!load) {
        return load;
    }
    return call_positional(load.get(), &data_file, 1);
}

// The body raised: __exit__ sees its exception as the one being handled
// and decides whether it propagates. When it does, it is raised again as
// that interpreter's own `with` raises it (versions::WithReraise), and the
// entry of the `with` line is added to it, as to any failure there.
PyObject *exit_after_failure(const MethodSpec &method, PyObject *exit)
{
    const char *funcname = method.traceback_name;
    add_traceback(funcname, line_of(method, kBodyLine));
    FetchedError body;
    PyObject *exc = body.value();
    versions::WithReraise reraise(exc);
    int suppress;
    {
        // The body's exception is the one being handled (what sys.exc_info()
        // reports) while __exit__ runs, as in an `except` clause.
        versions::HandledExceptionScope handling(exc);
        Ref tb = Ref::steal(PyException_GetTraceback(exc));
        PyObject *exit_args[3] = {reinterpret_cast<PyObject *>(Py_TYPE(exc)), exc,
                                  tb ? tb.get() : Py_None};
        // Arbitrary code runs in __exit__ and in the truth test.
        Ref verdict = call_positional(exit, exit_args, 3);
        suppress = verdict ? PyObject_IsTrue(verdict.get()) : -1;
    }
    if (suppress < 0) {
        return fail_at(funcname, line_of(method, kWithLine));
    }
    if (suppress == 0) {
        reraise.reraise(body.take());
        return fail_at(funcname, line_of(method, kWithLine));
    }
    raise_format(PyExc_UnboundLocalError, "local variable '%s' referenced before assignment",
                 "data");
    return fail_at(funcname, line_of(method, kReturnLine));
}

} // namespace

PyObject *load_json(const MethodSpec &method, PyObject *const *args)
{
    const char *funcname = method.traceback_name;
    const int with_line = line_of(method, kWithLine);
    PyObject *json_file = args[1];
    Ref opened = call_positional(state.open, &json_file, 1);
    if (!opened) {
        return fail_at(funcname, with_line);
    }
    Ref exit = special_method(opened.get(), names.dunder_exit);
    if (!exit) {
        return fail_at(funcname, with_line);
    }
    Ref enter = special_method(opened.get(), names.dunder_enter);
    if (!enter) {
        return fail_at(funcname, with_line);
    }
    Ref data_file = call_positional(enter.get(), nullptr, 0);
    if (!data_file) {
        return fail_at(funcname, with_line);
    }

    Ref data = parse(data_file.get());
    if (!data) {
        return exit_after_failure(method, exit.get());
    }
    Ref exited = Ref::steal(PyObject_Call(exit.get(), state.none3, nullptr));
    if (!exited) {
        return fail_at(funcname, with_line);
    }
    return data.release();
}

} // namespace tessavor::tracker
