#include "pyfacade/convert.hpp"

#include <cstddef>
#include <cstdint>

#include "core/byte_copy.hpp"
#include "core/little_endian.hpp"
#include "pyfacade/guard.hpp"

namespace brenvalis::pyfacade {

namespace {

[[gnu::cold]] std::string type_qualname(PyObject* obj) {
    PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (qualname) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(qualname.get(), &size)) {
            return std::string(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

}  // namespace

[[gnu::cold]] ErrorValue conversion_error(PyObject* obj, const char* target) {
    std::string message = "'" + type_qualname(obj) + "' object cannot be converted to '" + target + "'";
    return ErrorValue::with_message(PyExc_TypeError, std::move(message));
}

[[gnu::cold]] ErrorValue wrap_argument_error(const char* param, ErrorValue error) {
    PyRef original = std::move(error).into_exception();
    if (!original || Py_TYPE(original.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        return original ? ErrorValue::from_exception(std::move(original)) : ErrorValue::fetch();
    }
    PyRef text = PyRef::steal(PyObject_Str(original.get()));
    if (!text) {
        return ErrorValue::fetch();
    }
    PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
    if (!message) {
        return ErrorValue::fetch();
    }
    PyRef wrapped = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!wrapped) {
        return ErrorValue::fetch();
    }
    // The wrapper replaces the conversion error rather than chaining to it:
    // it inherits what caused that error, not the error itself.
    PyException_SetCause(wrapped.get(), PyException_GetCause(original.get()));
    return ErrorValue::from_exception(std::move(wrapped));
}

[[gnu::cold]] ErrorValue text_argument_error(PyObject* obj, const char* param) {
    if (!PyUnicode_Check(obj)) {
        return wrap_argument_error(param, conversion_error(obj, "PyString"));
    }
    return wrap_argument_error(param, ErrorValue::fetch());
}

[[gnu::cold]] ErrorValue double_argument_error(const char* param) {
    return wrap_argument_error(param, ErrorValue::fetch());
}

[[gnu::cold]] ErrorValue key_error(const core::RegistryError& error) {
    return ErrorValue::with_message(PyExc_KeyError, error.message());
}

namespace {

// Whether every byte of `text` is below 0x80, read a word at a time wherever
// the bytes sit.
bool is_ascii(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::uint64_t bits = 0;
    if (n < 8) {
        bits = core::load_little_endian_partial(p, n);
    } else {
        for (std::size_t i = 0; i + 8 <= n; i += 8) {
            bits |= core::load_little_endian<std::uint64_t>(p + i);
        }
        bits |= core::load_little_endian<std::uint64_t>(p + n - 8);
    }
    return (bits & 0x8080808080808080u) == 0;
}

// An ASCII text of two bytes or more, which every name and text the module
// hands out is, becomes the str the interpreter's UTF-8 decoder would make of
// it (a compact ASCII str of a new object), written here without the
// decoder: the decoder scans and copies a word at a time only from an
// 8-byte-aligned source, and libc++ keeps a short string's bytes at an odd
// address, so each name a listing copied cost it a byte-by-byte scan. Texts
// of one byte or none, and any other text, go to the decoder, which also
// hands out the interpreter's shared strs of one character and of none.
// A new str of maximum character 127 is filled through its documented
// one-byte data view, as the interpreter's own constructors fill theirs.
PyRef make_str(std::string_view text) {
    if (text.size() >= 2 && is_ascii(text)) {
        PyRef str = checked_result(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
        core::copy_bytes(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(str.get())), text.data(), text.size());
        return str;
    }
    return checked_result(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

}  // namespace

PyRef new_str(std::string_view text) { return make_str(text); }

PyRef new_str_list(const std::vector<std::string>& items) {
    PyRef list = checked_result(PyList_New(static_cast<Py_ssize_t>(items.size())));
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), make_str(items[i]).release());
    }
    return list;
}

}  // namespace brenvalis::pyfacade
