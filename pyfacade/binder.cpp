#include "pyfacade/binder.hpp"

#include <optional>
#include <string>
#include <vector>

#include "pyfacade/convert.hpp"

namespace brenvalis::pyfacade {
namespace {

// ---- Error messages: cold, built only when binding fails. ----

[[gnu::cold]] std::string full_name(const CallSignature& sig) {
    std::string name;
    if (sig.owner != nullptr) {
        name.append(sig.owner).push_back('.');
    }
    name.append(sig.function).append("()");
    return name;
}

// Every declared parameter is required, so the count is a single number.
[[gnu::cold, gnu::noinline]] ErrorValue too_many_positional(const CallSignature& sig, Py_ssize_t given) {
    std::string message = full_name(sig);
    message.append(" takes ")
        .append(std::to_string(sig.positional.size()))
        .append(" positional arguments but ")
        .append(std::to_string(given))
        .append(given == 1 ? " was given" : " were given");
    return ErrorValue::with_message(PyExc_TypeError, std::move(message));
}

// The keyword is shown as str() shows it, built as a Python str so that a name
// the UTF-8 codec cannot encode (a lone surrogate) still appears exactly.
[[gnu::cold, gnu::noinline]] ErrorValue keyword_error(const CallSignature& sig, const char* what, PyObject* keyword) {
    const std::string prefix = full_name(sig) + what;
    PyRef message = PyRef::steal(PyUnicode_FromFormat("%s'%S'", prefix.c_str(), keyword));
    if (!message) {
        return ErrorValue::fetch();
    }
    return ErrorValue::with_argument(PyExc_TypeError, std::move(message));
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
[[gnu::cold]] std::string quoted_list(const std::vector<std::string_view>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out.append(names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", "));
        }
        out.append("'").append(names[i]).append("'");
    }
    return out;
}

[[gnu::cold, gnu::noinline]] ErrorValue missing_positional(const CallSignature& sig,
                                                           const std::vector<std::string_view>& names) {
    std::string message = full_name(sig);
    message.append(" missing ")
        .append(std::to_string(names.size()))
        .append(names.size() == 1 ? " required positional argument: " : " required positional arguments: ")
        .append(quoted_list(names));
    return ErrorValue::with_message(PyExc_TypeError, std::move(message));
}

// ---- Binding proper. ----

// UTF-8 bytes of a keyword name; empty when it has none (not encodable, or
// not a str), in which case it can match no declared parameter.
std::optional<std::string_view> keyword_bytes(PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_Check(keyword) ? utf8_view(keyword, &size) : nullptr;
    if (data == nullptr) {
        PyErr_Clear();  // our own probe failed; the keyword is reported as unexpected
        return std::nullopt;
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

class Binder {
public:
    Binder(const CallSignature& sig, std::span<PyObject*> slots) : sig_(sig), slots_(slots) {
        for (PyObject*& slot : slots_) {
            slot = nullptr;
        }
    }

    Outcome<void> positional(PyObject* const* items, Py_ssize_t count) {
        const std::size_t declared = sig_.positional.size();
        const std::size_t n = static_cast<std::size_t>(count);
        for (std::size_t i = 0; i < n && i < declared; ++i) {
            slots_[i] = items[i];
        }
        given_ = n;
        if (n > declared) {
            return std::unexpected(too_many_positional(sig_, count));
        }
        return {};
    }

    // Keywords are examined in the order the caller gave them; the first bad
    // one ends binding.
    Outcome<void> keyword(PyObject* name, PyObject* value) {
        if (const std::optional<std::string_view> bytes = keyword_bytes(name)) {
            for (std::size_t i = 0; i < sig_.positional.size(); ++i) {
                if (sig_.positional[i] == *bytes) {
                    if (slots_[i] != nullptr) {
                        return std::unexpected(keyword_error(sig_, " got multiple values for argument ", name));
                    }
                    slots_[i] = value;
                    return {};
                }
            }
        }
        return std::unexpected(keyword_error(sig_, " got an unexpected keyword argument ", name));
    }

    Outcome<void> finish() const {
        if (given_ >= sig_.required) {
            return {};
        }
        std::vector<std::string_view> absent;
        for (std::size_t i = given_; i < sig_.required; ++i) {
            if (slots_[i] == nullptr) {
                absent.push_back(sig_.positional[i]);
            }
        }
        if (!absent.empty()) {
            return std::unexpected(missing_positional(sig_, absent));
        }
        return {};
    }

private:
    const CallSignature& sig_;
    std::span<PyObject*> slots_;
    std::size_t given_ = 0;
};

}  // namespace

Outcome<void> bind_fastcall_matching(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames, PyObject** slots) {
    Binder binder(signature, std::span(slots, signature.slot_count()));
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (Outcome<void> r = binder.positional(args, nargs); !r) {
        return r;
    }
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < nkw; ++i) {
            if (Outcome<void> r = binder.keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i]); !r) {
                return r;
            }
        }
    }
    return binder.finish();
}

Outcome<void> bind_tuple_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> slots) {
    Binder binder(signature, slots);
    if (Outcome<void> r = binder.positional(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args)); !r) {
        return r;
    }
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (Outcome<void> r = binder.keyword(key, value); !r) {
                return r;
            }
        }
    }
    return binder.finish();
}

}  // namespace brenvalis::pyfacade
