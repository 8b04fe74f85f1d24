#include "module/function_type.hpp"

#include <stddef.h>
#include <structmember.h>

#include "module/binding.hpp"
#include "module/errors.hpp"

namespace tessavor {

namespace {

// Zero-initialised here and filled in by ready_function_type(), so that the
// type needs no aggregate initialiser that lists every slot.
PyTypeObject method_function_type;

struct MethodFunction {
    PyObject_HEAD vectorcallfunc vectorcall;
    const MethodSpec *method;
    PyObject *name;
    PyObject *qualname;
    PyObject *module;
    PyObject *doc;
    PyObject *code;
    PyObject *globals;
    PyObject *annotations; // made on first access
    PyObject *dict;
    PyObject *weakreflist;
};

MethodFunction *as_function(PyObject *self)
{
    assert(Py_IS_TYPE(self, &method_function_type));
    return reinterpret_cast<MethodFunction *>(self);
}

// The entry CPython calls: bind by the table, then run the body.
PyObject *method_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf,
                            PyObject *kwnames)
{
    const MethodSpec &method = *as_function(callable)->method;
    assert(method.argcount <= kMaxParameters);
    if (kwnames == nullptr && PyVectorcall_NARGS(nargsf) == method.argcount) {
        return method.body(method, args); // the positional values are the parameters
    }
    PyObject *values[kMaxParameters];
    if (bind_arguments(method, args, PyVectorcall_NARGS(nargsf), kwnames, values) < 0) {
        return nullptr;
    }
    return method.body(method, values);
}

// As a plain function's: unbound (the function itself) for no instance, which
// C callers may also pass as None (Python's __get__ turns None into no
// instance before it calls the slot).
PyObject *method_descr_get(PyObject *self, PyObject *obj, PyObject *)
{
    if (obj == nullptr || obj == Py_None) {
        return Py_NewRef(self);
    }
    return PyMethod_New(self, obj);
}

PyObject *method_repr(PyObject *self)
{
    assert(as_function(self)->qualname != nullptr);
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

int method_traverse(PyObject *self, visitproc visit, void *arg)
{
    MethodFunction *f = as_function(self);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->code);
    Py_VISIT(f->globals);
    Py_VISIT(f->annotations);
    Py_VISIT(f->dict);
    return 0;
}

// As CPython's func_clear (from 3.11): the object may be seen again after
// this, by a finalizer of its cycle, so what the getters, repr and __reduce__
// read unchecked stays valid. The code object stays (it refers to nothing that
// could lead back here); the names, which may be str subclasses in a cycle,
// become the empty str. The rest is cleared, and its getters allow for that.
int method_clear(PyObject *self)
{
    MethodFunction *f = as_function(self);
    Py_SETREF(f->name, Py_NewRef(names.empty));
    Py_SETREF(f->qualname, Py_NewRef(names.empty));
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->globals);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->dict);
    return 0;
}

void method_dealloc(PyObject *self)
{
    PyObject_GC_UnTrack(self);
    MethodFunction *f = as_function(self);
    if (f->weakreflist != nullptr) {
        PyObject_ClearWeakRefs(self);
    }
    method_clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->code);
    PyObject_GC_Del(self);
}

// __reduce__ gives the qualified name, so pickle stores the method by
// reference, as it does a plain function.
PyObject *method_reduce(PyObject *self, PyObject *)
{
    assert(as_function(self)->qualname != nullptr);
    return Py_NewRef(as_function(self)->qualname);
}

int set_string(PyObject *&slot, PyObject *value, const char *message)
{
    if (value == nullptr || !PyUnicode_Check(value)) {
        raise_message(PyExc_TypeError, message);
        return -1;
    }
    Py_XSETREF(slot, Py_NewRef(value));
    return 0;
}

// name, qualname and code are never null: set when the object is made, and
// replaced, not cleared, by the setters and method_clear.
PyObject *get_name(PyObject *self, void *)
{
    assert(as_function(self)->name != nullptr);
    return Py_NewRef(as_function(self)->name);
}

int set_name(PyObject *self, PyObject *value, void *)
{
    return set_string(as_function(self)->name, value, "__name__ must be set to a string object");
}

PyObject *get_qualname(PyObject *self, void *)
{
    assert(as_function(self)->qualname != nullptr);
    return Py_NewRef(as_function(self)->qualname);
}

