"""Prints the C type sizes and the structure sizes and offsets that windows/c_types.cpp and
windows/<version>/abi_check.cpp assert, as the running interpreter has them. Run by the official CPython for Windows under wine:

    windows/wine_python.sh build/windows-python-3.12 windows/layout_probe.py

Each line is a C expression of those files and its value. Type sizes and the offsets a type
publishes come from the type itself (__basicsize__, __dictoffset__, __weakrefoffset__); the
fields the module reads or writes directly are found in the objects' memory, through ctypes,
by looking for a value planted in them.
"""
import ctypes
import struct
import sys
import types


def word(address, size=8):
    return int.from_bytes(ctypes.string_at(address, size), "little")


def offsets(address, end, wanted, size=8, start=16):
    """The offsets below `end` at which the object at `address` holds `wanted`."""
    return [offset for offset in range(start, end, size) if word(address + offset, size) == wanted]


def only(found, what):
    if len(found) != 1:
        sys.exit(f"layout_probe: {what}: expected one offset, found {found}")
    return found[0]


def main():
    version = sys.version_info[:2]
    out = []

    def emit(expression, value):
        out.append(f"{expression} {value}")

    # The C types of the LLP64 platform.
    for c_type, code in (("void *", "P"), ("size_t", "N"), ("long", "l"), ("int", "i"),
                         ("short", "h"), ("long long", "q")):
        emit(f"sizeof({c_type})", struct.calcsize(code))
    emit("sizeof(Py_ssize_t)", struct.calcsize("n"))
    emit("sizeof(Py_hash_t)", sys.hash_info.width // 8)
    emit("sizeof(wchar_t)", ctypes.sizeof(ctypes.c_wchar))
    emit("PyLong_SHIFT", sys.int_info.bits_per_digit)
    emit("sizeof(digit)", sys.int_info.sizeof_digit)

    # Object headers and the built-in containers the module reads through macros.
    emit("sizeof(PyObject)", object.__basicsize__)
    emit("sizeof(PyVarObject)", tuple.__basicsize__)  # a tuple is that header, then its items
    # The digits follow the header; 3.12 put them in a struct of their own.
    digits = "long_value.ob_digit" if version >= (3, 12) else "ob_digit"
    emit(f"offsetof(PyLongObject, {digits})", int.__basicsize__)
    items = (object(),)
    emit("offsetof(PyTupleObject, ob_item)", only(offsets(id(items), 40, id(items[0])), "tuple"))
    emit("sizeof(PyListObject)", list.__basicsize__)
    listed = [object()]
    emit("offsetof(PyListObject, ob_item)", only(
        [o for o in range(16, 40, 8)  # the word pointing at an array that starts with the item
         if word(id(listed) + o) > 4096 and word(word(id(listed) + o)) == id(listed[0])],
        "list"))
    emit("sizeof(PySetObject)", set.__basicsize__)
    emit("offsetof(PySetObject, weakreflist)", set.__weakrefoffset__)
    members = [object() for _ in range(3)]
    as_set = set(members)
    as_set.discard(members[0])  # `used` drops to 2 while `fill` stays 3
    emit("offsetof(PySetObject, used)", only(offsets(id(as_set), 200, 2), "set used"))
    emit("sizeof(PyDictObject)", dict.__basicsize__)
    if version < (3, 12):
        # The only word of the dict object that replacing a value changes.
        mapping = {"key": 1}
        before = [word(id(mapping) + o) for o in range(16, 48, 8)]
        mapping["key"] = 2
        changed = [16 + 8 * i for i, w in enumerate(before) if word(id(mapping) + 16 + 8 * i) != w]
        emit("offsetof(PyDictObject, ma_version_tag)", only(changed, "dict version"))
    emit("sizeof(PyUnicodeObject)", str.__basicsize__)
    # Where a compact string's characters start: after the struct, found by their bytes.
    ascii_text = "".join(map(chr, (97, 98, 99)))
    latin1_text = "".join(map(chr, (233, 234, 235)))
    emit("sizeof(PyASCIIObject)", ctypes.string_at(id(ascii_text), 200).find(b"abc\0"))
    emit("sizeof(PyCompactUnicodeObject)",
         ctypes.string_at(id(latin1_text), 200).find(b"\xe9\xea\xeb\0"))
    emit("sizeof(PyBaseExceptionObject)", BaseException.__basicsize__)

    # The handled exception, which the module sets directly in the thread state's innermost
    # exception-state item: outside a generator that item is the thread state's own.
    ctypes.pythonapi.PyThreadState_Get.restype = ctypes.c_void_p
    try:
        raise KeyError("probe")
    except KeyError as handled:
        tstate = ctypes.pythonapi.PyThreadState_Get()
        found = [(offset, inner) for offset in range(0, 512, 8)
                 if tstate <= (item := word(tstate + offset)) < tstate + 4096
                 for inner in range(0, 32, 8) if word(item + inner) == id(handled)]
    exc_info, exc_value = only(found, "exc_info")
    emit("offsetof(PyThreadState, exc_info)", exc_info)
    emit("offsetof(_PyErr_StackItem, exc_value)", exc_value)

    # type: basic size, __dictoffset__, __weakrefoffset__.
    emit("sizeof(PyHeapTypeObject)", type.__basicsize__)
    emit("offsetof(PyTypeObject, tp_dict)", type.__dictoffset__)
    emit("offsetof(PyTypeObject, tp_weaklist)", type.__weakrefoffset__)

    # function, code, traceback, method (and frame while its struct is public).
    function = types.FunctionType
    emit("sizeof(PyFunctionObject)", function.__basicsize__)
    emit("offsetof(PyFunctionObject, func_dict)", function.__dictoffset__)
    emit("offsetof(PyFunctionObject, func_weakreflist)", function.__weakrefoffset__)
    code_type = types.CodeType
    if version < (3, 11):
        emit("sizeof(PyCodeObject)", code_type.__basicsize__)
    else:
        # The code units follow the struct; the type's basic size is where they start.
        emit("offsetof(PyCodeObject, co_code_adaptive)", code_type.__basicsize__)
    emit("offsetof(PyCodeObject, co_weakreflist)", code_type.__weakrefoffset__)
    code = (lambda: None).__code__
    code = code.replace(co_flags=code.co_flags | 0x5A5A0000)
    emit("offsetof(PyCodeObject, co_flags)",
         only(offsets(id(code), code_type.__basicsize__, code.co_flags, size=4), "co_flags"))
    if version < (3, 11):
        emit("sizeof(PyFrameObject)", types.FrameType.__basicsize__)
    emit("sizeof(PyTracebackObject)", types.TracebackType.__basicsize__)
    emit("sizeof(PyMethodObject)", types.MethodType.__basicsize__)
    print("\n".join(out))


if __name__ == "__main__":
    main()