int set_qualname(PyObject *self, PyObject *value, void *)
{
    return set_string(as_function(self)->qualname, value,
                      "__qualname__ must be set to a string object");
}

// None once method_clear has cleared it, as for a plain function.
PyObject *get_doc(PyObject *self, void *)
{
    PyObject *doc = as_function(self)->doc;
    return Py_NewRef(doc != nullptr ? doc : Py_None);
}

// Deleting __doc__ leaves None, as for plain functions.
int set_doc(PyObject *self, PyObject *value, void *)
{
    if (value == nullptr) {
        value = Py_None;
    }
    Py_XSETREF(as_function(self)->doc, Py_NewRef(value));
    return 0;
}

PyObject *get_code(PyObject *self, void *)
{
    assert(as_function(self)->code != nullptr);
    return Py_NewRef(as_function(self)->code);
}

// None once method_clear has cleared them, as for a plain function.
PyObject *get_globals(PyObject *self, void *)
{
    PyObject *globals = as_function(self)->globals;
    return Py_NewRef(globals != nullptr ? globals : Py_None);
}

// __defaults__, __kwdefaults__ and __closure__: the methods have none.
PyObject *get_none(PyObject *, void *)
{
    Py_RETURN_NONE;
}

PyObject *get_annotations(PyObject *self, void *)
{
    MethodFunction *f = as_function(self);
    if (f->annotations == nullptr) {
        f->annotations = PyDict_New();
        if (f->annotations == nullptr) {
            return nullptr;
        }
    }
    return Py_NewRef(f->annotations);
}

// A dict, or None (or deletion) to drop them; the next read makes a new one.
int set_annotations(PyObject *self, PyObject *value, void *)
{
    if (value == Py_None) {
        value = nullptr;
    }
    if (value != nullptr && !PyDict_Check(value)) {
        raise_message(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(as_function(self)->annotations, Py_XNewRef(value));
    return 0;
}

PyGetSetDef method_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__doc__", get_doc, set_doc, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"__defaults__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__closure__", get_none, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef method_members[] = {
    {"__module__", T_OBJECT, offsetof(MethodFunction, module), 0, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(MethodFunction, dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(MethodFunction, weakreflist), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(MethodFunction, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef method_methods[] = {
    {"__reduce__", method_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

int ready_function_type()
{
    PyTypeObject &t = method_function_type;
    if (t.tp_flags & Py_TPFLAGS_READY) {
        return 0;
    }
    // Once only: a PyType_Ready that failed part-way may have handed out
    // references to the type already (and from 3.12 made it immortal).
    if (Py_REFCNT(&t) == 0) {
        Py_SET_REFCNT(&t, 1);
    }
    t.tp_name = "tessavor.prod.method";
    t.tp_basicsize = sizeof(MethodFunction);
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_METHOD_DESCRIPTOR |
                 Py_TPFLAGS_HAVE_VECTORCALL;
    t.tp_vectorcall_offset = offsetof(MethodFunction, vectorcall);
    t.tp_call = PyVectorcall_Call;
    t.tp_descr_get = method_descr_get;
    t.tp_repr = method_repr;
    t.tp_traverse = method_traverse;
    t.tp_clear = method_clear;
    t.tp_dealloc = method_dealloc;
    t.tp_dictoffset = offsetof(MethodFunction, dict);
    t.tp_weaklistoffset = offsetof(MethodFunction, weakreflist);
    t.tp_getset = method_getset;
    t.tp_members = method_members;
    t.tp_methods = method_methods;
    return PyType_Ready(&t);
}

PyObject *new_method_function(const MethodSpec &method, PyObject *globals, PyObject *code,
                              PyObject *doc)
{
    MethodFunction *f = PyObject_GC_New(MethodFunction, &method_function_type);
    if (f == nullptr) {
        return nullptr;
    }
    f->vectorcall = method_vectorcall;
    f->method = &method;
    f->name = Py_NewRef(names.*method.name_str);
    f->qualname = Py_NewRef(names.*method.qualname_str);
    f->module = Py_NewRef(names.tessavor_prod);
    f->doc = Py_NewRef(doc != nullptr ? doc : Py_None);
    f->code = Py_NewRef(code);
    f->globals = Py_NewRef(globals);
    f->annotations = nullptr;
    f->dict = nullptr;
    f->weakreflist = nullptr;
    PyObject_GC_Track(f);
    return reinterpret_cast<PyObject *>(f);
}

} // namespace tessavor
